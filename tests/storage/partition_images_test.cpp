#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "core/text.h"
#include "items/file_item_manager.h"
#include "platform/memory_controls.h"
#include "storage/disk_storage.h"
#include "support/fixtures.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

nlohmann::json expected_table(const std::string& name) {
    std::ifstream in(test::fixture_source_dir() / (name + ".partitions.json"));
    return nlohmann::json::parse(in);
}

class PartitionImage : public ::testing::TestWithParam<std::string> {
  protected:
    std::u16string image() const { return utf8_to_utf16(test::fixture_image(GetParam()).string()); }
    test::test_ui ui;
};

// The table as sfdisk wrote it: every partition in its slot with its absolute first sector and
// size; the items captioned and sourced as the drive's children.
TEST_P(PartitionImage, TableAndItemsMatchWhatSfdiskWrote) {
    const nlohmann::json expected = expected_table(GetParam());
    disk_storage storage;
    ASSERT_TRUE(storage.open(image()));
    EXPECT_TRUE(storage.is_disk_image());
    partition_list list{};
    ASSERT_TRUE(storage.get_partition_list(list));
    storage.close();
    std::vector<std::u16string> captions;
    for (const auto& partition : expected.at("partitions")) {
        const size_t slot = partition.at("slot").get<size_t>();
        const uint8_t type =
            static_cast<uint8_t>(std::stoul(partition.at("type").get<std::string>(), nullptr, 16));
        ASSERT_LE(slot, list.size());
        EXPECT_EQ(list[slot - 1].type, type) << "slot " << slot;
        EXPECT_EQ(list[slot - 1].first_sector, partition.at("first_sector").get<uint64_t>())
            << "slot " << slot;
        if (slot > 4) {
            EXPECT_EQ(list[slot - 1].sectors, partition.at("sectors").get<uint32_t>()) << "slot " << slot;
        }
        if (!is_container_type(type))
            captions.push_back(u"Partition" + decimal(static_cast<int64_t>(slot)) + u" - " +
                               partition_type_name(type) + u" (Sector: " +
                               decimal(partition.at("first_sector").get<int64_t>()) + u")");
    }
    platform::memory_tree_control tree;
    platform::scripted_file_dialogs dialogs;
    file_item_manager manager(dialogs);
    manager.tree.bind(&tree, nullptr, nullptr);
    const auto disk = manager.tree.add_source_item(image(), u"disk", nullptr);
    manager.add_partition_items(disk, list);
    ASSERT_EQ(disk->children.size(), captions.size());
    for (size_t i = 0; i < captions.size(); ++i) {
        EXPECT_EQ(tree.text(disk->children[i]->data.view_node), captions[i]);
        const std::u16string sector = captions[i].substr(captions[i].rfind(u' ') + 1);
        EXPECT_EQ(disk->children[i]->data.item.source, image() + u"#" + sector.substr(0, sector.size() - 1));
    }
    // Only the looping chain is told (where it comes back).
    if (GetParam() == "part-ebr-loop") {
        ASSERT_EQ(ui.log.lines.size(), 1u);
        EXPECT_NE(ui.log.lines[0].text.find(u"comes back to sector"), std::u16string::npos);
    } else {
        EXPECT_TRUE(ui.log.lines.empty());
    }
}

INSTANTIATE_TEST_SUITE_P(Sfdisk, PartitionImage,
                         ::testing::Values("part-gap", "part-ext05", "part-ext0f", "part-ebr-loop",
                                           "part-volumes"));

TEST(PartitionImages, MissingSignatureIsReported) {
    test::test_ui ui;
    disk_storage storage;
    ASSERT_TRUE(storage.open(utf8_to_utf16(test::fixture_image("part-nosig").string())));
    partition_list list{};
    EXPECT_FALSE(storage.get_partition_list(list));
    storage.close();
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"disk_storage::get_partition_list=> Not valid MBR signature"});
}

TEST(PartitionImages, VolumesInsideADiskImageOpenByTheirSector) {
    test::test_ui ui;
    const nlohmann::json expected = expected_table("part-volumes");
    const std::u16string image = utf8_to_utf16(test::fixture_image("part-volumes").string());
    std::vector<int32_t> kinds;
    for (const auto& partition : expected.at("partitions")) {
        if (is_container_type(
                static_cast<uint8_t>(std::stoul(partition.at("type").get<std::string>(), nullptr, 16))))
            continue;
        disk_storage storage;
        ASSERT_TRUE(storage.open(image + u"#" + decimal(partition.at("first_sector").get<int64_t>())));
        kinds.push_back(storage.fs_type);
        EXPECT_LE(storage.total_sectors, partition.at("sectors").get<int64_t>());
        storage.close();
    }
    EXPECT_EQ(kinds, (std::vector<int32_t>{FILE_SYSTEM_NTFS, FILE_SYSTEM_FAT16, FILE_SYSTEM_FAT12}));
}

}  // namespace
}  // namespace kvl
