#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "core/base.h"
#include "platform/image_output.h"
#include "storage/rescue_map.h"

namespace kvl {

class disk_storage;

// Copies a source into an image file the way a failing disk has to be copied: a first pass reads
// quickly and jumps ahead of bad areas (further the longer they go on), a second reads what was
// jumped over, then the failed blocks are trimmed from both ends and scraped sector by sector,
// and the sectors that still fail are tried again as often as the storage's setting says. What
// stays unreadable is zeros in the image. A map beside the image (OUT + ".map", in GNU ddrescue's
// format) is kept current, so that a cut copy can be resumed, by this program or by ddrescue.
class image_copy : public base {
  public:
    image_copy(disk_storage& source, const std::string& output_path);

    // False when the output is refused or cannot be written; a copy that was cancelled or left bad
    // sectors still answers true (the summary tells).
    bool run(platform::output_mode mode);

    const std::string& map_path() const { return map_path_; }
    const rescue_map& map() const { return map_; }

    // Bytes copied, found bad and not yet tried, once the copy has ended.
    int64_t read_bytes = 0;
    int64_t bad_bytes = 0;
    int64_t left_bytes = 0;
    int32_t block_size = 1024 * 1024;

  private:
    bool output_allowed(platform::output_mode mode, bool output_existed);
    bool open_output(platform::output_mode mode);
    bool load_map(platform::output_mode mode, bool output_existed);
    bool output_holds(const rescue_map& loaded, bool output_existed);
    bool prepare_output();
    bool start_phase(std::u16string_view title, area_status status);
    bool copy_pass(bool skipping);
    bool trim_pass();
    bool scrape_pass(area_status status);
    // Reads one piece into the image: 1 copied, 0 unreadable (marked `failed`), -1 writing failed.
    int copy_piece(int64_t position, int64_t length, area_status failed);
    bool stopped() const;
    // Writes the map when `now`, or when its interval has passed.
    void save_map(bool now, bool after_error = false);
    void finish();

    disk_storage& source_;
    std::string path_;
    std::string map_path_;
    platform::os_file output_;
    rescue_map map_;
    std::vector<uint8_t> buffer_;
    int64_t size_ = 0;
    int64_t sector_ = 512;
    uint64_t map_saved_ms_ = 0;
    bool write_failed_ = false;
};

}  // namespace kvl
