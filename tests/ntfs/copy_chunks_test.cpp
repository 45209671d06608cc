#include "ntfs/copy_chunks.h"

#include <gtest/gtest.h>

#include "ntfs/lznt1.h"
#include "storage/memory_stream.h"
#include "support/byte_builder.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// A storage of 64 KiB whose byte i is i mod 253, held in memory.
class CopyChunksTest : public ::testing::Test {
  protected:
    void SetUp() override {
        for (int i = 0; i < 65536; ++i) {
            const uint8_t b = static_cast<uint8_t>(i % 253);
            storage.write(&b, 1);
        }
    }
    std::vector<uint8_t> copy(const data_chunks& chunks, int32_t piece, int stop_after = -1) {
        std::vector<uint8_t> out;
        int pieces = 0;
        result =
            copy_chunks(storage, chunks, piece, [&](int64_t, int64_t, const uint8_t* data, int32_t length) {
                out.insert(out.end(), data, data + length);
                return ++pieces != stop_after;
            });
        return out;
    }
    static uint8_t at(int64_t offset) { return static_cast<uint8_t>(offset % 253); }

    test::test_ui ui;
    memory_stream storage;
    bool result = false;
};

TEST_F(CopyChunksTest, HolesGiveZeros) {
    data_chunks chunks;
    chunks.add_chunk({1000, 700, 0});
    chunks.add_chunk({-1, 300, 0});
    chunks.add_chunk({5000, 10, 0});
    const std::vector<uint8_t> out = copy(chunks, 300);
    ASSERT_TRUE(result);
    ASSERT_EQ(out.size(), 1010u);
    EXPECT_EQ(out[0], at(1000));
    EXPECT_EQ(out[699], at(1699));
    EXPECT_EQ(std::count(out.begin() + 700, out.begin() + 1000, 0), 300);
    EXPECT_EQ(out[1000], at(5000));
}

// A resident value read raw from its record, with the saved sector ends put back, also where a
// piece boundary splits them.
TEST_F(CopyChunksTest, PatchesLandAcrossPieceBoundaries) {
    data_chunks value(1000, 700);
    value.patches = {{299, 0xA1}, {300, 0xA2}, {699, 0xA3}};
    const std::vector<uint8_t> out = copy(value, 300);
    ASSERT_EQ(out.size(), 700u);
    EXPECT_EQ(out[298], at(1298));
    EXPECT_EQ(out[299], 0xA1);
    EXPECT_EQ(out[300], 0xA2);
    EXPECT_EQ(out[699], 0xA3);
}

TEST_F(CopyChunksTest, SinkThatStopsAndPieceSizeZero) {
    data_chunks chunks(0, 2000);
    EXPECT_EQ(copy(chunks, 512, 1).size(), 512u);
    EXPECT_TRUE(result);
    EXPECT_TRUE(copy(chunks, 0).empty());
    EXPECT_FALSE(result);
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"copy_chunks=> Piece size 0 is not valid"});
}

TEST_F(CopyChunksTest, TruncateCutsAtTheLimitAndZeroLeavesEmptyExtents) {
    data_chunks chunks;
    chunks.add_chunk({0, 100, 0});
    chunks.add_chunk({200, 100, 0});
    chunks.add_chunk({400, 100, 0});
    data_chunks cut = chunks;
    truncate_chunks(cut, 150);
    EXPECT_EQ(cut.chunks, (std::vector<chunk_item>{{0, 100, 0}, {200, 50, 0}}));
    truncate_chunks(chunks, 0);
    EXPECT_EQ(chunks.chunks, (std::vector<chunk_item>{{0, 0, 0}}));
    EXPECT_TRUE(copy(chunks, 512).empty());
    EXPECT_TRUE(result);
    data_chunks whole(0, 100);
    truncate_chunks(whole, 1000);
    EXPECT_EQ(whole.chunks, (std::vector<chunk_item>{{0, 100, 0}}));
}

TEST_F(CopyChunksTest, CompressedUnitsDecodeAndACutUnitDeliversItsBeginning) {
    // One stored LZNT1 block of 4096 bytes 'z' at storage offset 8192, a unit of 8192 bytes output.
    std::vector<uint8_t> unit(2);
    test::put(unit, 0, 0x3FFF, 2);
    unit.resize(2 + 4096, 'z');
    ASSERT_TRUE(storage.seek(8192, seek_from_start));
    ASSERT_TRUE(storage.write(unit.data(), static_cast<int32_t>(unit.size())));
    data_chunks chunks;
    chunks.filter = lznt1_decompress;
    chunks.add_chunk({0, 10, 0});
    chunks.add_chunk({8192, 8192, 4098});
    chunks.add_chunk({100, 5, 0});
    std::vector<uint8_t> out = copy(chunks, 4096);
    ASSERT_EQ(out.size(), 10u + 8192 + 5);
    EXPECT_EQ(std::count(out.begin() + 10, out.begin() + 4106, 'z'), 4096);
    EXPECT_EQ(std::count(out.begin() + 4106, out.begin() + 8202, 0),
              4096);  // the unit's second block is absent

    truncate_chunks(chunks, 10 + 3000);
    out = copy(chunks, 4096);
    ASSERT_EQ(out.size(), 3010u);
    EXPECT_EQ(std::count(out.begin() + 10, out.end(), 'z'), 3000);

    data_chunks broken;
    broken.filter = lznt1_decompress;
    broken.add_chunk({0, 8192, 100});  // bytes 0..99 of the storage are no LZNT1 data
    broken.add_chunk({100, 5, 0});
    out = copy(broken, 4096);
    // An undecodable unit reads as zeros, reported, so the bytes after it keep their places.
    ASSERT_EQ(out.size(), 8192u + 5);
    EXPECT_EQ(std::count(out.begin(), out.begin() + 8192, 0), 8192);
    EXPECT_EQ(out[8192], at(100));
    EXPECT_TRUE(result);
    ASSERT_FALSE(ui.log.lines.empty());
    EXPECT_EQ(ui.log.lines.back().text,
              u"copy_chunks=> The compressed unit at 0 does not decode; it reads as zeros");
}

TEST_F(CopyChunksTest, CancelEndsTheCopyAfterThePiece) {
    storage.progress.show_after_delay = false;
    ui.pump.on_pump = [&] {
        if (ui.pump.calls == 2) ui.progress.press_cancel();
    };
    EXPECT_EQ(copy(data_chunks(0, 10000), 1000).size(), 2000u);
    EXPECT_TRUE(result);
}

}  // namespace
}  // namespace kvl
