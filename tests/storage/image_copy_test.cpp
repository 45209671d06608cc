#include "storage/image_copy.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "core/text.h"
#include "storage/disk_storage.h"
#include "support/ddrescuelog.h"
#include "support/failing_reads.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

// Imaging a failing disk: every readable byte is saved, the bad sectors are zeros and marked bad in
// the map, and a cut copy resumes where it stopped.
namespace kvl {
namespace {

namespace fs = std::filesystem;

constexpr int64_t source_size = 6 * 1024 * 1024;

std::vector<uint8_t> random_bytes(int64_t size) {
    std::mt19937 generator(7);
    std::vector<uint8_t> bytes(static_cast<size_t>(size));
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(generator());
    return bytes;
}

// Bad areas of a dying disk: a 4 KiB area, a lone sector, an area across a block boundary, a run
// of scattered sectors (the skipping pass jumps over most of it) and the last sector.
const std::vector<byte_range> bad_areas = {
    {1024 * 1024, 4096},
    {2 * 1024 * 1024 + 512, 512},
    {3 * 1024 * 1024 - 4096, 8192},
    {4 * 1024 * 1024 + 64 * 1024, 512},
    {4 * 1024 * 1024 + 200 * 1024, 1024},
    {4 * 1024 * 1024 + 300 * 1024, 512},
    {source_size - 512, 512},
};

class ImageCopy : public ::testing::Test {
  protected:
    void SetUp() override {
        source = dir.file("disk.img");
        original = random_bytes(source_size);
        test::write_file(source, original);
        expected = original;
        for (const byte_range& bad : bad_areas) std::fill_n(expected.begin() + bad.position, bad.length, 0);
    }

    // Copies the source into out.img through a disk with the bad areas.
    std::unique_ptr<image_copy> copy(platform::output_mode mode, test::failing_reads& disk) {
        for (const byte_range& bad : bad_areas) disk.fail(bad.position, bad.length);
        storage.sector_retries = 1;
        EXPECT_TRUE(storage.open(utf8_to_utf16(source.string())));
        disk.asked = {};  // what the copy reads, not the opening's look at the boot sector
        auto run = std::make_unique<image_copy>(storage, dir.file("out.img").string());
        EXPECT_TRUE(run->run(mode));
        storage.close();
        return run;
    }

    rescue_map saved_map() const {
        const std::vector<uint8_t> bytes = test::read_file(dir.file("out.img.map"));
        rescue_map map;
        std::u16string error;
        EXPECT_TRUE(
            map.parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), error))
            << utf16_to_utf8(error);
        return map;
    }

    test::test_ui ui;
    test::temp_dir dir;
    fs::path source;
    std::vector<uint8_t> original;
    std::vector<uint8_t> expected;
    disk_storage storage;
};

TEST_F(ImageCopy, SavesEveryReadableByteAndMarksExactlyTheBadSectors) {
    test::failing_reads disk(source);
    const auto run = copy(platform::output_mode::create_new, disk);
    EXPECT_EQ(test::read_file(dir.file("out.img")), expected);
    int64_t bad_total = 0;
    for (const byte_range& bad : bad_areas) bad_total += bad.length;
    EXPECT_EQ(run->bad_bytes, bad_total);
    EXPECT_EQ(run->read_bytes, source_size - bad_total);
    EXPECT_EQ(run->left_bytes, 0);

    const rescue_map map = saved_map();
    EXPECT_EQ(map.size(), source_size);
    EXPECT_EQ(map.current_status, '+');
    std::vector<byte_range> marked;
    for (const map_area& area : map.areas()) {
        EXPECT_TRUE(area.status == area_status::finished || area.status == area_status::bad_sector);
        if (area.status == area_status::bad_sector) marked.push_back({area.position, area.size});
    }
    EXPECT_EQ(marked, bad_areas);
    // Every bad sector was tried twice at most after the pass that found it: no read hangs on it.
    EXPECT_LT(disk.failed, 200);

    if (!test::have_ddrescuelog()) GTEST_SKIP() << "ddrescuelog is not installed";
    const auto shown = test::ddrescuelog("-t '" + dir.file("out.img.map").string() + "'", dir.file("shown"));
    ASSERT_TRUE(shown.has_value());
    const auto total = test::ddrescuelog_total(*shown, "bad-sector");
    ASSERT_TRUE(total.has_value()) << *shown;
    EXPECT_EQ(total->first, bad_total) << *shown;
}

TEST_F(ImageCopy, ACancelledCopyResumesReadingOnlyWhatWasLeft) {
    {
        test::failing_reads disk(source);
        int pumps = 0;
        ui.pump.on_pump = [&] {
            if (++pumps == 3) ui.progress.press_cancel();
        };
        const auto run = copy(platform::output_mode::create_new, disk);
        EXPECT_GT(run->left_bytes, 0);
        ui.pump.on_pump.clear();
    }
    const rescue_map cut = saved_map();
    const int64_t finished = cut.bytes_with(area_status::finished);
    ASSERT_GT(finished, 0);
    ASSERT_LT(finished, source_size);
    EXPECT_EQ(fs::file_size(dir.file("out.img")), static_cast<uintmax_t>(source_size));

    test::failing_reads disk(source);
    copy(platform::output_mode::resume, disk);
    for (const map_area& area : cut.areas()) {
        const bool read_again =
            area.status == area_status::finished && disk.asked.intersects(area.position, area.size);
        EXPECT_FALSE(read_again) << area.position;
    }
    EXPECT_EQ(test::read_file(dir.file("out.img")), expected);
    EXPECT_EQ(saved_map().current_status, '+');
}

