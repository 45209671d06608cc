#pragma once

#include <cstdint>
#include <string>

#include "platform/local_time.h"

// The texts the file list and the information window show for sizes, times and attribute words.
namespace kvl {

// Whole kilobytes with blanks before the last three and the last six digits: "1 024 KB".
std::u16string format_size_kb(int64_t bytes);

// A Windows file time (100 ns units since 1601-01-01 UTC) as local date and time, or "00.00.000?"
// when the moment cannot be converted.
std::u16string format_file_time(uint64_t file_time);

// "dd.mm.yyyy hh:mm:ss", the time left out at exactly midnight. The list's date sorting reads this
// form back with parse_date_time.
std::u16string format_date_time(const platform::calendar_time& time);
bool parse_date_time(std::u16string_view text, platform::calendar_time& time);

inline constexpr char16_t refused_time_text[] = u"00.00.000?";

// The names of the set attribute bits, each followed by a blank.
std::u16string attribute_flags_text(uint32_t flags);

}  // namespace kvl
