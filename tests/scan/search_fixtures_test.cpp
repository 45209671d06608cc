#include <gtest/gtest.h>

#include <fstream>
#include <map>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "storage/memory_stream.h"
#include "support/fixtures.h"
#include "support/search_world.h"
#include "support/sha256.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

std::u16string image(const std::string& name) {
    return utf8_to_utf16(test::fixture_image(name).string());
}

std::vector<nlohmann::json> json_lines(const std::string& file) {
    std::vector<nlohmann::json> rows;
    std::ifstream in(test::fixture_source_dir() / file);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) rows.push_back(nlohmann::json::parse(line));
    return rows;
}

kvl_file_item_manager::handle command_of(kvl_file_item_manager::handle node, int64_t command) {
    for (const auto& child : node->children)
        if (child->data.item.type == FILE_ITEM_TYPE_COMMAND && child->data.item.position == command)
            return child.get();
    return nullptr;
}

TEST(SearchFixtures, PartitionSearchOnAWipedDiskFindsEveryBootSector) {
    test::test_ui ui;
    test::search_world world;
    const auto disk = world.add_source(image("search-wiped"));
    world.manager.activate(disk);  // a disk image without a table: no partitions, the search command
    const auto command = command_of(disk, COMMAND_PARTITION_SEARCH);
    ASSERT_NE(command, nullptr);
    world.partition_dialog.answers = {u"0,00"};
    world.manager.activate(command);
    std::ifstream in(test::fixture_source_dir() / "search-wiped.partitions.json");
    const nlohmann::json expected = nlohmann::json::parse(in);
    std::vector<found_item> wanted;
    const std::map<std::string, int32_t> kinds = {{"NTFS", 0}, {"FAT12", 1}, {"FAT16", 2}, {"FAT32", 3}};
    for (const auto& b : expected.at("boot_sectors"))
        if (b.at("fs") != "NTFS" || b.at("mft_record_at_computed_position").get<bool>())
            wanted.push_back(
                {b.at("sector").get<int64_t>(), b.at("total_sectors").get<int64_t>(), kinds.at(b.at("fs"))});
    EXPECT_EQ(world.manager.scan_results.get(image("search-wiped")).partition_hits, wanted);
    ASSERT_EQ(command->children.size(), wanted.size() + 1);
    EXPECT_EQ(world.tree.text(command->children[1]->data.view_node), u"Partition  - NTFS (Sector: 2048)");
    EXPECT_EQ(command->children[1]->data.item.source, image("search-wiped") + u"#2048");
    // Each found volume opens and lists like any partition.
    world.manager.activate(command->children[1].get());
    EXPECT_GT(world.list.count(), 3);

    // From 50 % on only the volumes in the disk's second half are found.
    world.partition_dialog.answers = {u"50.0"};
    world.manager.activate(command->children[0].get());  // "<  Rescan >"
    for (const found_item& hit : world.manager.scan_results.get(image("search-wiped")).partition_hits)
        EXPECT_GE(hit.position, 131072 / 2);
}

TEST(SearchFixtures, LostNtfsRecordsAreFiledByExtensionAndReadBack) {
    test::test_ui ui;
    test::search_world world;
    const auto volume = world.add_source(image("search-ntfs-reformat"));
    world.manager.activate(volume);
    const auto command = command_of(volume, COMMAND_NTFS_LOST_RECORDS);
    ASSERT_NE(command, nullptr);
    world.manager.activate(command);
    const std::vector<nlohmann::json> lost = json_lines("search-ntfs-reformat.lost.jsonl");
    std::map<std::u16string, int> per_extension;
    for (const auto& r : lost) ++per_extension[utf8_to_utf16(r.at("extension").get<std::string>())];
    std::map<std::u16string, int> shown;
    for (const auto& folder : command->children) {
        if (folder->data.item.type != FILE_ITEM_TYPE_SRC_ITEM) continue;
        const std::u16string caption = world.tree.text(folder->data.view_node);
        const std::u16string ext = caption.substr(0, caption.find(u" ("));
        shown[ext] = static_cast<int>(folder->children.size());
        EXPECT_EQ(caption, ext + u" (" + decimal(static_cast<int64_t>(folder->children.size())) + u")");
    }
    for (const auto& [ext, count] : per_extension) EXPECT_GE(shown[ext], count) << utf16_to_utf8(ext);
    // Every surviving record lists in its folder with its size, and the intact ones read back.
    int read = 0;
    for (const auto& folder : command->children) {
        if (folder->data.item.type != FILE_ITEM_TYPE_SRC_ITEM) continue;
        world.manager.activate(folder.get());
        for (int i = 0; i < world.list.count(); ++i) {
            const auto* item = static_cast<const file_item*>(world.list.data(world.list.row(i)));
            for (const auto& r : lost) {
                if (r.at("offset").get<int64_t>() != item->position) continue;
                EXPECT_EQ(utf16_to_utf8(world.list.caption(world.list.row(i))),
                          r.at("name").get<std::string>());
                EXPECT_EQ(world.list.sub_item(world.list.row(i), 5), decimal(r.at("size").get<int64_t>()));
                if (!r.value("intact", false) || !r.contains("sha256")) continue;
                memory_stream data;
                ASSERT_TRUE(world.manager.get_item_data(*item, data, false));
                EXPECT_EQ(test::sha256_hex(data.bytes()), r.at("sha256").get<std::string>()) << r.at("name");
                ++read;
            }
        }
    }
    EXPECT_GT(read, 20);
}

