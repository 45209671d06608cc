#pragma once

#include <cstdint>
#include <span>
#include <string>

namespace kvl::test {

// The SHA-256 digest of bytes as 64 lower-case hexadecimal digits.
std::string sha256_hex(std::span<const uint8_t> bytes);

}  // namespace kvl::test
