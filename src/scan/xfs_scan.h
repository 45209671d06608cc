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

// The low-level search: every sector-aligned record against the signatures of the chosen formats.
class xfs_scan : public scanner {
public:
    xfs_scan() : scanner(SCANNER_XFS_SCAN) {}

    // Asks which file types to look for; false when the dialog is closed without Scan.
    bool prepare() override;
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;

    xfs_nodes definitions;
    icon_cache* icons = nullptr;
    platform::file_type_dialog* dialog = nullptr;
    int64_t expected_size = 0;
    bool scan_chosen = false;
};

}  // namespace kvl
