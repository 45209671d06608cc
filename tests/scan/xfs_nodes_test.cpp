#include "scan/xfs_nodes.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>
#include <random>
#include "core/text.h"
#include "platform/code_page.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

std::vector<uint8_t> utf16_file(std::u16string_view text, bool bom) {
    std::string bytes;
    if (bom) utf16le_append(u"\xFEFF", bytes);
    utf16le_append(text, bytes);
    return {bytes.begin(), bytes.end()};
}

std::vector<uint8_t> bytes(std::initializer_list<int> values) {
    std::vector<uint8_t> out;
    for (int v : values) out.push_back(static_cast<uint8_t>(v));
    return out;
}

const char16_t two_formats[] =
    u"JPEG image;.jpg;FFD8FF;0;;;0;;Images\r\n"
    u"\r\n"
    u"ZIP archive;.zip;%PK\\x03\\x04; 4 ;a;b;7;c;Archives;extra;fields;here\n";

TEST(XfsNodes, LoadsWithAndWithoutByteOrderMark) {
    test::test_ui ui;
    test::temp_dir dir;
    test::write_file(dir.file("with.txt"), utf16_file(two_formats, true));
    test::write_file(dir.file("without.txt"), utf16_file(two_formats, false));
    xfs_nodes with, without;
    ASSERT_TRUE(with.load_from_file(dir.u16("with.txt")));
    ASSERT_TRUE(without.load_from_file(dir.u16("without.txt")));
    ASSERT_EQ(with.nodes.size(), 2u);
    ASSERT_EQ(without.nodes.size(), 2u);
    for (size_t i = 0; i < 2; ++i) {
        EXPECT_EQ(with.nodes[i].description, without.nodes[i].description);
        EXPECT_EQ(with.nodes[i].signature_text, without.nodes[i].signature_text);
    }
    const xfs_node& zip = with.nodes[1];
    EXPECT_EQ(zip.extension, u".zip");
    EXPECT_EQ(zip.offset, 4);  // blanks around the digit are trimmed
    EXPECT_EQ(zip.reserved_text_1, u"a");
    EXPECT_EQ(zip.reserved_number, 7);
    EXPECT_EQ(zip.group, u"Archives");  // fields after the ninth are ignored
    EXPECT_TRUE(zip.selected);
    EXPECT_FALSE(zip.is_bytes);
    EXPECT_TRUE(with.nodes[0].is_bytes);
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(XfsNodes, ShortLinesAndBadIntegersAreReportedAndStillListed) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(
        u"Eight;.a;00;0;;;0;\r\nBad offset;.b;00;x4;;;0;;G\r\nBad number;.c;00;0;;;seven;;G");
    ASSERT_EQ(formats.nodes.size(), 3u);
    EXPECT_EQ(ui.log_texts(), (std::vector<std::u16string>{
                                  u"operator xfs_node::==> Cannot decomplie string \"Eight;.a;00;0;;;0;\"",
                                  u"operator xfs_node::==> Cannot decomplie string \"Bad "
                                  u"offset;.b;00;x4;;;0;;G\"Invalid int value \"x4\"",
                                  u"operator xfs_node::==> Cannot decomplie string \"Bad "
                                  u"number;.c;00;0;;;seven;;G\"Invalid int value \"seven\""}));
    const std::vector<uint8_t> zeros(64, 0);
    for (const xfs_node& node : formats.nodes) {
        EXPECT_FALSE(node.selected);
        EXPECT_FALSE(node.matches(zeros.data(), 64));  // a definition that did not parse matches nothing
    }
}

