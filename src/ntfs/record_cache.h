#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "core/memory_block.h"
#include "storage/data_chunks.h"
#include "storage/disk_storage.h"

namespace kvl {

// MFT records kept by use count (least frequently used goes first), read through a storage of its
// own on the same source, for the upward walks of the deleted-only tree build.
class record_cache {
  public:
    struct cache_item {
        int64_t index = -1;
        memory_block data;
        uint32_t hits = 0;
    };

    bool init(const disk_storage& volume_storage, const data_chunks* mft, int32_t count);
    // The record's bytes with fixups applied (the signature is not checked), or null.
    const uint8_t* get(int64_t index);
    void close();

    int32_t record_size() const { return record_size_; }
    const std::vector<std::unique_ptr<cache_item>>& slots() const { return slots_; }

  private:
    bool fill(cache_item& slot, int64_t index);

    std::vector<std::unique_ptr<cache_item>> slots_;
    disk_storage storage_;
    const data_chunks* mft_ = nullptr;
    int32_t record_size_ = 0;
    // With no slots every record is read into this one.
    cache_item uncached_;
};

}  // namespace kvl