TEST_F(ImageCopy, ResumesAMapThatGnuDdrescueWrote) {
    // ddrescue's map of a copy that had read the first 2 MiB and found a bad sector in them.
    test::write_file(dir.file("out.img"),
                     std::vector<uint8_t>(original.begin(), original.begin() + 2 * 1024 * 1024));
    const std::string map_text =
        "# Mapfile. Created by GNU ddrescue version 1.27\n# current_pos  current_status  current_pass\n"
        "0x00200000     ?               1\n#      pos        size  status\n"
        "0x00000000  0x00100000  +\n0x00100000  0x00001000  -\n0x00101000  0x000FF000  +\n0x00200000  "
        "0x00400000  ?\n";
    test::write_file(dir.file("out.img.map"), std::vector<uint8_t>(map_text.begin(), map_text.end()));
    test::failing_reads disk(source);
    copy(platform::output_mode::resume, disk);
    EXPECT_FALSE(disk.asked.intersects(0, 1024 * 1024));
    EXPECT_FALSE(disk.asked.intersects(1024 * 1024 + 4096, 1024 * 1024 - 4096));
    EXPECT_EQ(test::read_file(dir.file("out.img")), expected);
}

TEST_F(ImageCopy, AHealthySourceIsCopiedWhole) {
    test::failing_reads disk(source);
    storage.sector_retries = 1;
    ASSERT_TRUE(storage.open(utf8_to_utf16(source.string())));
    image_copy run(storage, dir.file("out.img").string());
    ASSERT_TRUE(run.run(platform::output_mode::create_new));
    storage.close();
    EXPECT_EQ(test::read_file(dir.file("out.img")), original);
    EXPECT_EQ(disk.failed, 0);
    EXPECT_EQ(disk.reads, source_size / run.block_size + 1);  // the boot sector, then one read per block
    EXPECT_TRUE(ui.log_texts().back().ends_with(
        u"6291456 bytes read, 0 bytes unreadable (zeros in the image), 0 bytes left"));
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

// Cancel works in every pass, and what it leaves resumes to the same image.
class ImageCopyCancel : public ImageCopy,
                        public ::testing::WithParamInterface<std::pair<const char16_t*, char>> {};

TEST_P(ImageCopyCancel, LeavesAMapThatResumes) {
    const auto [title, status] = GetParam();
    {
        test::failing_reads disk(source);
        ui.pump.on_pump = [&] {
            if (!ui.progress.windows.empty() && ui.progress.windows.back()->alive &&
                ui.progress.windows.back()->title.starts_with(title))
                ui.progress.press_cancel();
        };
        const auto run = copy(platform::output_mode::create_new, disk);
        // Retrying leaves nothing untried, only bad sectors that could be read yet.
        EXPECT_EQ(run->left_bytes > 0, status != '-');
        ui.pump.on_pump.clear();
    }
    EXPECT_EQ(saved_map().current_status, status);
    test::failing_reads disk(source);
    const auto run = copy(platform::output_mode::resume, disk);
    EXPECT_EQ(run->left_bytes, 0);
    EXPECT_EQ(test::read_file(dir.file("out.img")), expected);
}

INSTANTIATE_TEST_SUITE_P(InEachPass, ImageCopyCancel,
                         ::testing::Values(std::pair{u"Processing", '?'}, std::pair{u"Trimming", '*'},
                                           std::pair{u"Reading bad areas", '/'},
                                           std::pair{u"Reading bad sectors", '-'}));

// A map is resumed only with the image it describes.
struct resume_case {
    const char* name;
    bool keep_image;
    int64_t image_size;  // -1: as written
};

class ImageCopyResume : public ImageCopy, public ::testing::WithParamInterface<resume_case> {};

TEST_P(ImageCopyResume, IsRefusedWithoutTheImageTheMapDescribes) {
    {
        test::failing_reads disk(source);
        copy(platform::output_mode::create_new, disk);
    }
    if (!GetParam().keep_image) fs::remove(dir.file("out.img"));
    if (GetParam().image_size >= 0)
        fs::resize_file(dir.file("out.img"), static_cast<uintmax_t>(GetParam().image_size));
    const auto map_before = test::read_file(dir.file("out.img.map"));
    ASSERT_TRUE(storage.open(utf8_to_utf16(source.string())));
    image_copy run(storage, dir.file("out.img").string());
    EXPECT_FALSE(run.run(platform::output_mode::resume));
    storage.close();
    EXPECT_TRUE(ui.log_texts().back().ends_with(u"; the copy cannot be resumed"))
        << utf16_to_utf8(ui.log_texts().back());
    EXPECT_EQ(test::read_file(dir.file("out.img.map")), map_before);
}

INSTANTIATE_TEST_SUITE_P(Cases, ImageCopyResume,
                         ::testing::Values(resume_case{"ImageGone", false, -1},
                                           resume_case{"ImageCut", true, 4096}),
                         [](const auto& test_case) { return std::string(test_case.param.name); });

TEST(ImageCopyOfAFile, TakesItsLastPartSectorToo) {
    test::test_ui ui;
    test::temp_dir dir;
    const std::vector<uint8_t> bytes = random_bytes(1000);
    test::write_file(dir.file("odd.img"), bytes);
    disk_storage storage;
    ASSERT_TRUE(storage.open(dir.u16("odd.img")));
    image_copy run(storage, dir.file("out.img").string());
    ASSERT_TRUE(run.run(platform::output_mode::create_new));
    storage.close();
    EXPECT_EQ(test::read_file(dir.file("out.img")), bytes);
    EXPECT_EQ(run.read_bytes, 1000);
    EXPECT_EQ(run.map().size(), 1000);
}

}  // namespace
}  // namespace kvl
