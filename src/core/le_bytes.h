#pragma once

#include <cstdint>
#include <cstring>
#include <span>
#include <string_view>

namespace kvl {

// Bounds-checked little-endian access to on-disk bytes. Every structure read from a source goes
// through here: a field that lies wholly or partly outside the bytes reads as 0, so damaged or
// hostile data can never make a read leave its buffer. Callers that must tell "absent" from "zero"
// ask `fits` first.
class le_bytes {
  public:
    le_bytes() = default;
    le_bytes(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}
    le_bytes(std::span<const uint8_t> bytes) : data_(bytes.data()), size_(bytes.size()) {}

    const uint8_t* data() const { return data_; }
    size_t size() const { return size_; }
    bool empty() const { return size_ == 0; }

    bool fits(uint64_t offset, uint64_t length) const { return offset <= size_ && length <= size_ - offset; }

    uint64_t unsigned_n(uint64_t offset, unsigned width) const {
        if (width > 8 || !fits(offset, width)) return 0;
        uint64_t v = 0;
        for (unsigned i = 0; i < width; ++i) v |= static_cast<uint64_t>(data_[offset + i]) << (8 * i);
        return v;
    }
    // Sign-extends from the top byte of the field.
    int64_t signed_n(uint64_t offset, unsigned width) const {
        if (width == 0 || width > 8 || !fits(offset, width)) return 0;
        const uint64_t v = unsigned_n(offset, width);
        if (width == 8) return static_cast<int64_t>(v);
        const uint64_t sign = uint64_t{1} << (8 * width - 1);
        return static_cast<int64_t>((v ^ sign) - sign);
    }

    uint8_t u8(uint64_t offset) const { return static_cast<uint8_t>(unsigned_n(offset, 1)); }
    uint16_t u16(uint64_t offset) const { return static_cast<uint16_t>(unsigned_n(offset, 2)); }
    uint32_t u32(uint64_t offset) const { return static_cast<uint32_t>(unsigned_n(offset, 4)); }
    uint64_t u64(uint64_t offset) const { return unsigned_n(offset, 8); }
    int8_t i8(uint64_t offset) const { return static_cast<int8_t>(signed_n(offset, 1)); }
    int32_t i32(uint64_t offset) const { return static_cast<int32_t>(signed_n(offset, 4)); }
    int64_t i64(uint64_t offset) const { return signed_n(offset, 8); }

    // The bytes [offset, offset + length), or an empty view when they do not all lie inside.
    le_bytes sub(uint64_t offset, uint64_t length) const {
        if (!fits(offset, length)) return {};
        return le_bytes(data_ + offset, static_cast<size_t>(length));
    }
    // True when the bytes at offset are exactly `expected`.
    bool equals(uint64_t offset, std::string_view expected) const {
        return fits(offset, expected.size()) &&
               std::memcmp(data_ + offset, expected.data(), expected.size()) == 0;
    }

  private:
    const uint8_t* data_ = nullptr;
    size_t size_ = 0;
};

// Bounds-checked little-endian store into a buffer the program owns; false when it does not fit.
inline bool store_u16(std::span<uint8_t> bytes, uint64_t offset, uint16_t value) {
    if (offset > bytes.size() || bytes.size() - offset < 2) return false;
    bytes[offset] = static_cast<uint8_t>(value & 0xFF);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    return true;
}

}  // namespace kvl
