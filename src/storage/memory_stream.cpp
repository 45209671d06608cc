#include "storage/memory_stream.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>

namespace kvl {

namespace {
constexpr int32_t max_length = std::numeric_limits<int32_t>::max();
}

memory_stream::memory_stream(int32_t capacity) {
    // Doubling from 0 never grows, so the buffer starts at one byte at least.
    if (!reallocate(std::max(capacity, 1)))
        report_error("memory_stream::memory_stream", u"Allocation failed.");
}

bool memory_stream::reallocate(int32_t new_capacity) {
    std::unique_ptr<uint8_t[]> fresh(new (std::nothrow) uint8_t[static_cast<size_t>(new_capacity)]());
    if (!fresh) return false;
    const int32_t keep = std::min(length_, new_capacity);
    if (keep > 0) std::memcpy(fresh.get(), data_.get(), static_cast<size_t>(keep));
    data_ = std::move(fresh);
    capacity_ = new_capacity;
    length_ = std::min(length_, capacity_);
    position_ = std::min(position_, capacity_);
    return true;
}

bool memory_stream::reserve(int32_t n) {
    if (capacity_ >= n) return true;
    int64_t grown = std::max(capacity_, 1);
    while (grown < n) grown *= 2;
    if (!reallocate(static_cast<int32_t>(std::min<int64_t>(grown, max_length)))) {
        report_error("memory_stream::reserve", u"Allocation failed.");
        return false;
    }
    return true;
}

bool memory_stream::set_length(int32_t n) {
    if (n < 0 || !reserve(n)) return false;
    length_ = n;
    position_ = std::min(position_, n);
    return true;
}

bool memory_stream::flush() {
    return set_length(0);
}

bool memory_stream::seek(int64_t offset, int32_t mode) {
    const int64_t target = mode == seek_from_start ? offset : position_ + offset;
    if (target < 0 || target > length_) {
        report_error("memory_stream::seek", u"Seek has jumped outside the stream");
        return false;
    }
    position_ = static_cast<int32_t>(target);
    return true;
}

bool memory_stream::read(uint8_t* data, int32_t size) {
    const int32_t count = std::clamp(size, 0, length_ - position_);
    if (count > 0) std::memcpy(data, data_.get() + position_, static_cast<size_t>(count));
    position_ += count;
    return count != 0;
}

bool memory_stream::write(const uint8_t* data, int32_t size) {
    if (size <= 0) return false;
    if (size > max_length - position_) {
        report_error("memory_stream::write", u"The stream cannot hold more than 2 GiB");
        return false;
    }
    if (!reserve(position_ + size)) return false;
    std::memcpy(data_.get() + position_, data, static_cast<size_t>(size));
    position_ += size;
    length_ = std::max(length_, position_);
    return true;
}

}  // namespace kvl
