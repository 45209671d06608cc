#include "core/text.h"

#include <gtest/gtest.h>

#include "platform/code_page.h"

namespace kvl {
namespace {

TEST(Text, Utf8RoundTripKeepsEveryScript) {
    const std::string samples[] = {"plain", "Über Straße", "Привет", "日本語", "emoji \xF0\x9F\x98\x80 end",
                                   ""};
    for (const std::string& s : samples) EXPECT_EQ(utf16_to_utf8(utf8_to_utf16(s)), s);
    EXPECT_EQ(utf8_to_utf16("\xF0\x9F\x98\x80"), u"\U0001F600");
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
    EXPECT_EQ(utf8_to_utf16("a\xFF"
                            "b"),
              u"a\uFFFDb");
    EXPECT_EQ(utf8_to_utf16("\xE6\x97"), u"\uFFFD\uFFFD");            // cut short
    EXPECT_EQ(utf8_to_utf16("\xC0\xAF"), u"\uFFFD\uFFFD");            // overlong slash
    EXPECT_EQ(utf8_to_utf16("\xED\xA0\x80"), u"\uFFFD\uFFFD\uFFFD");  // encoded surrogate
    EXPECT_EQ(utf16_to_utf8(std::u16string(1, u'\xD800') + u"x"), "\xEF\xBF\xBDx");
}

TEST(Text, Utf16LittleEndianBytes) {
    const uint8_t bytes[] = {0xFF, 0xFE, 'a', 0, 0x3A, 0x04, 0x41};
    EXPECT_EQ(utf16le_decode(bytes), u"\uFEFFa\u043A");
    std::string out;
    utf16le_append(u"a\u043A", out);
    EXPECT_EQ(out, std::string("a\0\x3A\x04", 4));
}

TEST(Text, TrimAndUpperCase) {
    EXPECT_EQ(trim_white(u" \t a b \r\n\v\f"), u"a b");
    EXPECT_EQ(trim_control(u"\x01 x \x1F"), u"x");
    EXPECT_EQ(ascii_upper(u".txt\u00e5"), u".TXT\u00e5");
}

TEST(CodePage, Windows1252BothWays) {
    const uint8_t deleted_name[] = {0xE5, 'E', 'A', 'D', 'M', 'E', 0x80, 0x81, 0x00, 'X'};
    EXPECT_EQ(platform::ansi_to_utf16(deleted_name), u"\u00e5EADME\u20ac\u0081");
    EXPECT_EQ(platform::utf16_to_ansi(u"\u00e5\u20ac\u0081PK"), "\xE5\x80\x81PK");
    EXPECT_EQ(platform::utf16_to_ansi(u"\u65e5\U0001F600"), "???");
}

}  // namespace
}  // namespace kvl
