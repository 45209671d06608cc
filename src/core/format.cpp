#include "core/format.h"

#include <cstdio>
#include <limits>

#include "core/text.h"

namespace kvl {

std::u16string format_size_kb(int64_t bytes) {
    if (bytes < 1024) return bytes == 0 ? u"0 KB" : u"1 KB";
    std::u16string digits = decimal(bytes / 1024);
    const size_t length = digits.size();
    if (length < 4) return digits + u" KB";
    if (length > 6) digits.insert(length - 6, 1, u' ');
    digits.insert(digits.size() - 3, 1, u' ');
    return digits + u" KB";
}

namespace {

constexpr uint64_t ticks_per_second = 10'000'000;
constexpr int64_t seconds_1601_to_1970 = 11'644'473'600;

std::u16string two_digits(int value) {
    char text[16];
    std::snprintf(text, sizeof text, "%02d", value);
    return widen(text);
}

}  // namespace

std::u16string format_file_time(uint64_t file_time) {
    // File times beyond the signed range are refused, as the system's own conversion refuses them.
    if (file_time > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) return refused_time_text;
    const int64_t seconds = static_cast<int64_t>(file_time / ticks_per_second) - seconds_1601_to_1970;
    const int millisecond = static_cast<int>((file_time % ticks_per_second) / 10'000);
    platform::calendar_time local{};
    if (!platform::to_local_calendar(seconds, millisecond, local)) return refused_time_text;
    return format_date_time(local);
}

std::u16string format_date_time(const platform::calendar_time& t) {
    std::u16string text = two_digits(t.day) + u"." + two_digits(t.month) + u"." + decimal(t.year);
    if (t.hour != 0 || t.minute != 0 || t.second != 0 || t.millisecond != 0)
        text += u" " + two_digits(t.hour) + u":" + two_digits(t.minute) + u":" + two_digits(t.second);
    return text;
}

bool parse_date_time(std::u16string_view text, platform::calendar_time& t) {
    const std::string narrow = utf16_to_utf8(text);
    t = {};
    int consumed = 0;
    const int fields = std::sscanf(narrow.c_str(), "%2d.%2d.%d%n %2d:%2d:%2d%n", &t.day, &t.month, &t.year,
                                   &consumed, &t.hour, &t.minute, &t.second, &consumed);
    const bool whole = static_cast<size_t>(consumed) == narrow.size();
    if (fields == 3 && whole) {
        t.hour = t.minute = t.second = 0;
        return t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31;
    }
    return fields == 6 && whole && t.month >= 1 && t.month <= 12 && t.day >= 1 && t.day <= 31;
}

std::u16string attribute_flags_text(uint32_t flags) {
    static constexpr struct {
        uint32_t mask;
        const char16_t* name;
    } names[] = {
        {0x1, u"ATTR_READONLY "},
        {0x2, u"ATTR_HIDDEN "},
        {0x4, u"ATTR_SYSTEM "},
        {0x10, u"ATTR_DIRECTORY "},
        {0x20, u"ATTR_ARCHIVE "},
        {0x40, u"ATTR_DEVICE "},
        {0x80, u"ATTR_NORMAL "},
        {0x100, u"ATTR_TEMPORARY "},
        {0x200, u"ATTR_SPARSE_FILE "},
        {0x400, u"ATTR_REPARSE_POINT "},
        {0x800, u"ATTR_COMPRESSED "},
        {0x1000, u"ATTR_OFFLINE "},
        {0x2000, u"ATTR_NOT_CONTENT_INDEXED "},
        {0x10000000, u"ATTR_I30_INDEX_PRESENT "},
    };
    std::u16string text;
    for (const auto& entry : names)
        if (flags & entry.mask) text += entry.name;
    return text;
}

}  // namespace kvl
