// The command line on images damaged on purpose (tests/data/make-hostile-images.sh): each run must
// end within the limits, tell the user, leave the image alone and list what the damage spares.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "support/fixtures.h"
#include "support/limited_run.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kvl {
namespace {

namespace fs = std::filesystem;

constexpr double time_limit_seconds = 5;
constexpr long memory_limit_kib = 512 * 1024;

struct hostile_case {
    std::string image;
    std::string what;
    std::vector<std::string> still_listed;
    bool disk = false;
    bool recover = false;
    int64_t sparse_size = 0;
    std::string sparse_path;
};

void PrintTo(const hostile_case& c, std::ostream* out) {
    *out << c.image;
}

std::vector<hostile_case> load_cases() {
    std::ifstream in(test::fixture_source_dir() / "hostile.cases.json");
    std::vector<hostile_case> cases;
    for (const nlohmann::json& c : nlohmann::json::parse(in)) {
        hostile_case h;
        h.image = c.at("image").get<std::string>();
        h.what = c.at("what").get<std::string>();
        h.still_listed = c.at("still_listed").get<std::vector<std::string>>();
        h.disk = c.value("disk", false);
        h.recover = c.value("recover", false);
        h.sparse_size = c.value("sparse_size", int64_t{0});
        h.sparse_path = c.value("sparse_path", std::string());
        cases.push_back(h);
    }
    return cases;
}

fs::path hostile_image(const std::string& name) {
    return test::fixture_image("hostile/x").parent_path() / name;
}

std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> rows;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        if (!line.empty()) rows.push_back(nlohmann::json::parse(line));
    return rows;
}

// Runs the program on the case and checks the limits every run must keep.
test::limited_result run_within_limits(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {KORVALEN_BIN_DIR "/korvalen"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const test::limited_result r = test::run_limited(command, time_limit_seconds);
    EXPECT_FALSE(r.timed_out) << "still running after " << time_limit_seconds << " s";
    EXPECT_EQ(r.signal, 0) << r.err;
    EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << "exit " << r.exit_code << "\n" << r.err;
    EXPECT_LT(r.seconds, time_limit_seconds);
    EXPECT_LT(r.max_rss_kib, memory_limit_kib);
    return r;
}

class HostileImage : public ::testing::TestWithParam<hostile_case> {};

// Every folder's rows: a disk's partitions are listed in turn.
std::vector<nlohmann::json> list_everything(const hostile_case& c, const fs::path& image,
                                            std::string& errors) {
    std::vector<std::string> sources = {image.string()};
    if (c.disk) {
        const test::limited_result disk = run_within_limits({"ls", "--json", image.string()});
        errors += disk.err;
        sources.clear();
        for (const nlohmann::json& row : json_lines(disk.out))
            sources.push_back(row.at("source").get<std::string>());
    }
    std::vector<nlohmann::json> rows;
    for (const std::string& source : sources) {
        const test::limited_result r = run_within_limits({"ls", "-r", "--json", source});
        errors += r.err;
        for (nlohmann::json& row : json_lines(r.out)) rows.push_back(std::move(row));
    }
    return rows;
}

TEST_P(HostileImage, ListsWithinLimitsTellsTheUserAndSparesTheRest) {
    const hostile_case& c = GetParam();
    SCOPED_TRACE(c.image + ": " + c.what);
    test::temp_dir dir;
    const fs::path image = dir.file(c.image);
    fs::copy_file(hostile_image(c.image), image);
    const std::string before = test::sha256_hex(test::read_file(image));

    std::string errors;
    const std::vector<nlohmann::json> rows = list_everything(c, image, errors);
    // Recovering everything reads every file's data; a 2^40-byte file is not written out.
    if (!c.disk && !c.sparse_size) {
        fs::create_directory(dir.file("out"));
        errors +=
            run_within_limits({"-q", "recover", image.string(), "/", "--to", dir.file("out").string()}).err;
    }
    std::set<std::string> listed;
    for (const nlohmann::json& row : rows) listed.insert(row.at("path").get<std::string>());
    for (const std::string& path : c.still_listed)
        EXPECT_TRUE(listed.count(path)) << path << " is not listed";
    // A huge sparse file is not damage: it lists quietly.
    if (!c.image.starts_with("base-") && !c.sparse_size) {
        EXPECT_FALSE(errors.empty()) << "the damage is not told";
    }
    if (c.sparse_size) {
        for (const nlohmann::json& row : rows)
            if (row.at("path") == c.sparse_path) {
                EXPECT_EQ(row.at("size").get<int64_t>(), c.sparse_size);
            }
    }
    EXPECT_EQ(test::sha256_hex(test::read_file(image)), before) << "the image changed";
}

// Recovered names stay inside the destination whatever the volume calls them.
class HostileNames : public ::testing::TestWithParam<hostile_case> {};

TEST_P(HostileNames, RecoveryWritesOnlyInsideTheDestination) {
    const hostile_case& c = GetParam();
    test::temp_dir dir;
    const fs::path image = dir.file(c.image);
    fs::copy_file(hostile_image(c.image), image);
    const fs::path destination = dir.file("out");
    fs::create_directory(destination);
    run_within_limits({"-q", "recover", image.string(), "/", "--to", destination.string()});

    std::set<fs::path> top;
    for (const auto& entry : fs::directory_iterator(dir.path())) top.insert(entry.path().filename());
    EXPECT_EQ(top, (std::set<fs::path>{c.image, "out"})) << "something was written beside the destination";
    int names = 0;
    for (const auto& entry : fs::recursive_directory_iterator(destination)) {
        EXPECT_FALSE(entry.is_symlink()) << entry.path();
        const std::string name = entry.path().filename().string();
        EXPECT_NE(name, "..");
        EXPECT_LE(name.size(), 255u);
        EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](char ch) { return ch > 0 && ch < 0x20; }))
            << name;
        if (entry.path().parent_path().filename() == "names") ++names;
    }
    EXPECT_GE(names, 5) << "the files with hostile names were not all recovered";
}

