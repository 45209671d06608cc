#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "core/text.h"
#include "scan/xfs_nodes.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

struct sample {
    std::string file;
    std::u16string extension;
    std::vector<uint8_t> bytes;
};

std::vector<sample> samples() {
    std::vector<sample> out;
    const auto folder = test::fixture_source_dir() / "formats";
    std::ifstream in(folder / "manifest.jsonl");
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const nlohmann::json row = nlohmann::json::parse(line);
        sample s{row.at("file").get<std::string>(), utf8_to_utf16(row.at("ext").get<std::string>()), {}};
        s.bytes = test::read_file(folder / s.file);
        out.push_back(std::move(s));
    }
    return out;
}

// Every shipped definition is proven on real files of its format, and fires on none of the others.
TEST(ShippedFormats, EachSampleMatchesItsOwnDefinitionsAndNoOther) {
    test::test_ui ui;
    xfs_nodes formats;
    ASSERT_TRUE(formats.load_from_file(utf8_to_utf16(KORVALEN_BIN_DIR "/formats.txt")));
    for (const std::u16string& line : ui.log_texts()) ADD_FAILURE() << utf16_to_utf8(line);
    const std::vector<sample> all = samples();
    ASSERT_FALSE(all.empty());
    std::set<std::u16string> proven;
    for (const sample& s : all) {
        const int32_t length = static_cast<int32_t>(s.bytes.size());
        for (const xfs_node& node : formats.nodes) {
            const bool own = node.extension == s.extension;
            const bool hit = node.matches(s.bytes.data(), length);
            if (hit && own) proven.insert(node.extension);
            if (!own) {
                EXPECT_FALSE(hit) << utf16_to_utf8(node.extension) << " fires on " << s.file;
            }
        }
        bool any_own = false;
        for (const xfs_node& node : formats.nodes)
            any_own = any_own || (node.extension == s.extension && node.matches(s.bytes.data(), length));
        EXPECT_TRUE(any_own) << s.file << " is not recognised as " << utf16_to_utf8(s.extension);
    }
    for (const xfs_node& node : formats.nodes)
        EXPECT_TRUE(proven.count(node.extension))
            << utf16_to_utf8(node.extension) << " has no matching sample";
}

TEST(ShippedFormats, DefineTheDefaultSelectionAndNothingFiresOnBlankSectors) {
    test::test_ui ui;
    xfs_nodes formats;
    ASSERT_TRUE(formats.load_from_file(utf8_to_utf16(KORVALEN_BIN_DIR "/formats.txt")));
    std::vector<int> chosen;
    formats.select(u".jpg;.png;.gif;.bmp;.pdf;.zip;.rar;.wav;.avi;.mid;.ogg;.docx;.mp3", chosen);
    EXPECT_EQ(chosen.size(), 13u);
    EXPECT_TRUE(ui.log.lines.empty());
    const std::set<std::u16string> groups = {u"Images", u"Documents", u"Archives",    u"Audio",
                                             u"Video",  u"Databases", u"Executables", u"Other"};
    for (const xfs_node& node : formats.nodes) {
        EXPECT_TRUE(groups.count(node.group)) << utf16_to_utf8(node.extension);
        EXPECT_FALSE(node.description.empty());
    }
    for (const uint8_t fill : {uint8_t{0x00}, uint8_t{0xFF}}) {
        const std::vector<uint8_t> blank(8192, fill);
        for (const xfs_node& node : formats.nodes)
            EXPECT_FALSE(node.matches(blank.data(), 8192)) << utf16_to_utf8(node.extension);
    }
}

}  // namespace
}  // namespace kvl
