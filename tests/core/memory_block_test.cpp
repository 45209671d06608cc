#include "core/memory_block.h"

#include <gtest/gtest.h>

#include "support/test_ui.h"

namespace kvl {
namespace {

TEST(MemoryBlock, MisalignedResizeIsReportedAndKeepsThePreviousBlock) {
    test::test_ui ui;
    memory_block block;
    block.resize(512, 512);
    block.data()[0] = 0x42;
    const uint8_t* before = block.data();
    block.resize(1000, 512);
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"memory_block::resize=> Size 1000 is not 512 aligned"});
    EXPECT_EQ(block.size(), 512);
    EXPECT_EQ(block.data(), before);
    EXPECT_EQ(block.data()[0], 0x42);
}

TEST(MemoryBlock, ResizeGivesZeroedBytesAndZeroSizeIsAllowed) {
    test::test_ui ui;
    memory_block block;
    block.resize(0, 512);
    EXPECT_EQ(block.size(), 0);
    block.resize(4096, 512);
    ASSERT_EQ(block.size(), 4096);
    for (uint8_t b : block.bytes()) ASSERT_EQ(b, 0);
    block.resize(-512, 512);
    EXPECT_EQ(block.size(), 4096);
    block.destroy();
    EXPECT_EQ(block.size(), 0);
    EXPECT_EQ(block.data(), nullptr);
    EXPECT_EQ(ui.log.lines.size(), 1u);
}

TEST(Alignment, AlignUpAndIsAligned) {
    EXPECT_EQ(align_up(1000, 512), 1024);
    EXPECT_EQ(align_up(1024, 512), 1024);
    EXPECT_EQ(align_up(0, 512), 0);
    EXPECT_EQ(align_up(1, 1), 1);
    EXPECT_TRUE(is_aligned(32256, 512));
    EXPECT_FALSE(is_aligned(100, 512));
    EXPECT_TRUE(is_aligned(-1024, 512));
    EXPECT_FALSE(is_aligned(100, 0));  // never passed; must not divide by zero
}

TEST(MemoryBlock, FromHex) {
    const struct {
        const char16_t* text;
        std::vector<uint8_t> bytes;
        int32_t converted;
    } cases[] = {
        {u"0x4D5A", {0x4D, 0x5A}, 2},
        {u"4d5a9", {0x4D, 0x5A}, 2},  // the odd digit is ignored
        {u"  FFD8FF \t", {0xFF, 0xD8, 0xFF}, 3},
        {u"0X4D5A", {0, 0, 0}, 0},     // capital X is not a prefix: conversion stops at once
        {u"FFz8FF", {0xFF, 0, 0}, 1},  // stops at the first non-digit, the rest stays zero
        {u"F", {0}, 0},                // a single digit gives one byte and no conversion
        {u"", {0}, 0},
    };
    for (const auto& c : cases) {
        memory_block block;
        EXPECT_EQ(block.from_hex(c.text), c.converted);
        EXPECT_EQ(std::vector<uint8_t>(block.bytes().begin(), block.bytes().end()), c.bytes);
    }
}

TEST(Buffer, SplitsIntoPiecesWithAShorterLastOne) {
    test::test_ui ui;
    const buffer split(1000, 512);
    EXPECT_EQ(split.count(), 2);
    EXPECT_EQ(split[0], 512);
    EXPECT_EQ(split[1], 488);
    EXPECT_EQ(split[2], 0);
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"operator buffer::[]=> Buffer index out of bounds"});

    EXPECT_EQ(buffer(1024, 512).count(), 2);
    EXPECT_EQ(buffer(1024, 512)[1], 512);
    EXPECT_EQ(buffer(0, 512).count(), 0);
    EXPECT_EQ(buffer(1000, 0).count(), 0);  // a piece of 0 makes no pieces instead of dividing by zero
    EXPECT_EQ(buffer(int64_t{5} << 40, 1).count(), 0);  // more pieces than a count can hold: refused
}

}  // namespace
}  // namespace kvl
