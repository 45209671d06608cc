#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "scan/partition_scan.h"
#include "support/fake_devices.h"
#include "support/fixtures.h"
#include "support/search_world.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

TEST(PartitionScanStart, PercentageRules) {
    const struct {
        const char16_t* text;
        int32_t tag;
    } cases[] = {{u"0,00", 0},      {u"0.00", 0}, {u"50", 5000}, {u"99,99", 9999}, {u" 12.5 \t", 1250},
                 {u"100", -1},      {u"-1", -1},  {u"abc", -1},  {u"", -1},        {u"1,2,3", -1},
                 {u"99.999", 9999}, {u"nan", -1}, {u"1e1", 1000}};
    for (const auto& c : cases) EXPECT_EQ(partition_scan_start(c.text), c.tag) << utf16_to_utf8(c.text);
}

// A copy of a fixture the test may change.
std::u16string copy_of(const test::temp_dir& dir, const std::string& fixture) {
    std::filesystem::copy_file(test::fixture_image(fixture), dir.file(fixture + ".img"));
    return dir.u16(fixture + ".img");
}

std::vector<int64_t> volume_sectors() {
    std::ifstream in(test::fixture_source_dir() / "part-volumes.partitions.json");
    std::vector<int64_t> sectors;
    const nlohmann::json table = nlohmann::json::parse(in);
    for (const auto& p : table.at("partitions"))
        if (p.at("type").get<std::string>() != "0x05" && p.at("type").get<std::string>() != "0x0f")
            sectors.push_back(p.at("first_sector").get<int64_t>());
    return sectors;
}

TEST(PartitionSearch, FindsTheBootSectorsOfADiskAndReplaysWithoutReading) {
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    const std::u16string image = copy_of(dir, "part-volumes");
    const auto disk = world.add_source(image);
    const auto command = world.add_command(COMMAND_PARTITION_SEARCH, disk);
    world.partition_dialog.answers = {u"abc", u"100", u"0,00"};
    world.manager.run_partition_search(command, false);
    ASSERT_EQ(ui.boxes.shown.size(), 2u);
    EXPECT_EQ(ui.boxes.shown[0].text, u"Please enter value from 0 to 99 (%)");
    const std::vector<int64_t> sectors = volume_sectors();
    ASSERT_EQ(sectors.size(), 3u);
    const std::vector<std::u16string> expected = {
        u"<  Rescan >", u"Partition  - NTFS (Sector: " + decimal(sectors[0]) + u")",
        u"Partition  - FAT16 (Sector: " + decimal(sectors[1]) + u")",
        u"Partition  - FAT12 (Sector: " + decimal(sectors[2]) + u")"};
    ASSERT_EQ(world.captions(command), expected);
    EXPECT_EQ(command->children[1]->data.item.source, image + u"#" + decimal(sectors[0]));
    EXPECT_EQ(world.manager.current_source, image);
    const auto& hits = world.manager.scan_results.get(image).partition_hits;
    ASSERT_EQ(hits.size(), 3u);
    EXPECT_EQ(hits[1].type, FOUND_FAT16);

    // The disk is blanked: a second search without Rescan shows the stored hits; Rescan finds nothing.
    std::filesystem::resize_file(dir.file("part-volumes.img"), 0);
    std::filesystem::resize_file(dir.file("part-volumes.img"), 24 << 20);
    world.manager.tree.delete_children(command, true);
    world.partition_dialog.answers = {u"0,00"};
    world.manager.run_partition_search(command, false);
    EXPECT_EQ(world.captions(command), expected);
    world.manager.tree.delete_children(command, true);
    world.partition_dialog.answers = {u"0,00"};
    world.manager.run_partition_search(command, true);
    EXPECT_TRUE(command->children.empty());
}

TEST(PartitionSearch, StartsAtThePercentageAndCloseSearchesNothing) {
    test::test_ui ui;
    test::search_world world;
    const std::u16string image = utf8_to_utf16(test::fixture_image("part-volumes").string());
    const auto command = world.add_command(COMMAND_PARTITION_SEARCH, world.add_source(image));
    world.partition_dialog.answers = {std::nullopt};
    world.manager.run_partition_search(command, false);
    EXPECT_TRUE(command->children.empty());
    EXPECT_TRUE(world.manager.scan_results.entries.empty());
    const std::vector<int64_t> sectors = volume_sectors();
    // From just past the FAT16 volume's start only the FAT12 volume remains.
    const int64_t total = 24 << 11;
    const std::u16string percent = decimal((sectors[1] + 1) * 10000 / total / 100) + u"," +
                                   decimal((sectors[1] + 1) * 10000 / total % 100 + 1);
    world.partition_dialog.answers = {percent};
    world.manager.run_partition_search(command, false);
    EXPECT_EQ(world.captions(command).back(), u"Partition  - FAT12 (Sector: " + decimal(sectors[2]) + u")");
    EXPECT_EQ(world.partition_dialog.shown_with.back(), u"0,00");
}

