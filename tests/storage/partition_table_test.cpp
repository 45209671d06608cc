#include "storage/partition_table.h"

#include <gtest/gtest.h>

#include "core/text.h"
#include "storage/disk_storage.h"
#include "support/fake_devices.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// Writes a table entry into the boot record at sector `record` of the image.
void put_entry(test::sparse_image& disk, int64_t record, int slot, uint8_t type, uint32_t first,
               uint32_t count) {
    const int64_t at = record * 512 + 446 + slot * 16;
    disk.put(at + 4, type, 1);
    disk.put(at + 8, first, 4);
    disk.put(at + 12, count, 4);
    disk.put(record * 512 + 510, 0xAA55, 2);
}

class PartitionListTest : public ::testing::Test {
  protected:
    bool read_list(const std::filesystem::path& image) {
        if (!storage.open(utf8_to_utf16(image.string()))) return false;
        list = {};
        const bool ok = storage.get_partition_list(list);
        storage.close();
        return ok;
    }

    test::test_ui ui;
    test::temp_dir dir;
    test::fake_devices devices;
    disk_storage storage;
    partition_list list{};
};

TEST_F(PartitionListTest, ChainOfLogicalPartitionsIsAbsoluteAndFollowsLinksAcrossGaps) {
    test::sparse_image disk(dir.file("disk"), int64_t{600} << 20);
    put_entry(disk, 0, 0, 0x07, 2048, 4096);
    put_entry(disk, 0, 1, 0x0F, 1000000, 200000);
    put_entry(disk, 1000000, 0, 0x0C, 2048, 10000);   // logical 5 at 1 002 048
    put_entry(disk, 1000000, 1, 0x05, 50000, 30000);  // next record 50 000 sectors in: a gap after logical 5
    put_entry(disk, 1050000, 0, 0x06, 2048, 8000);    // logical 6 at 1 052 048
    ASSERT_TRUE(read_list(disk.path()));
    EXPECT_EQ(list[0].type, 0x07);
    EXPECT_EQ(list[1].type, 0x0F);
    EXPECT_EQ(list[4].first_sector, 1002048u);
    EXPECT_EQ(list[4].sectors, 10000u);
    EXPECT_EQ(list[5].type, 0x06);
    EXPECT_EQ(list[5].first_sector, 1052048u);
    EXPECT_EQ(list[6].type, 0);  // the last record's empty link ends the list
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(PartitionListTest, LoopingChainEnds) {
    test::sparse_image disk(dir.file("disk"), 64 << 20);
    put_entry(disk, 0, 0, 0x05, 2048, 100000);
    put_entry(disk, 2048, 0, 0x07, 63, 1000);
    put_entry(disk, 2048, 1, 0x05, 2000, 1000);  // to the record at 4048
    put_entry(disk, 4048, 0, 0x07, 63, 1000);
    put_entry(disk, 4048, 1, 0x05, 0, 1000);  // back to the first record
    ASSERT_TRUE(read_list(disk.path()));
    EXPECT_EQ(list[4].first_sector, 2111u);
    EXPECT_EQ(list[5].first_sector, 4111u);
}

TEST_F(PartitionListTest, ChainLongerThanTheListStopsAtItsEnd) {
    test::sparse_image disk(dir.file("disk"), 64 << 20);
    put_entry(disk, 0, 0, 0x05, 2048, 100000);
    for (int i = 0; i < 30; ++i) {
        put_entry(disk, 2048 + i * 100, 0, 0x0B, 10, 50);
        put_entry(disk, 2048 + i * 100, 1, 0x05, static_cast<uint32_t>((i + 1) * 100), 100);
    }
    ASSERT_TRUE(read_list(disk.path()));
    EXPECT_EQ(list[18].first_sector, static_cast<uint64_t>(2048 + 14 * 100 + 10));
    EXPECT_EQ(list[19].type, 0x05);  // the link of the last record read, left in the last slot
}

TEST_F(PartitionListTest, MissingSignatureIsReported) {
    test::sparse_image disk(dir.file("disk"), 1 << 20);
    put_entry(disk, 0, 0, 0x07, 2048, 10);
    disk.put(510, 0, 2);
    EXPECT_FALSE(read_list(disk.path()));
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"disk_storage::get_partition_list=> Not valid MBR signature"});
}

TEST_F(PartitionListTest, UnreadableChainFailsTheWholeList) {
    test::sparse_image disk(dir.file("disk"), 1 << 20);
    put_entry(disk, 0, 0, 0x0F, 0xFFFFFFF0u, 100);  // the extended partition lies far past the image
    EXPECT_TRUE(read_list(disk.path()));  // a read past the end gives an empty record, which ends the chain
    EXPECT_EQ(list[4].type, 0);
}

TEST(PartitionTypeName, NamesAndUnknown) {
    EXPECT_EQ(partition_type_name(0x07), u"NTFS");
    EXPECT_EQ(partition_type_name(0x0C), u"FAT32 (LBA)");
    EXPECT_EQ(partition_type_name(0x14), u"Hidden FAT16 [16 Mb - 32 Mb] (CHS)");
    EXPECT_EQ(partition_type_name(0xEE), u"Unknown");
    EXPECT_TRUE(is_container_type(0x05));
    EXPECT_TRUE(is_container_type(0x0F));
    EXPECT_FALSE(is_container_type(0x0C));
}

}  // namespace
}  // namespace kvl
