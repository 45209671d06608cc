#include "storage/rescue_map.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "core/text.h"
#include "core/version.h"
#include "platform/atomic_file.h"
#include "support/ddrescuelog.h"
#include "support/fixtures.h"
#include "support/temp_dir.h"

namespace kvl {
namespace {

namespace fs = std::filesystem;
using namespace std::string_literals;
using enum area_status;

constexpr int64_t largest = std::numeric_limits<int64_t>::max();

// What every map must keep: areas from 0 to size() without gaps, none empty, and no two neighbours
// of one status (they would be one area).
void expect_well_formed(const rescue_map& map) {
    const std::vector<map_area> areas = map.areas();
    int64_t end = 0;
    for (size_t i = 0; i < areas.size(); ++i) {
        const map_area& area = areas[i];
        EXPECT_EQ(area.position, end) << "area " << i;
        EXPECT_GT(area.size, 0) << "area " << i;
        if (i > 0) {
            EXPECT_NE(area.status, areas[i - 1].status) << "area " << i;
        }
        end = area.position + area.size;
    }
    EXPECT_EQ(end, map.size());
}

std::string describe(const std::vector<map_area>& areas) {
    std::ostringstream out;
    for (const map_area& a : areas)
        out << "[" << a.position << "+" << a.size << " " << static_cast<char>(a.status) << "]";
    return out.str();
}

std::string read_text(const fs::path& path) {
    const std::vector<uint8_t> bytes = test::read_file(path);
    return {bytes.begin(), bytes.end()};
}

struct mark_step {
    int64_t position;
    int64_t size;
    area_status status;
};

struct mark_case {
    const char* name;
    int64_t size;
    std::vector<mark_step> marks;
    std::vector<map_area> expected;
};

TEST(RescueMap, MarkSplitsCoveredAreasAndJoinsEqualNeighbours) {
    const std::vector<mark_case> cases = {
        {"inside one area",
         1000,
         {{100, 200, finished}},
         {{0, 100, non_tried}, {100, 200, finished}, {300, 700, non_tried}}},
        {"at both ends",
         1000,
         {{0, 100, finished}, {900, 100, bad_sector}},
         {{0, 100, finished}, {100, 800, non_tried}, {900, 100, bad_sector}}},
        {"filling the hole between two equal areas",
         1000,
         {{0, 100, finished}, {200, 100, finished}, {100, 100, finished}},
         {{0, 300, finished}, {300, 700, non_tried}}},
        {"over several areas",
         1000,
         {{100, 100, bad_sector}, {300, 100, non_trimmed}, {500, 100, non_scraped}, {50, 600, finished}},
         {{0, 50, non_tried}, {50, 600, finished}, {650, 350, non_tried}}},
        {"back to the old status",
         1000,
         {{100, 200, finished}, {100, 200, non_tried}},
         {{0, 1000, non_tried}}},
        {"with the status already there", 1000, {{100, 200, non_tried}}, {{0, 1000, non_tried}}},
        {"on existing boundaries",
         1000,
         {{0, 500, finished}, {500, 500, bad_sector}, {500, 250, finished}},
         {{0, 750, finished}, {750, 250, bad_sector}}},
        {"the end of one area and the start of the next",
         1000,
         {{0, 400, finished}, {400, 600, bad_sector}, {300, 200, non_scraped}},
         {{0, 300, finished}, {300, 200, non_scraped}, {500, 500, bad_sector}}},
        {"single bytes, then the bytes between them",
         4,
         {{0, 1, finished},
          {2, 1, finished},
          {1, 1, bad_sector},
          {3, 1, bad_sector},
          {1, 1, finished},
          {3, 1, finished}},
         {{0, 4, finished}}},
        {"cut to the map",
         1000,
         {{-100, 200, finished}, {900, largest, bad_sector}},
         {{0, 100, finished}, {100, 800, non_tried}, {900, 100, bad_sector}}},
        {"outside the map, empty or negative",
         1000,
         {{1000, 10, finished},
          {-50, 50, finished},
          {10, 0, finished},
          {10, -5, finished},
          {largest, largest, finished},
          {std::numeric_limits<int64_t>::min(), 1, finished}},
         {{0, 1000, non_tried}}},
        {"on an empty map", 0, {{0, 10, finished}}, {}},
    };
    for (const mark_case& c : cases) {
        SCOPED_TRACE(c.name);
        rescue_map map;
        map.reset(c.size);
        for (const mark_step& step : c.marks) map.mark(step.position, step.size, step.status);
        EXPECT_EQ(describe(map.areas()), describe(c.expected));
        EXPECT_EQ(map.size(), c.size);
        expect_well_formed(map);
        for (const area_status status : {non_tried, non_trimmed, non_scraped, bad_sector, finished}) {
            int64_t bytes = 0;
            for (const map_area& area : c.expected) bytes += area.status == status ? area.size : 0;
            EXPECT_EQ(map.bytes_with(status), bytes) << static_cast<char>(status);
        }
    }
}

TEST(RescueMap, FitCutsOrExtendsWithNonTriedBytes) {
    struct fit_case {
        int64_t size;
        std::vector<map_area> expected;
    };
    const std::vector<fit_case> cases = {
        {1000, {{0, 100, finished}, {100, 800, non_tried}, {900, 100, bad_sector}}},
        {1500, {{0, 100, finished}, {100, 800, non_tried}, {900, 100, bad_sector}, {1000, 500, non_tried}}},
        {950, {{0, 100, finished}, {100, 800, non_tried}, {900, 50, bad_sector}}},
        {900, {{0, 100, finished}, {100, 800, non_tried}}},
        {50, {{0, 50, finished}}},
        {0, {}},
        {-5, {}},
    };
    for (const fit_case& c : cases) {
        SCOPED_TRACE(c.size);
        rescue_map map;
        map.reset(1000);
        map.mark(0, 100, finished);
        map.mark(900, 100, bad_sector);
        map.fit(c.size);
        EXPECT_EQ(describe(map.areas()), describe(c.expected));
        expect_well_formed(map);
    }

    rescue_map grown;
    grown.reset(1000);
    grown.fit(3000);  // the new bytes join the non-tried area before them
    EXPECT_EQ(describe(grown.areas()), describe({{0, 3000, non_tried}}));
    grown.fit(0);
    grown.fit(10);
    EXPECT_EQ(describe(grown.areas()), describe({{0, 10, non_tried}}));
}

TEST(RescueMap, FindCutsTheFirstMatchingAreaToTheStart) {
    rescue_map map;
    map.reset(1000);
    map.mark(0, 100, finished);
    map.mark(900, 50, bad_sector);
    map.mark(950, 50, finished);
    struct find_case {
        int64_t from;
        area_status status;
        std::optional<map_area> expected;
    };
    const std::vector<find_case> cases = {
        {0, finished, map_area{0, 100, finished}},
        {50, finished, map_area{50, 50, finished}},
        {100, finished, map_area{950, 50, finished}},
        {999, finished, map_area{999, 1, finished}},
        {1000, finished, std::nullopt},
        {largest, finished, std::nullopt},
        {-10, non_tried, map_area{100, 800, non_tried}},
        {std::numeric_limits<int64_t>::min(), finished, map_area{0, 100, finished}},
        {500, non_tried, map_area{500, 400, non_tried}},
        {0, non_scraped, std::nullopt},
    };
    for (const find_case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.from << " " << static_cast<char>(c.status));
        EXPECT_EQ(map.find(c.from, c.status), c.expected);
    }
}

TEST(RescueMap, ReadsMapsWrittenByGnuDdrescue) {
    const std::vector<map_area> interrupted = {
        {0x0000, 0x1400, finished},    {0x1400, 0x0200, bad_sector}, {0x1600, 0x0200, non_scraped},
        {0x1800, 0x0200, bad_sector},  {0x1A00, 0x3600, finished},   {0x5000, 0x0200, bad_sector},
        {0x5200, 0x0E00, non_trimmed}, {0x6000, 0x4000, finished},   {0xA000, 0x6000, non_tried},
    };
    // The plain map as ddrescue saved it, and ddrescuelog's copy with a comment after every line.
    for (const char* name : {"ddrescue-interrupted.map", "ddrescue-interrupted.annotated.map"}) {
        SCOPED_TRACE(name);
        rescue_map map;
        std::u16string error;
        ASSERT_TRUE(map.parse(read_text(test::fixture_source_dir() / name), error)) << utf16_to_utf8(error);
        EXPECT_EQ(describe(map.areas()), describe(interrupted));
        EXPECT_EQ(map.size(), 65536);
        EXPECT_EQ(map.current_position, 0x5000);
        EXPECT_EQ(map.current_status, '*');
        EXPECT_EQ(map.current_pass, 1);
        // The totals `ddrescuelog -t` shows for it.
        EXPECT_EQ(map.bytes_with(non_tried), 24576);
        EXPECT_EQ(map.bytes_with(finished), 35328);
        EXPECT_EQ(map.bytes_with(non_trimmed), 3584);
        EXPECT_EQ(map.bytes_with(non_scraped), 512);
        EXPECT_EQ(map.bytes_with(bad_sector), 1536);
    }

    // ddrescuelog lets the last area of a map made from a block list run to the largest position.
    rescue_map created;
    std::u16string error;
    ASSERT_TRUE(created.parse(read_text(test::fixture_source_dir() / "ddrescuelog-created.map"), error))
        << utf16_to_utf8(error);
    EXPECT_EQ(created.size(), largest);
    ASSERT_EQ(created.areas().size(), 7u);
    EXPECT_EQ(created.areas().back(), (map_area{0xCA00, largest - 0xCA00, finished}));
    EXPECT_EQ(created.bytes_with(bad_sector), 0xC00);
}

TEST(RescueMap, AcceptsTheNumberFormsAndLayoutDdrescueAccepts) {
    struct accepted_case {
        const char* name;
        std::string text;
        std::vector<map_area> expected;
        int64_t position;
        char status;
        int32_t pass;
    };
    const std::vector<accepted_case> cases = {
        {"decimal, octal and hexadecimal; the pass is decimal even with a leading 0",
         "0X10 G 010\n0 0100 +\n64 0x4a -\n",
         {{0, 64, finished}, {64, 74, bad_sector}},
         16,
         'G',
         10},
        {"comments after blanks, tabs, CRLF, blank lines, no final line break",
         "# head\r\n\t0x0\t?\t1\t# here\r\n\r\n0 512 +\t#   0 B\r\n  512 512 ? # x\r\n# tail",
         {{0, 512, finished}, {512, 512, non_tried}},
         0,
         '?',
         1},
        {"a status line without a pass, as older versions wrote it",
         "0x200 -\n0 512 +\n512 512 -\n",
         {{0, 512, finished}, {512, 512, bad_sector}},
         0x200,
         '-',
         1},
        {"neighbours of one status become one area",
         "0 F 3\n0 512 +\n512 512 +\n1024 1 -\n",
         {{0, 1024, finished}, {1024, 1, bad_sector}},
         0,
         'F',
         3},
        {"the last area ends at the largest position",
         "0 + 2147483647\n0 0x7FFFFFFFFFFFFFFE +\n0x7FFFFFFFFFFFFFFE 1 -\n",
         {{0, largest - 1, finished}, {largest - 1, 1, bad_sector}},
         0,
         '+',
         2147483647},
        {"the position may lie past the areas", "0x7FFFFFFFFFFFFFFF / 1\n", {}, largest, '/', 1},
    };
    for (const accepted_case& c : cases) {
        SCOPED_TRACE(c.name);
        rescue_map map;
        std::u16string error;
        ASSERT_TRUE(map.parse(c.text, error)) << utf16_to_utf8(error);
        EXPECT_EQ(describe(map.areas()), describe(c.expected));
        EXPECT_EQ(map.current_position, c.position);
        EXPECT_EQ(map.current_status, c.status);
        EXPECT_EQ(map.current_pass, c.pass);
        expect_well_formed(map);
    }
}

TEST(RescueMap, RefusesMalformedMapsAndKeepsItsAreas) {
    struct refused_case {
        std::string text;
        std::u16string error;
    };
    const std::vector<refused_case> cases = {
        {"", u"line 1: the status line is missing"},
        {"# only a comment\n\n", u"line 2: the status line is missing"},
        {"0 ? 1\n512 512 +\n", u"line 2: the first area does not start at 0"},
        {"0 ? 1\n0 512 +\n1024 512 -\n", u"line 3: the area does not start where the previous one ended"},
        {"0 ? 1\n0 512 +\n256 512 -\n", u"line 3: the area does not start where the previous one ended"},
        {"0 ? 1\n0 0 +\n0 512 -\n", u"line 2: the area is empty"},
        {"0 ? 1\n0 512 +\n512 0 -\n", u"line 3: the area is empty"},
        {"0 ? 1\n0 512 F\n", u"line 2: the status is not one of ? * / - +"},
        {"0 ? 1\n0 512 ++\n", u"line 2: the status is not one of ? * / - +"},
        {"0 ? 1\n0 512 +#comment\n", u"line 2: the status is not one of ? * / - +"},
        {"0 ? 1\n0 512 +\0\n"s, u"line 2: the status is not one of ? * / - +"},
        {"0 X 1\n", u"line 1: the status is not one of ? * / - F G +"},
        {"0 ?? 1\n", u"line 1: the status is not one of ? * / - F G +"},
        {"-5 ? 1\n", u"line 1: the position is negative"},
        {"0 ? 1\n0 -512 +\n", u"line 2: the size is negative"},
        {"0 ? 1\n-0 512 +\n", u"line 2: the position is negative"},
        {"0 ? 1\n0 0x8000000000000000 +\n", u"line 2: the size is too large"},
        {"0 ? 1\n0 99999999999999999999999 +\n", u"line 2: the size is too large"},
        {"0 ? 1\n0 01777777777777777777777 +\n", u"line 2: the size is too large"},
        {"0 ? 1\n0 0x7FFFFFFFFFFFFFFF +\n0x7FFFFFFFFFFFFFFF 1 -\n",
         u"line 3: the area ends past the largest possible position"},
        {"0 ? 1\n0 0x7FFFFFFFFFFFFFF0 +\n0x7FFFFFFFFFFFFFF0 0x7FFFFFFFFFFFFFFF -\n",
         u"line 3: the area ends past the largest possible position"},
        {"0 ? 1\n0 0779 +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 0x +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 0x-5 +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 0x+5 +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 +512 +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 1k +\n", u"line 2: the size is not a number"},
        {"0 ? 1\n0 1'000 +\n", u"line 2: the size is not a number"},
        {"0 ? 1\nx 512 +\n", u"line 2: the position is not a number"},
        {"0 ? 0\n", u"line 1: the pass is not a decimal number from 1 to 2147483647"},
        {"0 ? 0x2\n", u"line 1: the pass is not a decimal number from 1 to 2147483647"},
        {"0 ? +2\n", u"line 1: the pass is not a decimal number from 1 to 2147483647"},
        {"0 ? 2147483648\n", u"line 1: the pass is not a decimal number from 1 to 2147483647"},
        {"0\n", u"line 1: the status line holds a position, a status and a pass"},
        {"0 ? 1 extra\n", u"line 1: the status line holds a position, a status and a pass"},
        {"0 ? 1\n0 +\n", u"line 2: an area line holds a position, a size and a status"},
        {"0 ? 1\n0 512 + x\n", u"line 2: an area line holds a position, a size and a status"},
        {"0 ? 1\n0 512 +\n512 512 - 1024 512 +\n",
         u"line 3: an area line holds a position, a size and a status"},
        {"0 ? 1\r0 512 +\r", u"line 1: the status line holds a position, a status and a pass"},
    };
    const std::string before = "0x100 - 3\n0 512 +\n512 512 -\n";
    for (const refused_case& c : cases) {
        SCOPED_TRACE(c.text);
        rescue_map map;
        std::u16string error;
        ASSERT_TRUE(map.parse(before, error));
        const std::vector<map_area> areas = map.areas();
        EXPECT_FALSE(map.parse(c.text, error));
        EXPECT_EQ(utf16_to_utf8(error), utf16_to_utf8(c.error));
        EXPECT_EQ(describe(map.areas()), describe(areas));
        EXPECT_EQ(map.size(), 1024);
        EXPECT_EQ(map.current_position, 0x100);
        EXPECT_EQ(map.current_status, '-');
        EXPECT_EQ(map.current_pass, 3);
    }
}

// A small map as the text it writes: ddrescue's layout, so people can compare the two by eye.
TEST(RescueMap, TextIsDdrescuesLayoutAndParsesBack) {
    rescue_map map;
    map.reset(0x200000000);
    map.mark(0x1000, 0x200, bad_sector);
    map.mark(0x100000000, 0x100000000, finished);
    map.current_position = 0x1200;
    map.current_status = '-';
    map.current_pass = 12;
    const std::string text = map.text("korvalen image /dev/sdb\nout.img");
    EXPECT_EQ(text, std::string("# Mapfile. Created by Korvalen ") + version_text +
                        "\n"
                        "# Command line: korvalen image /dev/sdb out.img\n"
                        "# current_pos  current_status  current_pass\n"
                        "0x00001200     -               12\n"
                        "#      pos        size  status\n"
                        "0x00000000  0x00001000  ?\n"
                        "0x00001000  0x00000200  -\n"
                        "0x00001200  0xFFFFEE00  ?\n"
                        "0x100000000  0x100000000  +\n");

    rescue_map again;
    std::u16string error;
    ASSERT_TRUE(again.parse(text, error)) << utf16_to_utf8(error);
    EXPECT_EQ(again.areas(), map.areas());
    EXPECT_EQ(again.size(), map.size());
    EXPECT_EQ(again.current_position, 0x1200);
    EXPECT_EQ(again.current_status, '-');
    EXPECT_EQ(again.current_pass, 12);

    // Fields set to what no map holds are written as a fresh copy's, so ddrescue still reads the map.
    map.current_status = 'x';
    map.current_pass = 0;
    map.current_position = -1;
    EXPECT_NE(map.text("").find("\n0x00000000     ?               1\n"), std::string::npos);

    rescue_map empty;
    empty.reset(0);
    ASSERT_TRUE(again.parse(empty.text(""), error)) << utf16_to_utf8(error);
    EXPECT_TRUE(again.areas().empty());
    EXPECT_EQ(again.size(), 0);
}

TEST(RescueMap, DdrescuelogFindsTheSameAreasInTheText) {
    if (!test::have_ddrescuelog()) GTEST_SKIP() << "ddrescuelog is not installed";
    test::temp_dir dir;
    rescue_map map;
    map.reset(0x200000000);  // positions past 32 bits need more than eight digits
    map.mark(0, 0x180000000, finished);
    map.mark(0x2000, 0x400, non_scraped);
    map.mark(0x10000, 0x1000, non_trimmed);
    map.mark(0x100000000, 0x600, bad_sector);
    map.mark(0x180000000, 0x200, bad_sector);
    map.current_position = 0x180000000;
    map.current_status = '/';
    const std::string path = dir.file("copy.map").string();
    ASSERT_TRUE(platform::replace_file_atomically(path, map.text("korvalen image /dev/sdb out.img")));

    const std::optional<std::string> shown = test::ddrescuelog("-t '" + path + "'", dir.file("shown"));
    ASSERT_TRUE(shown.has_value()) << read_text(dir.file("shown"));
    EXPECT_EQ(test::ddrescuelog_total(*shown, "bad-sector"), (std::pair<int64_t, int>{0x800, 2})) << *shown;
    EXPECT_EQ(test::ddrescuelog_total(*shown, "non-scraped"), (std::pair<int64_t, int>{0x400, 1})) << *shown;
    EXPECT_EQ(test::ddrescuelog_total(*shown, "non-trimmed"), (std::pair<int64_t, int>{0x1000, 1})) << *shown;
    EXPECT_NE(shown->find("current status: scraping"), std::string::npos) << *shown;
    EXPECT_NE(shown->find("in      9 area(s)"), std::string::npos) << *shown;

    // And the bad sectors where they are: 512-byte block numbers.
    const std::optional<std::string> blocks =
        test::ddrescuelog("-b 512 -l- '" + path + "'", dir.file("blocks"));
    ASSERT_TRUE(blocks.has_value()) << read_text(dir.file("blocks"));
    EXPECT_EQ(*blocks, "8388608\n8388609\n8388610\n12582912\n");
}

TEST(AtomicFile, ReplacesTheFileAndLeavesNoTemporary) {
    test::temp_dir dir;
    const std::string path = dir.file("copy.map").string();
    test::write_file(path, {'o', 'l', 'd', ' ', 'm', 'a', 'p'});
    test::write_file(path + ".tmp",
                     {'l', 'e', 'f', 't', ' ', 'b', 'y', ' ', 'a', ' ', 'c', 'r', 'a', 's', 'h'});
    const std::string bytes(100000, 'x');  // more than one write may take
    ASSERT_TRUE(platform::replace_file_atomically(path, bytes));
    EXPECT_EQ(read_text(path), bytes);
    EXPECT_FALSE(fs::exists(path + ".tmp"));

    ASSERT_TRUE(platform::replace_file_atomically(path, ""));
    EXPECT_EQ(fs::file_size(path), 0u);
}

TEST(AtomicFile, ReplacesASymbolicLinkInsteadOfFollowingIt) {
    test::temp_dir dir;
    test::write_file(dir.file("target"), {'k', 'e', 'e', 'p'});
    test::write_file(dir.file("other"), {'o', 't', 'h', 'e', 'r'});
    fs::create_symlink(dir.file("target"), dir.file("copy.map"));
    fs::create_symlink(dir.file("other"), dir.file("copy.map.tmp"));  // a stale temporary that is a link
    ASSERT_TRUE(platform::replace_file_atomically(dir.file("copy.map").string(), "new map"));
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(dir.file("copy.map"))));
    EXPECT_EQ(read_text(dir.file("copy.map")), "new map");
    EXPECT_EQ(read_text(dir.file("target")), "keep");
    EXPECT_EQ(read_text(dir.file("other")), "other");
    EXPECT_FALSE(fs::exists(fs::symlink_status(dir.file("copy.map.tmp"))));
}

TEST(AtomicFile, FailureSetsErrnoAndRemovesTheTemporary) {
    test::temp_dir dir;
    errno = 0;
    EXPECT_FALSE(platform::replace_file_atomically(dir.file("missing/copy.map").string(), "map"));
    EXPECT_EQ(errno, ENOENT);

    fs::create_directory(dir.file("folder"));  // rename cannot put a file over a folder
    errno = 0;
    EXPECT_FALSE(platform::replace_file_atomically(dir.file("folder").string(), "map"));
    EXPECT_EQ(errno, EISDIR);
    EXPECT_FALSE(fs::exists(dir.file("folder.tmp")));
    EXPECT_TRUE(fs::is_directory(dir.file("folder")));
}

}  // namespace
}  // namespace kvl
