#pragma once

#include <memory>
#include <span>

#include "storage/stream.h"

namespace kvl {

// A stream over a growable buffer in memory (directory contents, attribute lists, preview data).
// Its alignment is 1. It holds at most 2^31 - 1 bytes; a write that would pass that is refused.
class memory_stream : public stream {
  public:
    explicit memory_stream(int32_t capacity = 1);

    bool flush() override;
    int64_t get_pos() override { return position_; }
    bool seek(int64_t offset, int32_t mode) override;
    bool read(uint8_t* data, int32_t size) override;
    bool write(const uint8_t* data, int32_t size) override;
    int64_t size() override { return length_; }

    bool set_length(int32_t n);
    bool reserve(int32_t n);

    int32_t capacity() const { return capacity_; }
    std::span<const uint8_t> bytes() const { return {data_.get(), static_cast<size_t>(length_)}; }

  private:
    bool reallocate(int32_t new_capacity);

    std::unique_ptr<uint8_t[]> data_;
    int32_t capacity_ = 0;
    int32_t length_ = 0;
    int32_t position_ = 0;
};

}  // namespace kvl
