#include "ntfs/record_cache.h"

#include <algorithm>

#include "ntfs/ntfs_record.h"

namespace kvl {

bool record_cache::init(const disk_storage& volume_storage, const data_chunks* mft, int32_t count) {
    if (storage_.is_open()) storage_.close();
    storage_.sector_retries = volume_storage.sector_retries;
    if (!storage_.open(volume_storage.source)) return false;
    mft_ = mft;
    record_size_ = mft_record_size(storage_);
    slots_.clear();  // records of an earlier build or volume must not answer for this one
    for (int32_t i = 0; i < count; ++i) {
        auto slot = std::make_unique<cache_item>();
        slot->data.resize(record_size_, 1);
        slots_.push_back(std::move(slot));
    }
    uncached_.data.resize(record_size_, 1);
    return true;
}

bool record_cache::fill(cache_item& slot, int64_t index) {
    slot.index = -1;
    slot.hits = 0;
    if (!mft_ || record_size_ <= 0 || !storage_.is_open() || index < 0 || index > INT64_MAX / record_size_)
        return false;
    if (!stream::read_(storage_, index * record_size_, slot.data, *mft_)) return false;
    slot.index = index;
    slot.hits = 1;
    apply_fixups(slot.data.bytes());
    return true;
}

const uint8_t* record_cache::get(int64_t index) {
    for (auto& slot : slots_) {
        if (slot->index == index) {
            ++slot->hits;
            return slot->data.data();
        }
    }
    if (slots_.empty()) return fill(uncached_, index) ? uncached_.data.data() : nullptr;
    cache_item* victim = slots_.front().get();
    for (auto& slot : slots_)
        if (slot->hits < victim->hits) victim = slot.get();
    return fill(*victim, index) ? victim->data.data() : nullptr;
}

void record_cache::close() {
    if (storage_.is_open()) storage_.close();
}

}  // namespace kvl
