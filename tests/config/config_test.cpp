#include "config/config.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <climits>

#include "core/text.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

std::vector<uint8_t> utf16_file(std::u16string_view text, bool bom = true) {
    std::string bytes;
    if (bom) utf16le_append(u"\xFEFF", bytes);
    utf16le_append(text, bytes);
    return {bytes.begin(), bytes.end()};
}

TEST(ConfItem, ParsesNameGroupCaptionAttributesAndValue) {
    const struct {
        const char16_t* line;
        const char16_t* name;
        const char16_t* group;
        const char16_t* caption;
        const char16_t* attributes;
        const char16_t* value;
    } cases[] = {
        {u"a=b=c", u"a", u"", u"", u"", u"b"},
        {u"a==b", u"a", u"", u"", u"", u"b"},
        {u"x|Grp:Caption|inv=5", u"x", u"Grp", u"Caption", u"inv", u"5"},
        {u"x|Caption=5", u"x", u"", u"Caption", u"", u"5"},
        {u"x=5", u"x", u"", u"", u"", u"5"},
        {u"x||flags=5", u"x", u"", u"flags", u"", u"5"},  // runs of "|" merge: the flags become the label
        {u"x|Grp:|a=1", u"x", u"", u"Grp", u"a", u"1"},   // nothing after ":": the caption is the group text
        {u"x|:Cap|=1", u"x", u"", u"Cap", u"", u"1"},
        {u" n | G : C | r = v ", u"n", u"G", u"C", u"r", u"v"},
        {u"=v", u"", u"", u"", u"", u"v"},
        {u"no separator", u"", u"", u"", u"", u""},
    };
    for (const auto& c : cases) {
        const conf_item item(c.line);
        const std::string where = utf16_to_utf8(c.line);
        EXPECT_EQ(item.name, c.name) << where;
        EXPECT_EQ(item.group, c.group) << where;
        EXPECT_EQ(item.caption, c.caption) << where;
        EXPECT_EQ(item.attributes, c.attributes) << where;
        EXPECT_EQ(item.value.text(), c.value) << where;
    }
}

TEST(ConfItem, ChoicesAndFlags) {
    const conf_item choice(u"mode|G:Mode|0`Off,1`On,2`Auto,plain,1`Again=1");
    EXPECT_EQ(choice.choices,
              (std::map<std::u16string, std::u16string>{{u"0", u"Off"}, {u"1", u"On"}, {u"2", u"Auto"}}));
    EXPECT_TRUE(choice.is_choice_list());
    EXPECT_FALSE(choice.is_invisible());

    const conf_item hidden(u"x|G:C|inv,ronly=1");
    EXPECT_TRUE(hidden.is_invisible());
    EXPECT_TRUE(hidden.is_read_only());
    EXPECT_TRUE(hidden.choices.empty());
    const conf_item substring(u"x|G:C|invisible=1");  // flags are found anywhere in the text
    EXPECT_TRUE(substring.is_invisible());

    const conf_item ten_before_two(u"n|G:C|2`two,10`ten=2");
    EXPECT_EQ(ten_before_two.choices.begin()->first, u"10");
}

TEST(AnyType, IntegerAndBooleanReadings) {
    const struct {
        const char16_t* text;
        int32_t value;
    } cases[] = {
        {u"", 0},
        {u"12abc", 0},
        {u"42", 42},
        {u"  42", 42},
        {u"-7", -7},
        {u"+7", 7},
        {u"$1F", 31},
        {u"0x10", 16},
        {u"X10", 16},
        {u"x1g", 0},
        {u"2147483647", INT_MAX},
        {u"2147483648", 0},
        {u"-2147483648", INT_MIN},
        {u"-", 0},
        {u"42 ", 0},
    };
    for (const auto& c : cases) EXPECT_EQ(any_type(c.text).as_int(), c.value) << utf16_to_utf8(c.text);
    EXPECT_TRUE(any_type(u"true").as_bool());
    EXPECT_FALSE(any_type(u"True").as_bool());
    EXPECT_FALSE(any_type(u"1").as_bool());
    EXPECT_FALSE(any_type(u"").as_bool());
}

TEST(Config, SavedFileLoadsBackToTheSameSettings) {
    test::test_ui ui;
    test::temp_dir dir;
    config original;
    ASSERT_TRUE(original.parse(u"zeta|Grp:Last|inv=9\r\nalpha|:First|0`A,1`B=1\r\nmid=x\r\n"));
    ASSERT_TRUE(original.save(dir.u16("settings.ini")));

    const auto bytes = test::read_file(dir.file("settings.ini"));
    ASSERT_GE(bytes.size(), 2u);
    EXPECT_EQ(bytes[0], 0xFF);
    EXPECT_EQ(bytes[1], 0xFE);
    EXPECT_EQ(utf16le_decode(std::span(bytes).subspan(2)),
              u"alpha|:First|0`A,1`B=1\r\nmid|:|=x\r\nzeta|Grp:Last|inv=9\r\n");

    config loaded;
    ASSERT_TRUE(loaded.load(dir.u16("settings.ini")));
    ASSERT_EQ(loaded.items.size(), 3u);
    for (const auto& [name, item] : original.items) {
        const conf_item& back = loaded.items.at(name);
        EXPECT_EQ(back.line(), item.line());
        EXPECT_EQ(back.choices, item.choices);
    }
    EXPECT_TRUE(ui.boxes.shown.empty());
}

