#include <gtest/gtest.h>

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>

#include "support/fixtures.h"
#include "support/limited_run.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

// save-image never writes over its source and never replaces a file unasked.
namespace kvl {
namespace {

namespace fs = std::filesystem;

test::limited_result korvalen(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), {KORVALEN_BIN_DIR "/korvalen", "-q"});
    return test::run_limited(arguments, 600);
}

// An output path set up in a folder that holds a copy of the fat12 fixture as "disk.img".
struct refusal_case {
    const char* name;
    std::function<std::string(const fs::path& folder)> output;
    const char* told;  // what the refusal says
};

void PrintTo(const refusal_case& c, std::ostream* out) {
    *out << c.name;
}

class SaveImageRefuses : public ::testing::TestWithParam<refusal_case> {};

TEST_P(SaveImageRefuses, WithExitStatus1AndTheSourceUnchanged) {
    test::temp_dir dir;
    const fs::path disk = dir.file("disk.img");
    fs::copy_file(test::fixture_image("fat12"), disk);
    const std::string before = test::sha256_hex(test::read_file(disk));
    const std::string output = GetParam().output(dir.path());
    for (const bool force : {false, true}) {
        std::vector<std::string> arguments = {"save-image", disk.string(), output};
        if (force) arguments.push_back("--force");
        const test::limited_result r = korvalen(arguments);
        EXPECT_EQ(r.exit_code, 1) << r.err;
        EXPECT_NE(r.err.find(GetParam().told), std::string::npos) << r.err;
        EXPECT_EQ(test::sha256_hex(test::read_file(disk)), before);
    }
    EXPECT_FALSE(fs::exists(output + ".map"));
}

INSTANTIATE_TEST_SUITE_P(
    OntoItsSource, SaveImageRefuses,
    ::testing::Values(refusal_case{"SamePath", [](const fs::path& d) { return (d / "disk.img").string(); },
                                   "is the source itself"},
                      refusal_case{"ThroughADotPath",
                                   [](const fs::path& d) { return (d / "." / "disk.img").string(); },
                                   "is the source itself"},
                      refusal_case{"SymbolicLink",
                                   [](const fs::path& d) {
                                       fs::create_symlink(d / "disk.img", d / "link.img");
                                       return (d / "link.img").string();
                                   },
                                   "is the source itself"},
                      refusal_case{"HardLink",
                                   [](const fs::path& d) {
                                       fs::create_hard_link(d / "disk.img", d / "hard.img");
                                       return (d / "hard.img").string();
                                   },
                                   "is the source itself"},
                      refusal_case{"LinkedFolder",
                                   [](const fs::path& d) {
                                       fs::create_directory_symlink(d, d / "again");
                                       return (d / "again" / "disk.img").string();
                                   },
                                   "is the source itself"}),
    [](const auto& test_case) { return std::string(test_case.param.name); });

TEST(SaveImage, APartitionTextOfTheSameImageIsRefused) {
    test::temp_dir dir;
    const fs::path disk = dir.file("disk.img");
    fs::copy_file(test::fixture_image("part-volumes"), disk);
    const std::string before = test::sha256_hex(test::read_file(disk));
    const test::limited_result r =
        korvalen({"save-image", disk.string() + "#2048", disk.string(), "--force"});
    EXPECT_EQ(r.exit_code, 1) << r.err;
    EXPECT_NE(r.err.find("is the source itself"), std::string::npos) << r.err;
    EXPECT_EQ(test::sha256_hex(test::read_file(disk)), before);
}