std::string case_name(const ::testing::TestParamInfo<hostile_case>& info) {
    std::string name = info.param.image.substr(0, info.param.image.rfind('.'));
    for (char& ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
    return name;
}

std::vector<hostile_case> name_cases() {
    std::vector<hostile_case> cases = load_cases();
    std::erase_if(cases, [](const hostile_case& c) { return !c.recover; });
    return cases;
}

INSTANTIATE_TEST_SUITE_P(Cases, HostileImage, ::testing::ValuesIn(load_cases()), case_name);
INSTANTIATE_TEST_SUITE_P(Cases, HostileNames, ::testing::ValuesIn(name_cases()), case_name);

// A chain of extended boot records that loops: each logical partition is listed once, and told.
TEST(HostileDisk, AnExtendedBootRecordLoopEndsWithinLimits) {
    const test::limited_result r =
        run_within_limits({"ls", "--json", test::fixture_image("part-ebr-loop").string()});
    EXPECT_EQ(json_lines(r.out).size(), 4u);
    EXPECT_NE(r.err.find("comes back to sector"), std::string::npos) << r.err;
}

// A link planted where an output folder or file will go is never followed.
TEST(HostileDestination, PlantedSymbolicLinksAreNotFollowed) {
    test::temp_dir dir;
    const fs::path outside = dir.file("outside");
    fs::create_directory(outside);
    test::write_file(outside / "victim", {'k', 'e', 'e', 'p'});
    const fs::path destination = dir.file("out");
    fs::create_directory(destination);
    fs::create_directory_symlink(outside, destination / "dir");
    fs::create_symlink(outside / "victim", destination / "sparse.bin");
    run_within_limits(
        {"-q", "recover", hostile_image("base-ntfs.img").string(), "/", "--to", destination.string()});

    EXPECT_EQ(std::distance(fs::directory_iterator(outside), fs::directory_iterator()), 1);
    EXPECT_EQ(test::read_file(outside / "victim"), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(destination / "dir"));
    EXPECT_TRUE(fs::exists(destination / "dir (2)" / "a.txt"))
        << "the folder was not recovered beside the link";
    EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(destination / "sparse (2).bin")));
}

}  // namespace
}  // namespace kvl