TEST(SearchFixtures, LostFatFoldersAreFoundAndListedWithTheirFiles) {
    test::test_ui ui;
    test::search_world world;
    const auto volume = world.add_source(image("search-fat16-reformat"));
    world.manager.activate(volume);
    const auto command = command_of(volume, COMMAND_FAT_LOST_ENTRIES);
    ASSERT_NE(command, nullptr);
    world.manager.activate(command);
    for (const auto& folder : json_lines("search-fat16-reformat.lost.jsonl")) {
        const std::u16string offset = decimal(folder.at("offset").get<int64_t>());
        kvl_file_item_manager::handle found = nullptr;
        for (const auto& child : command->children)
            if (child->data.view_node && world.tree.text(child->data.view_node) == offset)
                found = child.get();
        ASSERT_NE(found, nullptr) << folder.at("folder");
        world.manager.activate(found);
        std::map<std::string, const file_item*> rows;
        for (int i = 0; i < world.list.count(); ++i)
            rows[utf16_to_utf8(world.list.caption(world.list.row(i)))] =
                static_cast<const file_item*>(world.list.data(world.list.row(i)));
        for (const auto& e : folder.at("entries")) {
            const auto row = rows.find(e.at("name").get<std::string>());
            ASSERT_NE(row, rows.end()) << folder.at("folder") << " " << e.at("name");
            if (!e.contains("sha256") || e.at("folder").get<bool>()) continue;
            memory_stream data;
            world.manager.get_item_data(*row->second, data, false);
            EXPECT_EQ(test::sha256_hex(data.bytes()), e.at("sha256").get<std::string>()) << e.at("name");
        }
    }
}

TEST(SearchFixtures, CarvingFindsEverySampleAtASectorStartAndNoneElsewhere) {
    test::test_ui ui;
    test::search_world world;
    const auto source = world.add_source(image("search-carve"));
    world.manager.activate(source);
    const auto command = command_of(source, COMMAND_LOW_LEVEL_SEARCH);
    ASSERT_NE(command, nullptr);
    std::vector<std::u16string> every;
    for (const xfs_node& node : world.manager.low_level_scanner.definitions.nodes)
        every.push_back(node.description);
    world.file_type_dialog.answers = {{false, every}};
    world.manager.activate(command);
    const xfs_nodes& formats = world.manager.low_level_scanner.definitions;
    std::multimap<int64_t, std::u16string> hits;
    for (const found_item& hit : world.manager.scan_results.get(image("search-carve")).low_level_hits)
        hits.emplace(hit.position, formats.nodes[static_cast<size_t>(hit.type)].extension);
    std::multimap<int64_t, std::u16string> expected;
    for (const auto& planted : json_lines("search-carve.planted.jsonl"))
        for (const auto& ext : planted.at("expected_hits"))
            expected.emplace(planted.at("offset").get<int64_t>(), utf8_to_utf16(ext.get<std::string>()));
    for (const auto& hit : hits)
        EXPECT_TRUE(std::count(expected.begin(), expected.end(), hit))
            << "unexpected " << hit.first << " " << utf16_to_utf8(hit.second);
    for (const auto& want : expected)
        EXPECT_TRUE(std::count(hits.begin(), hits.end(), want))
            << "missing " << want.first << " " << utf16_to_utf8(want.second);
}

}  // namespace
}  // namespace kvl
