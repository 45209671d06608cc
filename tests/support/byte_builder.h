#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kvl::test {

// Little-endian bytes for building on-disk structures in tests.
inline void put(std::vector<uint8_t>& bytes, size_t offset, uint64_t value, int width) {
    if (bytes.size() < offset + static_cast<size_t>(width)) bytes.resize(offset + static_cast<size_t>(width));
    for (int i = 0; i < width; ++i)
        bytes[offset + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

inline void put_text(std::vector<uint8_t>& bytes, size_t offset, const std::string& text) {
    if (bytes.size() < offset + text.size()) bytes.resize(offset + text.size());
    for (size_t i = 0; i < text.size(); ++i) bytes[offset + i] = static_cast<uint8_t>(text[i]);
}

// A non-resident attribute header (64 bytes) followed by its mapping pairs.
inline std::vector<uint8_t> nonresident_attribute(uint32_t type, int64_t lowest, int64_t highest,
                                                  const std::vector<uint8_t>& pairs,
                                                  uint8_t compression_unit = 0, uint16_t flags = 0,
                                                  int64_t data_size = 0) {
    std::vector<uint8_t> a;
    a.reserve(64 + pairs.size() + 8);
    a.resize(64);
    put(a, 0, type, 4);
    put(a, 8, 1, 1);
    put(a, 12, flags, 2);
    put(a, 16, static_cast<uint64_t>(lowest), 8);
    put(a, 24, static_cast<uint64_t>(highest), 8);
    put(a, 32, 64, 2);
    put(a, 34, compression_unit, 1);
    put(a, 48, static_cast<uint64_t>(data_size), 8);
    put(a, 56, static_cast<uint64_t>(data_size), 8);
    for (uint8_t b : pairs) a.push_back(b);
    while (a.size() % 8) a.push_back(0);
    put(a, 4, a.size(), 4);
    return a;
}

}  // namespace kvl::test
