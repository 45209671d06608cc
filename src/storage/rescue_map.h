#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Which areas of a source an image copy holds, which were found bad and which are still to be read,
// in GNU ddrescue's map file format, so that either program can resume the other's copy.
namespace kvl {

// The status of an area, as the map file writes it.
enum class area_status : char {
    non_tried = '?',
    non_trimmed = '*',
    non_scraped = '/',
    bad_sector = '-',
    finished = '+',
};

struct map_area {
    int64_t position = 0;
    int64_t size = 0;
    area_status status = area_status::non_tried;
    bool operator==(const map_area&) const = default;
};

class rescue_map {
  public:
    // A map of `size` bytes, all of them non-tried.
    void reset(int64_t size);
    // Takes a map file's text (comments, the status line, then one line per area in order without
    // gaps or overlaps). False, with `error` naming the line and the fault, for anything else; the
    // map is then left as it was.
    bool parse(std::string_view text, std::u16string& error);
    // The map file's text: comment lines (the command line among them), the status line, the areas.
    std::string text(std::string_view command_line) const;

    // Gives [position, position + size) a status; the part outside the map is ignored, and
    // neighbouring areas of one status are joined.
    void mark(int64_t position, int64_t size, area_status status);
    // Makes the map cover exactly `size` bytes: areas past it are cut, and what a shorter map did not
    // cover is non-tried.
    void fit(int64_t size);
    // The first area with this status that ends after `from` (cut to begin at `from`), if any.
    std::optional<map_area> find(int64_t from, area_status status) const;
    // The areas in order; they cover [0, size()) without gaps.
    std::vector<map_area> areas() const;
    // How many bytes have this status.
    int64_t bytes_with(area_status status) const;
    int64_t size() const { return size_; }

    // Where the copy stands: the position, the phase ('?' copying, '*' trimming, '/' scraping,
    // '-' retrying, '+' finished; 'F' and 'G' are read from other tools' maps) and the pass.
    int64_t current_position = 0;
    char current_status = '?';
    int32_t current_pass = 1;

  private:
    struct span_end {
        int64_t end;
        area_status status;
    };
    std::map<int64_t, span_end> areas_;  // by first byte
    int64_t size_ = 0;
};

}  // namespace kvl