TEST(XfsNodes, ByteSignaturesAtAnOffsetAndTheShortRecordRule) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(
        u"J;.jpg;FFD8FF;0;;;0;;I\r\nJ2;.jp2;0xffd8ff;0;;;0;;I\r\nAt2;.x;4D5A;2;;;0;;I\r\n"
        u"Capital prefix;.y;0XFFD8FF;0;;;0;;I\r\nOne digit;.z;F;0;;;0;;I\r\nStopped;.w;FFzz;0;;;0;;I");
    const auto jpeg = bytes({0xFF, 0xD8, 0xFF, 0xE0});
    EXPECT_TRUE(formats.nodes[0].matches(jpeg.data(), 4));
    EXPECT_TRUE(formats.nodes[1].matches(jpeg.data(), 4));
    EXPECT_TRUE(formats.nodes[0].matches(jpeg.data(), 3));
    EXPECT_FALSE(formats.nodes[0].matches(jpeg.data(), 2));
    const auto mz = bytes({0, 0, 0x4D, 0x5A});
    EXPECT_TRUE(formats.nodes[2].matches(mz.data(), 4));
    EXPECT_FALSE(formats.nodes[2].matches(mz.data(), 3));
    EXPECT_FALSE(formats.nodes[2].matches(jpeg.data(), 4));
    // Signatures whose bytes the text leaves undefined never match.
    const std::vector<uint8_t> zeros(16, 0);
    for (size_t i = 3; i < 6; ++i) {
        EXPECT_FALSE(formats.nodes[i].matches(zeros.data(), 16)) << i;
        EXPECT_FALSE(formats.nodes[i].matches(jpeg.data(), 4)) << i;
    }
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(XfsNodes, RegularExpressionsMatchFromTheOffsetOverRawBytes) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(
        u"Zip;.zip;%PK\\x03\\x04;30;;;0;;A\r\n"
        u"Any byte;.any;%A.B;0;;;0;;A\r\n"
        u"Whole;.whole;%AB$;0;;;0;;A");
    std::vector<uint8_t> data(64, 0x0A);
    data[30] = 'P';
    data[31] = 'K';
    data[32] = 3;
    data[33] = 4;
    EXPECT_TRUE(formats.nodes[0].matches(data.data(), 64));
    EXPECT_TRUE(formats.nodes[0].matches(data.data(), 34));
    EXPECT_FALSE(formats.nodes[0].matches(data.data(), 33));
    EXPECT_FALSE(formats.nodes[0].matches(data.data() + 1, 63));  // the signature must sit at the offset
    for (int middle : {0x00, 0x0A, 0xFF}) {
        const auto record = bytes({'A', middle, 'B', 0x00, 0x0A});
        EXPECT_TRUE(formats.nodes[1].matches(record.data(), 5)) << middle;
    }
    const auto ab = bytes({'A', 'B'});
    const auto abc = bytes({'A', 'B', 'C'});
    EXPECT_TRUE(formats.nodes[2].matches(ab.data(), 2));
    EXPECT_FALSE(formats.nodes[2].matches(abc.data(), 3));  // "$" is the end of the record
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(XfsNodes, InvalidExpressionIsReportedAndMatchesNothing) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(u"Broken;.b;%(ab;0;;;0;;A\r\nGood;.g;6162;0;;;0;;A");
    ASSERT_EQ(formats.nodes.size(), 2u);
    ASSERT_EQ(ui.log.lines.size(), 1u);
    EXPECT_TRUE(
        ui.log.lines[0].text.starts_with(u"xfs_nodes::load_from_file=> Invalid regular expression \"(ab\""));
    const auto ab = bytes({'a', 'b'});
    EXPECT_FALSE(formats.nodes[0].matches(ab.data(), 2));
    EXPECT_TRUE(formats.nodes[1].matches(ab.data(), 2));  // the definitions after it are prepared
}

TEST(XfsNodes, ExpressionThatBacktracksPastTheLimitEndsAsNoMatchReportedOnce) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(u"Slow;.slow;%(a*)*b;0;;;0;;A");
    const std::vector<uint8_t> as(4096, 'a');
    EXPECT_FALSE(formats.nodes[0].matches(as.data(), 4096));
    EXPECT_FALSE(formats.nodes[0].matches(as.data(), 4096));
    EXPECT_EQ(ui.log.lines.size(), 1u);
}