TEST(Config, LineRules) {
    config store;
    // LF alone does not end a line: the whole file is one setting.
    ASSERT_TRUE(store.parse(u"a=1\nb=2\n"));
    ASSERT_EQ(store.items.size(), 1u);
    EXPECT_EQ(store.items.at(u"a").value.text(), u"1b");

    // The first definition of a name wins; blank lines are skipped; a lone CR ends a line.
    ASSERT_TRUE(store.parse(u"\xFEFFk=first\r\n   \r\nk=second\rj=3\r\nno equals sign\r\nagain no sign"));
    EXPECT_EQ(store.items.at(u"k").value.text(), u"first");
    EXPECT_EQ(store.items.at(u"j").value.text(), u"3");
    ASSERT_EQ(store.items.count(u""), 1u);
    EXPECT_EQ(store.items.at(u"").line(), u"|:|=");
    EXPECT_EQ(store.items.size(), 3u);

    // The text ends at the first NUL.
    ASSERT_TRUE(store.parse(std::u16string(u"a=1\r\n\0b=2", 10)));
    EXPECT_EQ(store.items.size(), 1u);
}

TEST(Config, MissingOrEmptyFileLeavesTheStoreAsItWas) {
    test::test_ui ui;
    test::temp_dir dir;
    config store;
    ASSERT_TRUE(store.parse(u"kept=1"));
    EXPECT_FALSE(store.load(dir.u16("missing.ini")));
    test::write_file(dir.file("empty.ini"), {});
    EXPECT_FALSE(store.load(dir.u16("empty.ini")));
    test::write_file(dir.file("bom-only.ini"), utf16_file(u""));
    EXPECT_FALSE(store.load(dir.u16("bom-only.ini")));
    EXPECT_EQ(store.items.size(), 1u);
    EXPECT_EQ(store.path(), dir.u16("bom-only.ini"));
}

TEST(Config, AFileWithoutByteOrderMarkReadsTheSame) {
    test::test_ui ui;
    test::temp_dir dir;
    test::write_file(dir.file("with.ini"), utf16_file(u"a|G:C|=1\r\n"));
    test::write_file(dir.file("without.ini"), utf16_file(u"a|G:C|=1\r\n", false));
    config with;
    config without;
    ASSERT_TRUE(with.load(dir.u16("with.ini")));
    ASSERT_TRUE(without.load(dir.u16("without.ini")));
    EXPECT_EQ(with.items.at(u"a").line(), without.items.at(u"a").line());
}

TEST(Config, AReadOnlySettingsFileLoads) {
    test::test_ui ui;
    test::temp_dir dir;
    test::write_file(dir.file("settings.ini"), utf16_file(u"ntfs.cache_size|NTFS:Cache|=64\r\n"));
    ASSERT_EQ(::chmod(dir.file("settings.ini").c_str(), 0444), 0);
    config store;
    {
        test::unprivileged_files as_a_user;
        ASSERT_TRUE(store.load(dir.u16("settings.ini")));
    }
    EXPECT_EQ(store.get(u"ntfs.cache_size").as_int(), 64);
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(Config, ReadingWarnsWhenNotLoadedOrMissing) {
    test::test_ui ui;
    config store;
    EXPECT_EQ(store.get(u"ntfs.cache_size").as_int(), 0);
    EXPECT_EQ(store.get(u"ntfs.cache_size").text(), u"");
    ASSERT_EQ(ui.boxes.shown.size(), 2u);  // one box per read
    EXPECT_EQ(ui.boxes.shown[0].caption, u"Error");
    EXPECT_EQ(ui.boxes.shown[0].text, u"Config not loaded");
    EXPECT_EQ(ui.boxes.shown[0].icon, platform::box_icon::warning);

    ASSERT_TRUE(store.parse(u"other=1"));
    EXPECT_FALSE(store.get(u"ntfs.show_only_deleted").as_bool());
    EXPECT_EQ(ui.boxes.shown.back().text, u"Config item ntfs.show_only_deleted not found");
}

// Every key the program reads is in the shipped file, with a value of its type.
TEST(ShippedSettings, HoldEveryKeyWithAUsableValue) {
    test::test_ui ui;
    config store;
    ASSERT_TRUE(store.load(utf8_to_utf16(KORVALEN_BIN_DIR "/settings.ini")));
    for (const char16_t* key :
         {u"file_recovery_max_size_mb", u"file_recovery_buf_size", u"fat.recover_algorithm",
          u"preview_max_stream_data_size_mb", u"ntfs.cache_size", u"ntfs.std_scan_buf_size",
          u"generic_scan_expected_file_size"}) {
        ASSERT_EQ(store.items.count(key), 1u) << utf16_to_utf8(key);
        EXPECT_FALSE(store.items.at(key).caption.empty());
        EXPECT_FALSE(store.items.at(key).group.empty());
    }
    EXPECT_GT(store.get(u"file_recovery_buf_size").as_int(), 0);
    EXPECT_GT(store.get(u"file_recovery_max_size_mb").as_int(), 0);
    EXPECT_LE(store.get(u"file_recovery_max_size_mb").as_int(), 2047);
    EXPECT_EQ(store.get(u"ntfs.std_scan_buf_size").as_int() % 8, 0);
    EXPECT_GT(store.get(u"ntfs.cache_size").as_int(), 0);
    EXPECT_EQ(store.get(u"ntfs.show_only_deleted").text(), u"false");
    const conf_item& algorithm = store.items.at(u"fat.recover_algorithm");
    EXPECT_TRUE(algorithm.is_choice_list());
    std::vector<std::u16string> codes;
    for (const auto& [code, caption] : algorithm.choices) codes.push_back(code);
    EXPECT_EQ(codes, (std::vector<std::u16string>{u"0", u"1", u"2", u"3"}));
    EXPECT_TRUE(ui.boxes.shown.empty());
}

}  // namespace
}  // namespace kvl
