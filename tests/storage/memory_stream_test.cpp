#include "storage/memory_stream.h"

#include <gtest/gtest.h>

#include "support/test_ui.h"

namespace kvl {
namespace {

const uint8_t abc[] = {'a', 'b', 'c'};

TEST(MemoryStream, NewStreamIsEmpty) {
    test::test_ui ui;
    memory_stream s;
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.get_pos(), 0);
    uint8_t byte = 0;
    EXPECT_FALSE(s.read(&byte, 1));
    EXPECT_GE(s.capacity(), 1);
    memory_stream zero(0);  // doubling from zero would never grow
    EXPECT_TRUE(zero.write(abc, 3));
    EXPECT_EQ(zero.size(), 3);
}

TEST(MemoryStream, WritesGrowByDoubling) {
    test::test_ui ui;
    memory_stream s(1);
    ASSERT_TRUE(s.write(abc, 3));
    EXPECT_EQ(s.capacity(), 4);
    EXPECT_EQ(s.size(), 3);
    EXPECT_EQ(s.get_pos(), 3);
    ASSERT_TRUE(s.seek(1, seek_from_start));
    const uint8_t five[] = {'1', '2', '3', '4', '5'};
    ASSERT_TRUE(s.write(five, 5));
    EXPECT_EQ(s.size(), 6);
    EXPECT_EQ(std::string(s.bytes().begin(), s.bytes().end()), "a12345");
    EXPECT_FALSE(s.write(five, 0));
}

TEST(MemoryStream, SeeksStayInsideTheData) {
    test::test_ui ui;
    memory_stream s;
    s.write(abc, 3);
    EXPECT_TRUE(s.seek(3, seek_from_start));
    EXPECT_FALSE(s.seek(4, seek_from_start));
    EXPECT_EQ(s.get_pos(), 3);
    ASSERT_TRUE(s.seek(0, seek_from_start));
    EXPECT_FALSE(s.seek(-1, 0));
    // A 64-bit offset is never wrapped into the buffer.
    EXPECT_FALSE(s.seek((int64_t{1} << 32) + 1, seek_from_start));
    EXPECT_EQ(s.get_pos(), 0);
    EXPECT_EQ(ui.log.lines.size(), 3u);
    EXPECT_EQ(ui.log.lines[0].text, u"memory_stream::seek=> Seek has jumped outside the stream");
}

TEST(MemoryStream, ShortReadsAndFlush) {
    test::test_ui ui;
    memory_stream s;
    s.write(abc, 3);
    s.seek(1, seek_from_start);
    uint8_t out[10] = {};
    EXPECT_TRUE(s.read(out, 10));
    EXPECT_EQ(out[0], 'b');
    EXPECT_EQ(out[1], 'c');
    EXPECT_EQ(out[2], 0);
    EXPECT_EQ(s.get_pos(), 3);
    const int32_t capacity = s.capacity();
    ASSERT_TRUE(s.flush());
    EXPECT_EQ(s.size(), 0);
    EXPECT_EQ(s.get_pos(), 0);
    EXPECT_EQ(s.capacity(), capacity);
}

TEST(MemoryStream, SetLengthPullsThePositionBack) {
    test::test_ui ui;
    memory_stream s;
    s.write(abc, 3);
    ASSERT_TRUE(s.set_length(1));
    EXPECT_EQ(s.get_pos(), 1);
    ASSERT_TRUE(s.set_length(100));
    EXPECT_EQ(s.size(), 100);
    EXPECT_GE(s.capacity(), 100);
}

}  // namespace
}  // namespace kvl
