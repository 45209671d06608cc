#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// The 8-bit code page of short FAT names and of regular-expression signatures: Windows-1252.
namespace kvl::platform {

// Stops at the first 0x00 byte. Bytes the code page leaves undefined map to U+0080..U+009F as the
// system's own conversion maps them.
std::u16string ansi_to_utf16(std::span<const uint8_t> bytes);

// Characters the code page cannot hold become '?'.
std::string utf16_to_ansi(std::u16string_view text);

}  // namespace kvl::platform
