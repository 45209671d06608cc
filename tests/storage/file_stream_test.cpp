#include "storage/file_stream.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// A file whose byte i is i mod 251, so every position has a recognisable value.
std::vector<uint8_t> pattern(size_t size) {
    std::vector<uint8_t> bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>(i % 251);
    return bytes;
}

class FileStreamTest : public ::testing::Test {
  protected:
    void SetUp() override {
        test::write_file(dir.file("disk.img"), pattern(64 * 1024));
        ASSERT_TRUE(source.open(dir.u16("disk.img"), platform::open_access::read_only));
    }
    void TearDown() override {
        if (source.is_open()) source.close();
    }

    test::test_ui ui;
    test::temp_dir dir;
    file_stream source;
};

TEST_F(FileStreamTest, PositionsAreRelativeToTheBaseOffset) {
    source.alignment = 512;
    source.base_offset = 32256;
    ASSERT_TRUE(source.seek(0, seek_from_start));
    EXPECT_EQ(source.get_pos(), 0);
    uint8_t sector[512];
    ASSERT_TRUE(source.read(sector, 512));
    EXPECT_EQ(sector[0], 32256 % 251);
    EXPECT_EQ(source.get_pos(), 512);
    EXPECT_EQ(source.size(), 64 * 1024);  // the whole file, whatever the base
}

TEST_F(FileStreamTest, MisalignedSeekAndReadAreRefusedBeforeAnySystemCall) {
    source.alignment = 512;
    source.base_offset = 32256;
    ASSERT_TRUE(source.seek(512, seek_from_start));
    EXPECT_FALSE(source.seek(100, seek_from_start));
    uint8_t data[1000] = {};
    EXPECT_FALSE(source.read(data, 1000));
    EXPECT_EQ(source.get_pos(), 512);  // neither moved the file
    EXPECT_EQ(ui.log_texts(), (std::vector<std::u16string>{
                                  u"file_stream::seek=> Offset (signed __int64) 100 is not 512 aligned",
                                  u"file_stream::read=> Size 1000 is not 512 aligned"}));
}

TEST_F(FileStreamTest, ReadUnalignedReadsTheCoveringSectors) {
    source.alignment = 512;
    uint8_t two[2] = {};
    ASSERT_TRUE(source.read_unaligned(511, two, 2));
    EXPECT_EQ(two[0], 511 % 251);
    EXPECT_EQ(two[1], 512 % 251);
    EXPECT_EQ(source.get_pos(), 1024);  // two whole sectors from 0

    std::vector<uint8_t> range(1500);
    ASSERT_TRUE(source.read_unaligned(700, range.data(), 1500));
    const auto expected = pattern(64 * 1024);
    EXPECT_TRUE(std::equal(range.begin(), range.end(), expected.begin() + 700));
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(FileStreamTest, ReadPastTheEndGivesZerosNotStaleBytes) {
    source.alignment = 512;
    ASSERT_TRUE(source.seek(64 * 1024 - 512, seek_from_start));
    std::vector<uint8_t> data(1024, 0xAA);
    ASSERT_TRUE(source.read(data.data(), 1024));
    EXPECT_EQ(data[511], (64 * 1024 - 1) % 251);
    EXPECT_EQ(std::count(data.begin() + 512, data.end(), 0), 512);
}

TEST_F(FileStreamTest, SecondOpenIsRefusedAndTheFirstFileStaysOpen) {
    test::write_file(dir.file("other"), {1, 2, 3});
    EXPECT_FALSE(source.open(dir.u16("other"), platform::open_access::read_only));
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"file_stream::open=> Please close previous handle first"});
    EXPECT_EQ(source.path(), dir.u16("disk.img"));
    EXPECT_EQ(source.size(), 64 * 1024);
}

TEST_F(FileStreamTest, ClosingTwiceIsReported) {
    source.close();
    source.close();
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"file_stream::close=> Handle is already closed"});
    EXPECT_FALSE(source.seek(0, seek_from_start));
    EXPECT_EQ(ui.log_texts().back(), u"file_stream::seek=> Handle is not opened");
}

TEST_F(FileStreamTest, ASourceOpenedForReadingRefusesWrites) {
    const uint8_t byte = 0x55;
    EXPECT_FALSE(source.write(&byte, 1));
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"file_stream::write=> Bad file descriptor"});
    EXPECT_EQ(test::read_file(dir.file("disk.img")), pattern(64 * 1024));
}

TEST(FileStream, FailedOpenReportsTheSystemTextAndForgetsThePath) {
    test::test_ui ui;
    test::temp_dir dir;
    file_stream missing;
    EXPECT_FALSE(missing.open(dir.u16("absent.img"), platform::open_access::read_only));
    EXPECT_EQ(ui.log_texts(), std::vector<std::u16string>{u"file_stream::open=> No such file or directory"});
    EXPECT_EQ(missing.path(), u"");
}

TEST(FileStream, CreateTruncatesWithMode0644AndFlushAppends) {
    test::test_ui ui;
    test::temp_dir dir;
    test::write_file(dir.file("out.bin"), pattern(5000));
    file_stream out;
    const mode_t saved_mask = ::umask(0);
    ASSERT_TRUE(out.create(dir.u16("out.bin")));
    ::umask(saved_mask);
    EXPECT_EQ(out.size(), 0);
    const uint8_t first[] = {1, 2, 3};
    const uint8_t second[] = {4, 5};
    ASSERT_TRUE(out.write(first, 3));
    ASSERT_TRUE(out.seek(0, seek_from_start));
    ASSERT_TRUE(out.flush());
    EXPECT_EQ(out.get_pos(), 3);
    ASSERT_TRUE(out.write(second, 2));
    out.close();
    EXPECT_EQ(test::read_file(dir.file("out.bin")), (std::vector<uint8_t>{1, 2, 3, 4, 5}));
    struct stat st {};
    ASSERT_EQ(::stat(dir.file("out.bin").c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u);
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(FileStream, DestroyingAnOpenStreamIsReported) {
    test::test_ui ui;
    test::temp_dir dir;
    test::write_file(dir.file("f"), {1});
    {
        file_stream forgotten;
        ASSERT_TRUE(forgotten.open(dir.u16("f"), platform::open_access::read_only));
    }
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"~file_stream::file_stream=> Handle is not closed"});
}

}  // namespace
}  // namespace kvl
