#include <gtest/gtest.h>

#include <cstring>

#include "core/text.h"
#include "fat/fat_directory.h"
#include "support/fake_devices.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// A FAT16 image of 512-byte clusters: 1 reserved sector, one FAT of 4 sectors, a 16-entry root.
// Cluster c lies at byte (c - 2 + 6) * 512.
class ChainTest : public ::testing::Test {
  protected:
    void SetUp() override { entries.assign(1024, 0); }
    void open(int32_t sectors = 1024, const std::string& type = "FAT16   ", int fat_sectors = 4) {
        test::sparse_image image(dir.file("fat.img"), int64_t{sectors} * 512);
        image.write(0, {0xEB, 0x3C, 0x90});
        image.put(11, 512, 2);
        image.put(13, 1, 1);
        image.put(14, 1, 2);
        image.put(16, 1, 1);
        image.put(17, 16, 2);
        image.put(19, static_cast<uint64_t>(sectors), 2);
        image.put(22, static_cast<uint64_t>(fat_sectors), 2);
        image.put_text(54, type);
        image.put(510, 0xAA55, 2);
        for (size_t c = 0; c < entries.size() && c * 2 < static_cast<size_t>(fat_sectors) * 512; ++c)
            image.put(512 + static_cast<int64_t>(c) * 2, entries[c], 2);
        for (const auto& [cluster, byte] : first_bytes) image.put((cluster + 4) * 512 + 12, byte, 1);
        ASSERT_TRUE(storage.open(dir.u16("fat.img")));
        ASSERT_TRUE(volume.assign_storage(storage));
        ASSERT_TRUE(volume.load_fat(300));
    }
    void TearDown() override {
        if (storage.is_open()) storage.close();
    }
    // The chunks as runs of clusters (first, count).
    std::vector<std::pair<int64_t, int64_t>> runs(uint32_t start, int64_t size, uint32_t limit,
                                                  int32_t algorithm,
                                                  const disk_storage_fat::cluster_check& check = {}) {
        data_chunks chunks;
        ok = volume.get_item_chunks(start, chunks, size, limit, algorithm, check);
        std::vector<std::pair<int64_t, int64_t>> out;
        for (const chunk_item& c : chunks.chunks) out.push_back({c.offset / 512 - 4, c.length / 512});
        return out;
    }

    test::test_ui ui;
    test::temp_dir dir;
    disk_storage storage;
    disk_storage_fat volume;
    std::vector<uint16_t> entries;
    std::vector<std::pair<int64_t, uint8_t>> first_bytes;
    bool ok = false;
};

using run_vector = std::vector<std::pair<int64_t, int64_t>>;

TEST_F(ChainTest, GeometryOfTheFat16Volume) {
    open();
    EXPECT_EQ(volume.cluster_size(), 512);
    EXPECT_EQ(volume.cluster_to_offset(2), 6 * 512);
    EXPECT_EQ(volume.offset_to_cluster(6 * 512 + 700), 3);
    EXPECT_EQ(volume.offset_in_cluster(6 * 512 + 700), 188);
    EXPECT_EQ(volume.highest_cluster(), 1023 - 6 + 2);
    EXPECT_EQ(volume.root_region_offset(), 5 * 512);
    EXPECT_EQ(volume.root_region_length(), 512);
}

TEST_F(ChainTest, LiveChainWithAJumpMergesIntoTwoExtents) {
    entries[5] = 6, entries[6] = 7, entries[7] = 10, entries[10] = 11, entries[11] = 0xFFFF;
    open();
    EXPECT_EQ(runs(5, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_AUTO), (run_vector{{5, 3}, {10, 2}}));
    EXPECT_TRUE(ok);
}

