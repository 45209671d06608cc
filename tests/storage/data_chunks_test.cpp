#include "storage/data_chunks.h"

#include <gtest/gtest.h>

#include "storage/file_stream.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

data_chunks two_extents() {
    data_chunks chunks;
    chunks.add_chunk({1000, 512, 0});
    chunks.add_chunk({5000, 100, 0});
    return chunks;
}

TEST(DataChunks, VcnToLcnWalksTheExtents) {
    test::test_ui ui;
    const data_chunks chunks = two_extents();
    EXPECT_EQ(chunks.total_length(), 612);
    EXPECT_EQ(chunks.vcn_to_lcn(0), 1000);
    EXPECT_EQ(chunks.vcn_to_lcn(511), 1511);
    EXPECT_EQ(chunks.vcn_to_lcn(512), 5000);
    EXPECT_EQ(chunks.vcn_to_lcn(611), 5099);
    EXPECT_EQ(chunks.vcn_to_lcn(612), -1);
    EXPECT_EQ(chunks.vcn_to_lcn(-1), -1);
    EXPECT_EQ(ui.log_texts(), (std::vector<std::u16string>{u"data_chunks::vcn_to_lcn=> Chunk data overrun",
                                                           u"data_chunks::vcn_to_lcn=> Chunk data overrun"}));
    EXPECT_EQ(data_chunks().total_length(), 0);
}

TEST(DataChunks, ZeroLengthExtentsAreNeverChosen) {
    test::test_ui ui;
    data_chunks chunks;
    chunks.add_chunk({100, 0, 0});
    chunks.add_chunk({7000, 10, 0});
    chunks.add_chunk({200, 0, 0});
    EXPECT_EQ(chunks.vcn_to_lcn(0), 7000);
    EXPECT_EQ(chunks.vcn_to_lcn(10), -1);
}

TEST(DataChunks, TotalOfHugeExtentsDoesNotOverflow) {
    data_chunks chunks;
    chunks.add_chunk({0, INT64_MAX, 0});
    chunks.add_chunk({0, INT64_MAX, 0});
    EXPECT_EQ(chunks.total_length(), INT64_MAX);
}

class ChunkReadTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::vector<uint8_t> bytes(8192);
        for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
        test::write_file(dir.file("storage"), bytes);
        ASSERT_TRUE(storage.open(dir.u16("storage"), platform::open_access::read_only));
        storage.alignment = 512;
    }
    void TearDown() override { storage.close(); }
    static uint8_t at(int64_t offset) { return static_cast<uint8_t>(offset * 7); }

    test::test_ui ui;
    test::temp_dir dir;
    file_stream storage;
};

TEST_F(ChunkReadTest, ReadCrossesExtentsAndStopsAtTheEndOfTheData) {
    memory_block block;
    block.resize(200, 1);
    EXPECT_FALSE(stream::read_(storage, 450, block, two_extents()));
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"stream::read_=> Chunk data overrun"});
    for (int i = 0; i < 62; ++i) ASSERT_EQ(block.data()[i], at(1450 + i)) << i;
    for (int i = 0; i < 100; ++i) ASSERT_EQ(block.data()[62 + i], at(5000 + i)) << i;

    block.resize(100, 1);
    ui.log.clear();
    EXPECT_TRUE(stream::read_(storage, 512, block, two_extents()));
    EXPECT_EQ(block.data()[99], at(5099));
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(ChunkReadTest, ReadInPiecesReadsTheLastPartialSectorWhole) {
    std::vector<uint8_t> out(1000, 0xEE);
    ASSERT_TRUE(storage.seek(512, seek_from_start));
    ASSERT_TRUE(read_in_pieces(storage, out.data(), 1000, 512));
    for (int i = 0; i < 1000; ++i) ASSERT_EQ(out[static_cast<size_t>(i)], at(512 + i)) << i;
    EXPECT_EQ(storage.get_pos(), 1536);  // 512 directly, then one whole sector of which 488 were kept

    EXPECT_FALSE(read_in_pieces(storage, out.data(), 1000, 1000));
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"read_in_pieces=> Buffer size 1000 is not 512 aligned"});
}

}  // namespace
}  // namespace kvl
