#include "core/format.h"

#include <gtest/gtest.h>

#include "core/progressbar.h"

namespace kvl {
namespace {

TEST(FormatSizeKb, WholeKilobytesWithBlanksBeforeTheLastThreeAndSixDigits) {
    const struct {
        int64_t bytes;
        const char16_t* text;
    } cases[] = {
        {0, u"0 KB"},
        {1, u"1 KB"},
        {1023, u"1 KB"},
        {-5, u"1 KB"},
        {1024, u"1 KB"},
        {2047, u"1 KB"},
        {999 * 1024, u"999 KB"},
        {1000 * 1024, u"1 000 KB"},
        {1048576, u"1 024 KB"},
        {999999 * int64_t{1024}, u"999 999 KB"},
        {1000000 * int64_t{1024}, u"1 000 000 KB"},
        {1'000'000'000'000, u"976 562 500 KB"},
        {10'000'000'000'000, u"9765 625 000 KB"},
    };
    for (const auto& c : cases) EXPECT_EQ(format_size_kb(c.bytes), c.text) << c.bytes;
}

// 100 ns ticks since 1601 for a UTC moment.
uint64_t file_time(int64_t unix_seconds, int64_t extra_ticks = 0) {
    return static_cast<uint64_t>((unix_seconds + 11'644'473'600) * 10'000'000 + extra_ticks);
}

// The tests run with TZ set to Central European time.
TEST(FormatFileTime, ConvertsToLocalTimeWithTheDaylightRule) {
    EXPECT_EQ(format_file_time(file_time(1719837296)), u"01.07.2024 14:34:56");  // 12:34:56 UTC, summer
    EXPECT_EQ(format_file_time(file_time(1704112496)), u"01.01.2024 13:34:56");  // 12:34:56 UTC, winter
}

TEST(FormatFileTime, LeavesTheTimeOutOnlyAtExactMidnight) {
    EXPECT_EQ(format_file_time(file_time(1704063600)), u"01.01.2024");                   // 00:00:00 local
    EXPECT_EQ(format_file_time(file_time(1704063600, 10'000)), u"01.01.2024 00:00:00");  // one ms later
}

TEST(FormatFileTime, RefusesTimesTheSystemCannotConvert) {
    EXPECT_EQ(format_file_time(0x8000000000000000ull), u"00.00.000?");
    EXPECT_EQ(format_file_time(~0ull), u"00.00.000?");
}

TEST(FormatDateTime, ParsesBackWhatItWrites) {
    for (const uint64_t t : {file_time(1719837296), file_time(1704063600), file_time(0)}) {
        const std::u16string text = format_file_time(t);
        platform::calendar_time parsed{};
        ASSERT_TRUE(parse_date_time(text, parsed)) << std::string(text.begin(), text.end());
        EXPECT_EQ(format_date_time(parsed), text);
    }
    platform::calendar_time ignored{};
    EXPECT_FALSE(parse_date_time(u"00.00.000?", ignored));
    EXPECT_FALSE(parse_date_time(u"", ignored));
    EXPECT_FALSE(parse_date_time(u"01.13.2024", ignored));
    EXPECT_FALSE(parse_date_time(u"01.01.2024 10:00:00 junk", ignored));
}

TEST(AttributeFlagsText, NamesTheSetBitsInTableOrder) {
    EXPECT_EQ(attribute_flags_text(0x21), u"ATTR_READONLY ATTR_ARCHIVE ");
    EXPECT_EQ(attribute_flags_text(0x8), u"");
    EXPECT_EQ(attribute_flags_text(0xEFFFC008), u"");  // only unnamed bits
    EXPECT_EQ(attribute_flags_text(0x10000800), u"ATTR_COMPRESSED ATTR_I30_INDEX_PRESENT ");
    EXPECT_EQ(attribute_flags_text(0xFFFFFFFF),
              u"ATTR_READONLY ATTR_HIDDEN ATTR_SYSTEM ATTR_DIRECTORY ATTR_ARCHIVE ATTR_DEVICE ATTR_NORMAL "
              u"ATTR_TEMPORARY ATTR_SPARSE_FILE ATTR_REPARSE_POINT ATTR_COMPRESSED ATTR_OFFLINE "
              u"ATTR_NOT_CONTENT_INDEXED ATTR_I30_INDEX_PRESENT ");
}

TEST(FormatDuration, HoursAndMinutesOnly) {
    EXPECT_EQ(format_duration(3'725'000), u"1 h 2 m ");
    EXPECT_EQ(format_duration(125'000), u"2 m ");
    EXPECT_EQ(format_duration(59'000), u"");
    EXPECT_EQ(format_duration(3'630'000), u"1 h ");
    EXPECT_EQ(format_duration(0), u"");
}

}  // namespace
}  // namespace kvl