TEST_F(ChainTest, DeletedFileTakesTheNextFreeClustersOrConsecutiveOnes) {
    entries[101] = 0xFFFF, entries[102] = 0xFFFF;
    open();
    EXPECT_EQ(runs(100, 0, 3, FAT_RECOVER_ALGORITHM_AUTO), (run_vector{{100, 1}, {103, 2}}));
    EXPECT_EQ(runs(100, 0, 3, FAT_RECOVER_ALGORITHM_NOT_USE_FAT), (run_vector{{100, 3}}));
    // The entry's size gives the count when there is no limit.
    EXPECT_EQ(runs(100, 1500, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_AUTO),
              (run_vector{{100, 1}, {103, 2}}));
}

TEST_F(ChainTest, NoSizeAndNoLimitIsReportedForTheGuessingAlgorithms) {
    open();
    EXPECT_TRUE(runs(100, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION).empty());
    EXPECT_FALSE(ok);
    runs(100, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_NOT_USE_FAT);
    EXPECT_EQ(ui.log_texts(),
              (std::vector<std::u16string>{
                  u"disk_storage_fat::get_item_chunks=>  FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION : "
                  u"item_size_clusters и max_size_clusters не заданы",
                  u"disk_storage_fat::get_item_chunks=>  FAT_RECOVER_ALGORITHM_NOT_USE_FAT : "
                  u"item_size_clusters и max_size_clusters не заданы"}));
}

TEST_F(ChainTest, MarksAboveTheVolumeEndTheChain) {
    entries[20] = 21, entries[21] = 0xFFF8;  // not the exact end mark, but above the highest cluster
    entries[30] = 0;
    open();
    EXPECT_EQ(runs(20, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN), (run_vector{{20, 2}}));
    EXPECT_TRUE(runs(5000, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN)
                    .empty());  // start above the volume
    EXPECT_TRUE(ok);
}

TEST_F(ChainTest, LoopingChainsEnd) {
    entries[40] = 41, entries[41] = 42, entries[42] = 40;  // back to the start
    entries[50] = 50;                                      // a cluster pointing at itself
    open();
    const run_vector loop = runs(40, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN);
    EXPECT_TRUE(ok);
    int64_t clusters = 0;
    for (const auto& r : loop) clusters += r.second;
    EXPECT_LE(clusters, volume.highest_cluster());
    EXPECT_FALSE(runs(50, 0, NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN).empty());
}

TEST_F(ChainTest, FreeClusterWalkEndsAtTheVolumesEnd) {
    open();
    const int64_t last = volume.highest_cluster();
    EXPECT_EQ(runs(static_cast<uint32_t>(last - 1), 0, 10, FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION),
              (run_vector{{last - 1, 2}}));
}

TEST_F(ChainTest, DirectoryCheckStopsBeforeAClusterThatIsNoDirectory) {
    entries[60] = 61, entries[61] = 0xFFFF;
    first_bytes = {{61, 0x20}};
    open();
    EXPECT_EQ(runs(60, 0, 600, FAT_RECOVER_ALGORITHM_AUTO, directory_check), (run_vector{{60, 1}}));
}

TEST_F(ChainTest, ATableShorterThanTheVolumeReadsAsOutOfRange) {
    entries[300] = 0xFFFF;
    open(4096, "FAT16   ", 1);  // one FAT sector: entries for clusters 0-255 only
    EXPECT_EQ(volume.get_fat_entry(255), 0);
    EXPECT_EQ(volume.get_fat_entry(256), -1);
    EXPECT_EQ(volume.get_fat_entry(300), -1);
}

TEST_F(ChainTest, Fat12EntriesShareBytes) {
    // Clusters 2 and 3 packed in bytes 3-5: 0x123 and 0x456 as 23 61 45.
    test::sparse_image image(dir.file("fat.img"), 1440 * 512);
    image.write(0, {0xEB, 0x3C, 0x90});
    image.put(11, 512, 2);
    image.put(13, 1, 1);
    image.put(14, 1, 2);
    image.put(16, 2, 1);
    image.put(17, 224, 2);
    image.put(19, 1440, 2);
    image.put(22, 9, 2);
    image.put_text(54, "FAT12   ");
    image.write(512 + 3, {0x23, 0x61, 0x45});
    ASSERT_TRUE(storage.open(dir.u16("fat.img")));
    ASSERT_TRUE(volume.assign_storage(storage));
    ASSERT_TRUE(volume.load_fat(300));
    EXPECT_EQ(volume.get_fat_entry(2), 0x123);
    EXPECT_EQ(volume.get_fat_entry(3), 0x456);
    EXPECT_EQ(volume.cluster_to_offset(2), (1 + 18 + 14) * 512);
}

