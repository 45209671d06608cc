#pragma once

#include <cstdint>

#include "core/base.h"
#include "ntfs/ntfs_attributes.h"
#include "ntfs/ntfs_record.h"
#include "ntfs/ntfs_tree.h"
#include "ntfs/record_cache.h"
#include "storage/data_chunks.h"
#include "storage/disk_storage.h"

namespace kvl {

// An NTFS volume over an open storage: its geometry, MFT record 0 and the extents of the MFT.
class disk_storage_ntfs : public base {
  public:
    bool assign_storage(disk_storage& volume);
    bool open_record_(int32_t index, ntfs_record& record);

    disk_storage* storage = nullptr;
    int32_t cluster_size = 0;
    int32_t record_size = 0;
    ntfs_record mft_record;
    ntfs_attributes mft_attributes;
    data_chunks mft_chunks;
    int64_t record_count = 0;
    ntfs_tree* tree = nullptr;
    record_cache cache;

  private:
    bool read_mirror_record(int32_t index, ntfs_record& record);
};

}  // namespace kvl