TEST(XfsNodes, SelectReportsEveryUnknownExtension) {
    test::test_ui ui;
    xfs_nodes formats;
    formats.load_from_text(u"J;.jpg;FFD8FF;0;;;0;;I\r\nP;.png;89504E47;0;;;0;;I");
    std::vector<int> chosen = {99};
    formats.select(u".png;;.gif;.jpg;.JPG", chosen);
    EXPECT_EQ(chosen, (std::vector<int>{1, 0}));
    EXPECT_EQ(ui.log_texts(), (std::vector<std::u16string>{u"xfs_nodes::select=> Format .gif not found.",
                                                           u"xfs_nodes::select=> Format .JPG not found."}));
}

TEST(XfsNodes, MissingFileIsReportedAndAReadOnlyFileLoads) {
    test::test_ui ui;
    test::temp_dir dir;
    xfs_nodes formats;
    EXPECT_FALSE(formats.load_from_file(dir.u16("formats.txt")));
    EXPECT_EQ(ui.log_texts(),
              (std::vector<std::u16string>{u"file_stream::open=> No such file or directory",
                                           u"xfs_nodes::load_from_file=> Cannot load file with file "
                                           u"format info (" +
                                               dir.u16("formats.txt") + u")"}));
    test::write_file(dir.file("formats.txt"), utf16_file(two_formats, true));
    ASSERT_EQ(::chmod(dir.file("formats.txt").c_str(), 0444), 0);
    {
        test::unprivileged_files as_a_user;
        EXPECT_TRUE(formats.load_from_file(dir.u16("formats.txt")));
    }
    EXPECT_EQ(formats.nodes.size(), 2u);
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

// The anchored search that matching uses agrees with the whole-record match it stands for
// (offset full stops, the expression, then ".*"), on random records and on near misses.
TEST(XfsNodes, AnchoredSearchAgreesWithTheWholeRecordMatch) {
    test::test_ui ui;
    xfs_nodes formats;
    ASSERT_TRUE(formats.load_from_file(utf8_to_utf16(KORVALEN_BIN_DIR "/formats.txt")));
    std::mt19937 random(42);
    std::vector<std::vector<uint8_t>> records;
    for (int i = 0; i < 200; ++i) {
        std::vector<uint8_t> r(64 + random() % 2048);
        for (uint8_t& b : r) b = static_cast<uint8_t>(random());
        records.push_back(r);
    }
    for (const auto& entry : std::filesystem::directory_iterator(test::fixture_source_dir() / "formats")) {
        if (!entry.path().filename().string().starts_with("sample")) continue;
        std::vector<uint8_t> bytes = test::read_file(entry.path());
        bytes.resize(std::min<size_t>(bytes.size(), 8192));
        records.push_back(bytes);
        for (int k = 0; k < 4 && !bytes.empty();
             ++k) {  // near misses: one byte changed early on, or cut short
            std::vector<uint8_t> changed = bytes;
            changed[random() % std::min<size_t>(changed.size(), 64)] ^=
                static_cast<uint8_t>(1 + random() % 255);
            records.push_back(changed);
            records.push_back(std::vector<uint8_t>(
                bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(random() % bytes.size())));
        }
    }
    int compared = 0;
    for (const xfs_node& node : formats.nodes) {
        if (node.is_bytes) continue;
        const std::string expression =
            std::string(static_cast<size_t>(node.offset), '.') +
            platform::utf16_to_ansi(std::u16string_view(node.signature_text).substr(1)) + ".*";
        const boost::regex whole(expression, boost::regex::perl | boost::regex::mod_s);
        for (const auto& r : records) {
            const char* begin = reinterpret_cast<const char*>(r.data());
            const bool full = boost::regex_match(begin, begin + r.size(), whole);
            ASSERT_EQ(node.matches(r.data(), static_cast<int32_t>(r.size())), full)
                << utf16_to_utf8(node.extension);
            ++compared;
        }
    }
    EXPECT_GT(compared, 1000);
}

}  // namespace
}  // namespace kvl
