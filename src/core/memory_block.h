#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <string_view>

#include "core/base.h"

namespace kvl {

bool is_aligned(int64_t value, int32_t alignment);
// The next multiple of alignment at or above value.
int32_t align_up(int32_t value, int32_t alignment);

// An owned byte block whose size is a multiple of a given alignment (the sector size when the block
// is read into). New bytes are zero, so nothing uninitialised ever reaches a caller.
class memory_block : public base {
  public:
    memory_block() = default;
    memory_block(const memory_block&) = delete;
    memory_block& operator=(const memory_block&) = delete;
    memory_block(memory_block&&) = default;
    memory_block& operator=(memory_block&&) = default;

    // A misaligned or negative size is reported and leaves the block as it was.
    void resize(int32_t size, int32_t alignment);
    void destroy();

    // Fills the block from hexadecimal text ("0x" prefix optional, first pair first) and answers
    // how many bytes were converted; the bytes after a non-digit stay zero.
    int32_t from_hex(std::u16string_view text);

    uint8_t* data() { return data_.get(); }
    const uint8_t* data() const { return data_.get(); }
    int32_t size() const { return size_; }
    std::span<uint8_t> bytes() { return {data_.get(), static_cast<size_t>(size_)}; }
    std::span<const uint8_t> bytes() const { return {data_.get(), static_cast<size_t>(size_)}; }

  private:
    std::unique_ptr<uint8_t[]> data_;
    int32_t size_ = 0;
};

// Splits a 64-bit length into numbered pieces of one size, the last one shorter.
class buffer : public base {
  public:
    buffer(int64_t total, int32_t piece);

    int32_t count() const;
    int32_t operator[](int32_t index) const;

  private:
    int32_t piece_;
    int32_t full_pieces_ = 0;
    int32_t remainder_ = 0;
};

}  // namespace kvl
