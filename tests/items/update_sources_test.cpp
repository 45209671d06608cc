#include <gtest/gtest.h>

#include "core/text.h"
#include "items/file_item_manager.h"
#include "platform/memory_controls.h"
#include "support/fake_devices.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

void put_entry(test::sparse_image& disk, int slot, uint8_t type, uint32_t first, uint32_t count) {
    const int64_t at = 446 + slot * 16;
    disk.put(at + 4, type, 1);
    disk.put(at + 8, first, 4);
    disk.put(at + 12, count, 4);
    disk.put(510, 0xAA55, 2);
}

class UpdateSourcesTest : public ::testing::Test {
  protected:
    void SetUp() override {
        manager.tree.bind(&tree, &list, &status);
        test::sparse_image first(dir.file("sda"), 64 << 20);
        put_entry(first, 0, 0x07, 2048, 4096);
        put_entry(first, 2, 0x0C, 8192, 4096);                // slot 2 left empty
        test::sparse_image second(dir.file("sdb"), 1 << 20);  // no partition table
        devices.add_drive(first.path());
        devices.add_drive(second.path());
        devices.add_drive(dir.file("gone"));  // listed by the system, but cannot be opened
        devices.add_volume(dir.file("sda1"), u"sda1", u"Data");
        devices.add_volume(dir.file("sda3"), u"sda3", u"");
    }

    struct shown {
        std::u16string text;
        int image;
        std::u16string source;
        std::vector<shown> children;
        bool operator==(const shown&) const = default;
    };
    std::vector<shown> snapshot(platform::tree_item* parent) const {
        std::vector<shown> out;
        for (platform::tree_item* node : tree.children(parent)) {
            const auto* data = static_cast<kvl_file_item_manager::tree_node*>(tree.data(node));
            out.push_back({tree.text(node), tree.image(node), data->data.item.source, snapshot(node)});
        }
        return out;
    }

    test::test_ui ui;
    test::temp_dir dir;
    test::fake_devices devices;
    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    platform::scripted_file_dialogs dialogs;
    file_item_manager manager{dialogs};
};

TEST_F(UpdateSourcesTest, BuildsTheStartUpTree) {
    list.add_row();
    manager.current_source = u"0 2048";
    manager.update_sources();
    const std::vector<shown> expected = {
        {u"[ Logical Drives ]",
         -1,
         u"",
         {{u"Data (sda1) ", 4, dir.u16("sda1"), {}}, {u" (sda3) ", 4, dir.u16("sda3"), {}}}},
        {u"[ Physical Drives ]",
         -1,
         u"",
         {{u"Hard Drive 1",
           26,
           u"0",
           {{u"< Search for partitions >", -1, u"0", {}},
            {u"Partition1 - NTFS (Sector: 2048)", -1, u"0 2048", {}},
            {u"Partition3 - FAT32 (LBA) (Sector: 8192)", -1, u"0 8192", {}}}},
          {u"Hard Drive 2", 26, u"1", {}},
          {u"Hard Drive 3", 26, u"2", {}}}},
        {u"[ Disk Images ]", -1, u"", {{u"< Click here to mount image... >", -1, u"", {}}}},
    };
    EXPECT_EQ(snapshot(nullptr), expected);
    EXPECT_EQ(list.count(), 0);
    EXPECT_EQ(manager.current_source, u"");
    EXPECT_EQ(ui.log_texts(),
              (std::vector<std::u16string>{u"disk_storage::get_partition_list=> Not valid MBR signature",
                                           u"file_stream::open=> No such file or directory",
                                           u"disk_storage::open=> Cannot open partition"}));
    EXPECT_FALSE(manager.storage.is_open());
}

TEST_F(UpdateSourcesTest, MountedImagesShowTheirNameAndPartitionsAndGoOnUpdate) {
    manager.update_sources();
    test::sparse_image disk(dir.file("backup of sdc.img"), 16 << 20);
    put_entry(disk, 0, 0x06, 63, 1000);
    test::sparse_image plain(dir.file("plain.img"), 1 << 20);
    dialogs.answers = {dir.u16("backup of sdc.img"), dir.u16("plain.img"), u""};
    manager.mount_image();
    manager.mount_image();
    manager.mount_image();  // cancelled: nothing added
    const auto images = snapshot(nullptr).back();
    ASSERT_EQ(images.children.size(), 3u);
    EXPECT_EQ(images.children[1], (shown{u"backup of sdc.img",
                                         31,
                                         dir.u16("backup of sdc.img"),
                                         {{u"Partition1 - FAT16 [32 Mb - 2 Gb] (CHS) (Sector: 63)",
                                           -1,
                                           dir.u16("backup of sdc.img") + u"#63",
                                           {}}}}));
    EXPECT_EQ(images.children[2], (shown{u"plain.img", 31, dir.u16("plain.img"), {}}));
    EXPECT_EQ(dialogs.asked_open, (std::deque<bool>{true, true, true}));

    manager.update_sources();
    EXPECT_EQ(snapshot(nullptr).back().children.size(), 1u);
}

}  // namespace
}  // namespace kvl
