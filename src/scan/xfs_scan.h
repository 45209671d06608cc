#pragma once

#include <string>

#include "items/file_types.h"
#include "platform/search_dialogs.h"
#include "scan/scanner.h"
#include "scan/xfs_nodes.h"

namespace kvl {

// The formats the file-type dialog checks at first.
inline constexpr char16_t default_format_selection[] =
    u".jpg;.png;.gif;.bmp;.pdf;.zip;.rar;.wav;.avi;.mid;.ogg;.docx;.mp3";

// A signature is tested against at most this many bytes from its record on (the longest shipped
// expression reaches about 4 100): the same bytes whatever the buffer size, so a hit never
// depends on where one read ended and the next began.
inline constexpr int32_t XFS_MATCH_WINDOW = 16384;

// The low-level search: every sector-aligned record against the signatures of the chosen formats.
class xfs_scan : public scanner {
  public:
    xfs_scan() : scanner(SCANNER_XFS_SCAN) {}

    // Asks which file types to look for; false when the dialog is closed without Scan.
    bool prepare() override;
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;
    // Tests the records that were waiting for the bytes after them.
    void finish() override;

    xfs_nodes definitions;
    icon_cache* icons = nullptr;
    platform::file_type_dialog* dialog = nullptr;
    int64_t expected_size = 0;
    bool scan_chosen = false;

  private:
    struct candidate {
        const xfs_node* node;
        int32_t index;
        int32_t offset;
        int first;
    };
    void choose_candidates();
    // Tests the records that begin in data before `limit`; answers the first record left untested
    // because its window reaches past the data (none are left when the data is complete).
    int32_t test_records(int64_t disk_position, const uint8_t* data, int32_t length, int32_t limit,
                         bool complete);

    std::vector<candidate> candidates_;
    // The end of the last block, from its first record left untested on, and where it lies.
    std::vector<uint8_t> carry_;
    int64_t carry_position_ = 0;
};

}  // namespace kvl