TEST(FatVolume, ZeroGeometryIsRefused) {
    test::test_ui ui;
    test::temp_dir dir;
    test::sparse_image image(dir.file("fat.img"), 64 * 512);
    image.write(0, {0xEB, 0x3C, 0x90});
    image.put(11, 512, 2);
    image.put(13, 0, 1);  // no sectors per cluster
    image.put(19, 64, 2);
    image.put_text(54, "FAT16   ");
    disk_storage storage;
    ASSERT_TRUE(storage.open(dir.u16("fat.img")));
    disk_storage_fat volume;
    EXPECT_FALSE(volume.assign_storage(storage));
    storage.close();
}

TEST(FatNames, ShortNamesDotsFreeEntriesAndOrphanedParts) {
    memory_stream directory;
    const auto entry = [&](const std::string& name11, uint8_t attribute, uint8_t flags = 0) {
        uint8_t raw[32] = {};
        std::memcpy(raw, name11.data(), 11);
        raw[11] = attribute;
        raw[12] = flags;
        directory.write(raw, 32);
    };
    const auto part = [&](const std::u16string& units) {
        uint8_t raw[32] = {};
        raw[11] = 0x0F;
        const int at[] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
        for (size_t i = 0; i < 13; ++i) {
            const char16_t c = i < units.size() ? units[i] : (i == units.size() ? u'\0' : u'\xFFFF');
            raw[at[i]] = static_cast<uint8_t>(c);
            raw[at[i] + 1] = static_cast<uint8_t>(c >> 8);
        }
        directory.write(raw, 32);
    };
    entry(".          ", 0x10);
    entry("..         ", 0x10);
    entry("README  TXT", 0x20);
    entry("DOCS       ", 0x10);
    entry("MY FILE TXT", 0x20);
    entry("NOTES   TXT", 0x20, 0x18);
    part(u"er.txt");
    part(u"long name lat");  // parts come last first: this one is the first 13 units
    entry("LONGNA~1TXT", 0x20);
    std::string deleted =
        "\xE5"
        "LD     TXT";
    entry(deleted, 0x20);
    entry(std::string(11, '\0'), 0);
    entry("AFTER   BIN", 0x20);
    fat_items items;
    items.parse(directory, 0);
    std::vector<std::u16string> names;
    for (const fat_node& node : items.nodes) names.push_back(node.name);
    EXPECT_EQ(names, (std::vector<std::u16string>{u"README.TXT", u"DOCS", u"MY FILE.TXT", u"notes.txt",
                                                  u"long name later.txt", u"\u00e5LD.TXT", u"AFTER.BIN"}));
    fat_items from_second;
    from_second.parse(directory, 64);
    EXPECT_EQ(from_second.nodes.front().name, u"README.TXT");
}

TEST(FatDates, DosDateAndTimeAsTheyAre) {
    EXPECT_EQ(dos_date_time_text((44 << 9) | (7 << 5) | 1, (14 << 11) | (34 << 5) | 28),
              u"01.07.2024 14:34:56");
    EXPECT_EQ(dos_date_time_text((44 << 9) | (7 << 5) | 1, 0), u"01.07.2024");
    EXPECT_EQ(dos_date_time_text(0, 0), u"");
    EXPECT_EQ(dos_date_time_text((45 << 9) | (2 << 5) | 29, 0), u"");  // 29 February 2025
    EXPECT_EQ(dos_date_time_text((44 << 9) | (13 << 5) | 1, 0), u"");
}

}  // namespace
}  // namespace kvl
