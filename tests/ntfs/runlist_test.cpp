#include <gtest/gtest.h>

#include "ntfs/ntfs_attributes.h"
#include "support/byte_builder.h"

namespace kvl {
namespace {

std::optional<run_list> decode(const std::vector<uint8_t>& pairs, int64_t lowest = 0, int64_t highest = 0) {
    const std::vector<uint8_t> a = test::nonresident_attribute(AT_DATA, lowest, highest, pairs);
    return decode_runlist(4096, le_bytes(a), nullptr);
}

TEST(Runlist, DecodesLengthsOffsetsBackwardJumpsAndHoles) {
    EXPECT_EQ(decode({0x21, 0x18, 0x34, 0x56, 0x00}), (run_list{{0, 0x5634, 0x18}, {0x18, LCN_END, 0}}));
    EXPECT_EQ(decode({0x21, 0x20, 0xE8, 0x03, 0x11, 0x10, 0xF0, 0x00}),
              (run_list{{0, 1000, 0x20}, {0x20, 984, 0x10}, {0x30, LCN_END, 0}}));
    EXPECT_EQ(decode({0x11, 0x04, 0x10, 0x01, 0x08, 0x11, 0x02, 0x02, 0x00}),
              (run_list{{0, 16, 4}, {4, LCN_HOLE, 8}, {12, 18, 2}, {14, LCN_END, 0}}));
    EXPECT_EQ(decode({0x11, 0x04, 0x10, 0x00}, 0, 3), (run_list{{0, 16, 4}, {4, LCN_END, 0}}));
    EXPECT_EQ(decode({0x11, 0x04, 0x10, 0x00}, 100, 103),
              (run_list{{0, LCN_NOT_MAPPED, 100}, {100, 16, 4}, {104, LCN_NOT_MAPPED, 0}}));
}

TEST(Runlist, RefusesDamagedLists) {
    const struct {
        const char* what;
        std::vector<uint8_t> pairs;
        int64_t highest;
    } cases[] = {
        {"length nibble 0", {0x10, 0x05, 0x00}, 0},
        {"negative length", {0x11, 0xF0, 0x10, 0x00}, 0},
        {"first run before the volume", {0x11, 0x04, 0xF0, 0x00}, 0},
        {"pair past the attribute", {0x28, 0x01}, 0},
        {"length of nine bytes", {0x19, 1, 1, 1, 1, 1, 1, 1, 1, 1, 0x00}, 0},
        {"byte offset beyond 64 bits", {0x81, 0x01, 0, 0, 0, 0, 0, 0, 0, 0x10, 0x00}, 0},
        {"length beyond 64-bit bytes", {0x18, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x0F, 0x00}, 0},
        {"highest VCN that does not match", {0x11, 0x04, 0x10, 0x00}, 7},
    };
    for (const auto& c : cases) EXPECT_FALSE(decode(c.pairs, 0, c.highest)) << c.what;
    // Without the terminating zero inside the attribute the list is refused too.
    std::vector<uint8_t> a = test::nonresident_attribute(AT_DATA, 0, 0, {0x11, 0x04, 0x10});
    a.resize(67);
    EXPECT_FALSE(decode_runlist(4096, le_bytes(a), nullptr));
}

TEST(Runlist, MergesExtentsInVcnOrderJoiningContinuations) {
    const run_list base = *decode({0x21, 0x64, 0xE8, 0x03, 0x00}, 0, 99);      // 100 clusters at 1000
    const run_list later = *decode({0x21, 0x32, 0x4C, 0x04, 0x00}, 100, 149);  // 50 clusters at 1100
    EXPECT_EQ(merge_runlists(base, later), (run_list{{0, 1000, 150}, {150, LCN_END, 0}}));
    const run_list apart = *decode({0x21, 0x32, 0xD0, 0x07, 0x00}, 100, 149);  // 50 clusters at 2000
    EXPECT_EQ(merge_runlists(base, apart), (run_list{{0, 1000, 100}, {100, 2000, 50}, {150, LCN_END, 0}}));
    const run_list overlapping = *decode({0x21, 0x32, 0xD0, 0x07, 0x00}, 50, 99);
    EXPECT_FALSE(merge_runlists(base, overlapping));
}

data_chunks chunks_of(const run_list& runs, uint8_t unit, uint16_t flags) {
    const std::vector<uint8_t> a = test::nonresident_attribute(AT_DATA, 0, 0, {0x00}, unit, flags);
    data_chunks out;
    EXPECT_TRUE(runs_to_chunks(le_bytes(a), runs, out, 4096));
    return out;
}

TEST(Runlist, RunsBecomePlainExtentsHolesAndCompressedUnits) {
    const data_chunks plain = chunks_of({{0, 10, 2}, {2, LCN_HOLE, 3}, {5, 12, 1}, {6, LCN_END, 0}}, 0, 0);
    EXPECT_EQ(plain.chunks, (std::vector<chunk_item>{{40960, 8192, 0}, {-4096, 12288, 0}, {49152, 4096, 0}}));
    EXPECT_TRUE(plain.filter.empty());

    // Units of 16 clusters: 20 at LCN 100 then a 12-cluster hole.
    const data_chunks compressed =
        chunks_of({{0, 100, 20}, {20, LCN_HOLE, 12}, {32, LCN_END, 0}}, 4, ATTR_IS_COMPRESSED);
    EXPECT_EQ(compressed.chunks, (std::vector<chunk_item>{{409600, 65536, 0}, {475136, 65536, 16384}}));
    EXPECT_FALSE(compressed.filter.empty());

    // A sparse (not compressed) attribute with a compression unit keeps its data as stored.
    const data_chunks sparse =
        chunks_of({{0, LCN_HOLE, 24}, {24, 462, 2}, {26, LCN_HOLE, 6}, {32, LCN_END, 0}}, 4, 0x8000);
    EXPECT_EQ(sparse.chunks,
              (std::vector<chunk_item>{{-4096, 98304, 0}, {462 * 4096, 8192, 0}, {-4096, 24576, 0}}));

    // A huge hole is one extent, whatever its length.
    const data_chunks huge =
        chunks_of({{0, LCN_HOLE, int64_t{1} << 40}, {int64_t{1} << 40, LCN_END, 0}}, 4, ATTR_IS_COMPRESSED);
    ASSERT_EQ(huge.chunks.size(), 1u);
    EXPECT_EQ(huge.chunks[0].length, (int64_t{1} << 40) * 4096);
}

TEST(Runlist, ResidentPatchesCarryTheSavedSectorEnds) {
    std::vector<uint8_t> record(1024);
    test::put(record, 4, 0x30, 2);
    test::put(record, 6, 3, 2);
    test::put(record, 0x32, 0xBBAA, 2);
    test::put(record, 0x34, 0xDDCC, 2);
    data_chunks out;
    resident_patches(le_bytes(record), 300, 700, out);  // the value covers 300..999
    EXPECT_EQ(out.patches, (std::vector<patch_item>{{210, 0xAA}, {211, 0xBB}}));
    resident_patches(le_bytes(record), 100, 1000, out);
    EXPECT_EQ(out.patches, (std::vector<patch_item>{{410, 0xAA}, {411, 0xBB}, {922, 0xCC}, {923, 0xDD}}));
}

}  // namespace
}  // namespace kvl
