#include <gtest/gtest.h>

#include "core/text.h"
#include "ntfs/ntfs_record.h"
#include "ntfs/record_cache.h"
#include "support/byte_builder.h"
#include "support/fake_devices.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

std::vector<uint8_t> record_with_fixups(uint16_t count, uint32_t in_use) {
    std::vector<uint8_t> r(1024, 0x11);
    test::put_text(r, 0, "FILE");
    test::put(r, 4, 0x31, 2);  // an odd offset is rounded down
    test::put(r, 6, count, 2);
    test::put(r, 24, in_use, 4);
    test::put(r, 0x30, 0x0707, 2);  // the update sequence number
    test::put(r, 0x32, 0xBBAA, 2);
    test::put(r, 0x34, 0xDDCC, 2);
    test::put(r, 510, 0x0707, 2);
    test::put(r, 1022, 0x0707, 2);
    return r;
}

TEST(Fixups, RestoreSectorEndsInsideTheBytesInUse) {
    std::vector<uint8_t> r = record_with_fixups(3, 766);
    apply_fixups(r);
    EXPECT_EQ(le_bytes(r).u16(510), 0xBBAA);
    EXPECT_EQ(le_bytes(r).u16(1022), 0xDDCC);

    r = record_with_fixups(3, 700);
    apply_fixups(r);
    EXPECT_EQ(le_bytes(r).u16(510), 0xBBAA);
    EXPECT_EQ(le_bytes(r).u16(1022), 0x0707);  // the second sector end lies past the used part

    r = record_with_fixups(1, 1024);
    apply_fixups(r);
    EXPECT_EQ(le_bytes(r).u16(510), 0x0707);
}

TEST(Fixups, CountsThatWrapOrReachPastTheRecordStayInside) {
    for (const uint16_t count : {uint16_t{0}, uint16_t{40}, uint16_t{0xFFFF}}) {
        std::vector<uint8_t> r = record_with_fixups(count, 0x7FFFFFFF);
        r.resize(1024);
        const std::vector<uint8_t> before = r;
        apply_fixups(std::span(r).first(1024));
        EXPECT_EQ(r.size(), 1024u);
        EXPECT_EQ(le_bytes(r).u16(510), 0xBBAA) << count;
    }
    std::vector<uint8_t> tiny = {'F', 'I', 'L', 'E', 0xFE, 0xFF, 0x05, 0x00};
    apply_fixups(tiny);  // the array lies outside: nothing changes
    EXPECT_EQ(tiny[4], 0xFE);
}

TEST(RecordSize, FromTheClustersPerRecordByte) {
    EXPECT_EQ(record_size_from_boot(static_cast<int8_t>(0xF6), 4096), 1024);
    EXPECT_EQ(record_size_from_boot(2, 512), 1024);
    EXPECT_EQ(record_size_from_boot(0, 4096), 0);                          // refused: no size
    EXPECT_EQ(record_size_from_boot(static_cast<int8_t>(0x81), 4096), 0);  // 2^127
    EXPECT_EQ(record_size_from_boot(127, 1 << 20), 0);
}

// A small NTFS image whose MFT holds records that carry their own index at offset 100.
class RecordCacheTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::sparse_image image(dir.file("volume.img"), 1 << 20);
        image.put_text(3, "NTFS    ");
        image.put(11, 512, 2);
        image.put(13, 1, 1);
        image.put(40, 2048, 8);
        image.put(64, 0xF6, 1);
        for (int i = 0; i < 16; ++i) {
            image.put_text(65536 + i * 1024, "FILE");
            image.put(65536 + i * 1024 + 100, static_cast<uint64_t>(i), 4);
        }
        ASSERT_TRUE(volume.open(dir.u16("volume.img")));
        mft = data_chunks(65536, 16 * 1024);
    }
    void TearDown() override { volume.close(); }
    uint32_t index_in(const uint8_t* bytes) { return le_bytes(bytes, 1024).u32(100); }

    test::test_ui ui;
    test::temp_dir dir;
    disk_storage volume;
    data_chunks mft;
    record_cache cache;
};

TEST_F(RecordCacheTest, LeastUsedSlotGoesFirstAndCountsNeverDecay) {
    ASSERT_TRUE(cache.init(volume, &mft, 3));
    for (int64_t index : {5, 6, 5, 7}) ASSERT_EQ(index_in(cache.get(index)), index);
    EXPECT_EQ(index_in(cache.get(8)), 8u);
    std::vector<int64_t> held;
    for (const auto& slot : cache.slots()) held.push_back(slot->index);
    EXPECT_EQ(held, (std::vector<int64_t>{5, 8, 7}));  // 6 was the earliest slot with one hit
    EXPECT_EQ(cache.get(99), nullptr);                 // beyond the MFT: the slot is left empty
    cache.close();
}

TEST_F(RecordCacheTest, WithoutSlotsRecordsAreStillRead) {
    ASSERT_TRUE(cache.init(volume, &mft, 0));
    EXPECT_EQ(index_in(cache.get(3)), 3u);
    EXPECT_EQ(index_in(cache.get(4)), 4u);
    cache.close();
}

TEST_F(RecordCacheTest, RecordsByIndexAndOffsetCheckTheirSignature) {
    ntfs_record record;
    ASSERT_TRUE(record.assign_by_index(volume, 9, mft));
    EXPECT_EQ(record.offset, 65536 + 9 * 1024);
    EXPECT_EQ(record.bytes().u32(100), 9u);
    ASSERT_TRUE(record.assign_by_offset(volume, 65536 + 2 * 1024));
    EXPECT_EQ(record.bytes().u32(100), 2u);
    EXPECT_TRUE(record.mft_chunks.chunks.empty());
    EXPECT_FALSE(record.assign_by_offset(volume, 4096));
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"ntfs_record::assign_by_offset=> Not valid signature"});
}

}  // namespace
}  // namespace kvl
