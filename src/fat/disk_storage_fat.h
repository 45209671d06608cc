#pragma once

#include <boost/function.hpp>
#include <cstdint>

#include "core/base.h"
#include "core/le_bytes.h"
#include "core/memory_block.h"
#include "storage/data_chunks.h"
#include "storage/disk_storage.h"

namespace kvl {

// How the clusters after the first are chosen when the FAT cannot be trusted (deleted files).
inline constexpr int32_t FAT_RECOVER_ALGORITHM_AUTO = 0;
inline constexpr int32_t FAT_RECOVER_ALGORITHM_NOT_USE_FAT = 1;
inline constexpr int32_t FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION = 2;
inline constexpr int32_t FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN = 3;

inline constexpr uint32_t NO_CLUSTER_LIMIT = 0xFFFFFFFF;

// A FAT12/16/32 volume over an open storage: its geometry from the boot sector and its first FAT
// in memory. It never writes to the storage.
class disk_storage_fat : public base {
  public:
    using cluster_check = boost::function<bool(const uint8_t* cluster, int32_t size)>;

    // False for a storage that is not FAT, or whose boot sector gives no usable geometry.
    bool assign_storage(disk_storage& volume);
    bool load_fat(int32_t sectors_per_read);

    // The FAT entry of a cluster; -1 above the highest cluster or beyond the loaded table.
    int32_t get_fat_entry(uint32_t cluster) const;
    int64_t cluster_to_offset(int64_t cluster) const;
    int64_t offset_to_cluster(int64_t offset) const;
    int32_t offset_in_cluster(int64_t offset) const;
    int32_t cluster_size() const { return bytes_per_sector_ * sectors_per_cluster_; }
    int64_t highest_cluster() const { return highest_cluster_; }
    // The number of entries the loaded table holds.
    int64_t fat_entry_count() const;

    // The extents of the data starting at a cluster (see FAT_RECOVER_ALGORITHM_*); item_size 0 means
    // unknown, limit NO_CLUSTER_LIMIT none. Every walk ends within the volume's number of clusters.
    bool get_item_chunks(uint32_t start, data_chunks& out, int64_t item_size, uint32_t limit,
                         int32_t algorithm, const cluster_check& check);

    // The root directory of FAT12/16: its fixed region.
    int64_t root_region_offset() const;
    int64_t root_region_length() const;
    uint32_t root_cluster() const { return boot_.u32(44); }

    disk_storage* storage = nullptr;

  private:
    uint32_t next_cluster(uint32_t cluster, int32_t algorithm, bool& end) const;
    void merge_extents(data_chunks& out);
    // A chain that loops (or meets itself) would repeat clusters: the extents end before the first repeat.
    void cut_at_repeat(data_chunks& out, uint32_t start);
    bool is_end_mark(int32_t entry) const;
    void mend_from_copies(int64_t first, int64_t table_bytes);

    le_bytes boot_;
    memory_block table_;
    int32_t bytes_per_sector_ = 0;
    int32_t sectors_per_cluster_ = 0;
    int64_t first_data_sector_ = 0;
    int64_t highest_cluster_ = -1;
};

}  // namespace kvl
