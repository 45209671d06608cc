#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// All user-visible text is UTF-16; these helpers convert at the edges and build texts from numbers.
namespace kvl {

// Widens 8-bit text character by character (report origins, ASCII literals).
std::u16string widen(std::string_view text);

std::u16string utf8_to_utf16(std::string_view text);
std::string utf16_to_utf8(std::u16string_view text);

// UTF-16LE bytes to text and back; a trailing odd byte is ignored.
std::u16string utf16le_decode(std::span<const uint8_t> bytes);
void utf16le_append(std::u16string_view text, std::string& out);

std::u16string decimal(int64_t value);

// White space as the C locale's space class knows it: blank, tab, LF, VT, FF, CR.
bool is_white(char16_t c);
std::u16string trim_white(std::u16string_view text);
// Removes the characters of code 32 and below from both ends.
std::u16string trim_control(std::u16string_view text);

// Upper-cases ASCII letters a-z only; other units stay as they are.
std::u16string ascii_upper(std::u16string_view text);

}  // namespace kvl