TEST(SaveImage, AnExistingFileIsReplacedOnlyWithForce) {
    test::temp_dir dir;
    const fs::path backup = dir.file("photos.img");
    test::write_file(backup, {'o', 'n', 'l', 'y', ' ', 'c', 'o', 'p', 'y'});
    const std::string source = test::fixture_image("fat12").string();
    const test::limited_result refused = korvalen({"save-image", source, backup.string()});
    EXPECT_EQ(refused.exit_code, 1);
    EXPECT_NE(refused.err.find("already exists and is not replaced"), std::string::npos) << refused.err;
    EXPECT_NE(refused.err.find("--force"), std::string::npos) << refused.err;
    EXPECT_EQ(test::read_file(backup).size(), 9u);
    EXPECT_FALSE(fs::exists(dir.file("photos.img.map")));

    const test::limited_result forced = korvalen({"save-image", source, backup.string(), "--force"});
    ASSERT_EQ(forced.exit_code, 0) << forced.err;
    EXPECT_EQ(test::read_file(backup), test::read_file(source));
    // A finished copy's map says so: one finished area over the whole source.
    const auto map = test::read_file(dir.file("photos.img.map"));
    const std::string text(map.begin(), map.end());
    EXPECT_NE(text.find("  +\n"), std::string::npos) << text;
}

TEST(SaveImage, ALinkPlantedAtTheOutputIsNotFollowed) {
    test::temp_dir dir;
    const fs::path victim = dir.file("victim.txt");
    test::write_file(victim, {'k', 'e', 'e', 'p'});
    fs::create_symlink(victim, dir.file("out.img"));
    const std::string source = test::fixture_image("fat12").string();
    for (const char* flag : {"--force", "--resume"}) {
        const test::limited_result r = korvalen({"save-image", source, dir.file("out.img").string(), flag});
        EXPECT_EQ(r.exit_code, 1) << flag;
    }
    const test::limited_result r = korvalen({"save-image", source, dir.file("out.img").string(), "--force"});
    EXPECT_NE(r.err.find("is a symbolic link; it is not followed"), std::string::npos) << r.err;
    EXPECT_EQ(test::read_file(victim), (std::vector<uint8_t>{'k', 'e', 'e', 'p'}));
    EXPECT_TRUE(fs::is_symlink(dir.file("out.img")));
}

// A loop device over an image file, detached again at the end; empty when the system gives none
// (no root, no loop support).
class loop_device {
  public:
    explicit loop_device(const fs::path& file) {
        const std::string command = "losetup -f --show '" + file.string() + "' 2>/dev/null";
        if (FILE* out = ::popen(command.c_str(), "r")) {
            char line[256] = {};
            if (std::fgets(line, sizeof line, out)) path_ = std::string(line, std::strcspn(line, "\n"));
            ::pclose(out);
        }
    }
    ~loop_device() {
        if (!path_.empty()) (void)std::system(("losetup -d '" + path_ + "'").c_str());
    }
    loop_device(const loop_device&) = delete;
    loop_device& operator=(const loop_device&) = delete;
    const std::string& path() const { return path_; }

  private:
    std::string path_;
};

// The image behind a loop device is the same storage as the device, both ways round.
TEST(SaveImage, ALoopDeviceAndTheFileBehindItAreOneStorage) {
    test::temp_dir dir;
    const fs::path disk = dir.file("disk.img");
    fs::copy_file(test::fixture_image("part-volumes"), disk);
    const std::string before = test::sha256_hex(test::read_file(disk));
    const loop_device loop(disk);
    if (loop.path().empty()) GTEST_SKIP() << "no loop device can be set up here";
    for (const auto& [source, output] :
         std::vector<std::pair<std::string, std::string>>{{loop.path(), disk.string()},
                                                          {disk.string() + "#2048", loop.path()},
                                                          {disk.string(), loop.path()}}) {
        const test::limited_result r = korvalen({"save-image", source, output, "--force"});
        EXPECT_EQ(r.exit_code, 1) << source << " -> " << output;
        EXPECT_NE(r.err.find("an image is never written over its source"), std::string::npos) << r.err;
    }
    EXPECT_EQ(test::sha256_hex(test::read_file(disk)), before);
}

}  // namespace
}  // namespace kvl