TEST(PartitionSearch, CancelKeepsTheHitsFoundSoFar) {
    test::test_ui ui;
    test::search_world world;
    const std::u16string image = utf8_to_utf16(test::fixture_image("part-volumes").string());
    const auto command = world.add_command(COMMAND_PARTITION_SEARCH, world.add_source(image));
    world.partition_dialog.answers = {u"0"};
    world.manager.storage.progress.show_after_delay = false;
    ui.pump.on_pump = [&] {
        if (!world.manager.scan_results.get(image).partition_hits.empty()) ui.progress.press_cancel();
    };
    world.manager.run_partition_search(command, false);
    EXPECT_EQ(world.manager.scan_results.get(image).partition_hits.size(), 1u);
}

// Samples of the shipped formats planted in a raw image at sector starts, and one that is not.
class LowLevelSearchTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::sparse_image image(dir.file("raw.img"), 4 << 20);
        const auto sample = [](const std::string& name) {
            return test::read_file(test::fixture_source_dir() / "formats" / name);
        };
        image.write(8192, sample("sample.jpg"));
        image.write(65536, sample("sample.png"));
        image.write(131072, sample("sample-2.jpg"));
        image.write(200000 + 7, sample("sample.png"));
        source = dir.u16("raw.img");
        command = world.add_command(COMMAND_LOW_LEVEL_SEARCH, world.add_source(source));
    }

    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    std::u16string source;
    kvl_file_item_manager::handle command = nullptr;
};

TEST_F(LowLevelSearchTest, HitsAtSectorStartsGatherInOneFolderPerFormat) {
    world.file_type_dialog.answers = {{false, std::nullopt}};
    world.manager.run_low_level_search(command, false);
    ASSERT_EQ(world.file_type_dialog.shown.size(), 1u);
    int checked = 0;
    for (const auto& row : world.file_type_dialog.shown[0]) checked += row.checked;
    EXPECT_EQ(checked, 13);  // the default selection, every one defined
    EXPECT_EQ(world.captions(command),
              (std::vector<std::u16string>{u"<  Rescan >", u".jpg (2)", u".png (1)"}));
    const auto& jpg = *command->children[1];
    ASSERT_EQ(jpg.children.size(), 2u);
    EXPECT_EQ(jpg.children[0]->data.item.position, 8192);
    EXPECT_EQ(jpg.children[1]->data.item.position, 131072);
    EXPECT_EQ(jpg.children[0]->data.item.value2, 4 << 20);  // the expected size of the shipped settings
    EXPECT_EQ(jpg.children[0]->data.view_node, nullptr);    // hits are shown through the list
    EXPECT_EQ(world.manager.scan_results.get(source).low_level_hits.size(), 3u);
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(LowLevelSearchTest, ScanWithNothingCheckedAsksAgainAndCloseEmptiesTheCommand) {
    world.file_type_dialog.answers = {{false, std::vector<std::u16string>{}},
                                      {false, std::vector<std::u16string>{u"PNG image"}}};
    world.manager.run_low_level_search(command, false);
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].text, u"Please select file types to search");
    EXPECT_EQ(world.captions(command), (std::vector<std::u16string>{u"<  Rescan >", u".png (1)"}));

    world.manager.tree.delete_children(command, true);
    world.file_type_dialog.answers = {{true, std::nullopt}};
    world.manager.run_low_level_search(command, true);
    EXPECT_TRUE(command->children.empty());
    EXPECT_TRUE(
        world.manager.scan_results.get(source).low_level_hits.empty());  // a raw source's hits are gone
}

TEST_F(LowLevelSearchTest, SecondRunReplaysWithoutTheDialog) {
    world.file_type_dialog.answers = {{false, std::nullopt}};
    world.manager.run_low_level_search(command, false);
    world.manager.tree.delete_children(command, true);
    world.manager.run_low_level_search(command, false);
    EXPECT_EQ(world.file_type_dialog.shown.size(), 1u);
    EXPECT_EQ(world.captions(command),
              (std::vector<std::u16string>{u"<  Rescan >", u".jpg (2)", u".png (1)"}));
}

TEST(ImageSaving, CopiesTheSourceLastOpenedByteForByte) {
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    world.manager.save_image();
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].text, u"Please select or/and scan target drive");
    EXPECT_TRUE(world.files.asked_open.empty());

    const auto image = test::fixture_image("part-volumes");
    const std::vector<int64_t> sectors = volume_sectors();
    for (const std::u16string& source :
         {utf8_to_utf16(image.string()), utf8_to_utf16(image.string()) + u"#" + decimal(sectors[1])}) {
        world.manager.current_source = source;
        world.files.answers = {dir.u16("saved.img")};
        world.manager.save_image();
        disk_storage original;
        ASSERT_TRUE(original.open(source));
        const std::vector<uint8_t> whole = test::read_file(image);
        const auto start = whole.begin() + original.base_offset;
        const std::vector<uint8_t> expected(start, start + original.size());
        original.close();
        EXPECT_EQ(test::read_file(dir.file("saved.img")), expected);
    }
    EXPECT_EQ(world.files.asked_open, (std::deque<bool>{false, false}));
}

}  // namespace
}  // namespace kvl
