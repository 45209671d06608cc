#pragma once

#include <string>

#include "core/le_bytes.h"

#include "scan/scanner.h"
#include "storage/disk_storage.h"

namespace kvl {

// Kinds of file system a partition search reports (not the FILE_SYSTEM_* ids).
inline constexpr int32_t FOUND_NTFS = 0;
inline constexpr int32_t FOUND_FAT12 = 1;
inline constexpr int32_t FOUND_FAT16 = 2;
inline constexpr int32_t FOUND_FAT32 = 3;

// Looks at every sector of a disk for the boot sector of an NTFS or FAT volume. An NTFS candidate
// counts only when its MFT's first record is where the boot sector says.
class partition_scan : public scanner {
  public:
    partition_scan() : scanner(SCANNER_PARTITION_SCAN) {}
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;

    // The disk being searched; NTFS candidates are checked through a second storage on its source.
    disk_storage* disk = nullptr;

  private:
    bool check_ntfs(const le_bytes& record, int64_t disk_offset);
};

// The start of the search from the dialog's text: the percentage x 100 (0 to 9999), or -1 when the
// text is not a number from 0 to below 100. A comma and a point both separate the decimals.
int32_t partition_scan_start(const std::u16string& text);

}  // namespace kvl
