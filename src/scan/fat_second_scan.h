#pragma once

#include "fat/disk_storage_fat.h"
#include "scan/scanner.h"

namespace kvl {

// Looks in free clusters for sector-aligned records that start like a directory's "." entry.
class fat_second_scan : public scanner {
  public:
    fat_second_scan() : scanner(SCANNER_FAT_SECOND_SCAN) {}
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;
};

// Hands every free cluster of the volume to the handler, one cluster at a time in cluster order,
// reading runs of free clusters with large reads.
bool scan_free_clusters(disk_storage_fat& volume, const block_handler& handler);

}  // namespace kvl
