#include <gtest/gtest.h>

#include <sys/stat.h>
#include <filesystem>
#include <map>
#include <regex>

#include "platform/output_folder.h"

#include "core/text.h"
#include "support/fixtures.h"
#include "support/search_world.h"
#include "support/sha256.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

namespace fs = std::filesystem;

// Recovers everything in the root of a source into out, as a user would: open the source, select
// every row, Recover.
void recover_root(test::search_world& world, const std::u16string& source, const fs::path& out) {
    const auto node = world.add_source(source);
    world.manager.activate(node);
    for (int i = 0; i < world.list.count(); ++i) world.list.set_selected(world.list.row(i), true);
    world.files.folders = {utf8_to_utf16(out.string())};
    world.manager.recover();
}

// Every file under a folder, by its path below it, with its digest.
std::map<std::string, std::string> written(const fs::path& out) {
    std::map<std::string, std::string> files;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        if (entry.is_regular_file())
            files["/" + fs::relative(entry.path(), out).string()] =
                test::sha256_hex(test::read_file(entry.path()));
    return files;
}

std::string shown_name(const test::manifest_entry& entry) {
    return entry.listed_name ? *entry.listed_name : entry.path.substr(entry.path.rfind('/') + 1);
}

// A file the manifest holds is among the written ones under its name, or under the name with a
// " (n)" before its extension when another entry took the name first, or under "Lost files".
bool recovered(const std::map<std::string, std::string>& files, const test::manifest_entry& entry) {
    const std::string folder = entry.path.substr(0, entry.path.rfind('/'));
    const std::string name = shown_name(entry);
    const size_t dot = name.rfind('.');
    const std::string stem = dot == std::string::npos || dot == 0 ? name : name.substr(0, dot);
    const std::string ext = stem.size() == name.size() ? "" : name.substr(dot);
    for (const std::string& where : {folder, std::string("/Lost files")})
        for (int copy = 1; copy < 6; ++copy) {
            const std::string candidate =
                where + "/" + (copy == 1 ? name : stem + " (" + std::to_string(copy) + ")" + ext);
            const auto found = files.find(candidate);
            if (found != files.end() && found->second == entry.sha256) return true;
        }
    return false;
}

class RecoveryOfFixture : public ::testing::TestWithParam<std::string> {
  protected:
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
};

TEST_P(RecoveryOfFixture, RootRecoveredReproducesTheManifest) {
    recover_root(world, utf8_to_utf16(test::fixture_image(GetParam()).string()), dir.path());
    const auto files = written(dir.path());
    int expected = 0;
    std::map<int, bool> link_groups;
    // A deleted file whose clusters were taken since is reported as not whole; nothing else is.
    std::vector<std::u16string> told;
    for (const test::manifest_entry& entry : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (!entry.intact && entry.first_cluster) {
            told.push_back(u"from cluster " + utf8_to_utf16(std::to_string(*entry.first_cluster)) + u" ");
            told.push_back(
                u"\"" +
                utf8_to_utf16(entry.listed_name.value_or(entry.path.substr(entry.path.rfind('/') + 1))) +
                u"\" could not");
        }
        if (entry.folder || entry.sha256.empty() || !entry.intact) continue;
        if (entry.link_group) {
            link_groups[*entry.link_group] = link_groups[*entry.link_group] || recovered(files, entry);
            continue;
        }
        EXPECT_TRUE(recovered(files, entry)) << entry.path;
        ++expected;
    }
    for (const auto& [group, found] : link_groups) EXPECT_TRUE(found) << "hard links " << group;
    EXPECT_GE(files.size(), static_cast<size_t>(expected));
    std::vector<std::u16string> errors;
    for (const auto& line : ui.log.lines) {
        const bool expected_loss = std::any_of(told.begin(), told.end(), [&](const std::u16string& t) {
            return line.text.find(t) != std::u16string::npos;
        });
        if (line.image == 1 && !expected_loss) errors.push_back(line.text);
    }
    EXPECT_TRUE(errors.empty()) << utf16_to_utf8(errors.empty() ? u"" : errors.front());
}

INSTANTIATE_TEST_SUITE_P(Images, RecoveryOfFixture,
                         ::testing::Values("ntfs-4k", "ntfs-512", "demo-ntfs", "fat12", "fat16", "fat32"));

TEST(Recovery, LogLinesIndentFourSpacesPerLevelAndTimesAreKept) {
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    recover_root(world, utf8_to_utf16(test::fixture_image("fat16").string()), dir.path());
    bool nested = false;
    for (const auto& line : ui.log.lines) {
        ASSERT_TRUE(line.text.starts_with(u"Extracting ") || line.image == 0) << utf16_to_utf8(line.text);
        if (line.text.starts_with(u"Extracting         ")) nested = true;  // two levels down
    }
    EXPECT_TRUE(nested);
    // The fixture's files were written with known times; none is left with the recovery's own.
    for (const auto& entry : fs::recursive_directory_iterator(dir.path())) {
        if (!entry.is_regular_file()) continue;
        EXPECT_LT(fs::last_write_time(entry.path()), fs::file_time_type::clock::now() - std::chrono::hours(1))
            << entry.path();
    }
}

TEST(Recovery, NothingSelectedAndCancelledBrowser) {
    test::test_ui ui;
    test::search_world world;
    world.manager.recover();
    ASSERT_EQ(ui.boxes.shown.size(), 1u);
    EXPECT_EQ(ui.boxes.shown[0].text, u"Please select a files");
    const auto node = world.add_source(utf8_to_utf16(test::fixture_image("fat12").string()));
    world.manager.activate(node);
    world.list.set_selected(world.list.row(0), true);
    world.manager.recover();  // the folder browser answers nothing
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST(Recovery, ExistingFilesAreKeptAndASymlinkInTheWayIsNotFollowed) {
    test::test_ui ui;
    test::temp_dir dir;
    test::temp_dir elsewhere;
    test::search_world world;
    const fs::path out = dir.path() / "out";
    fs::create_directory(out);
    test::write_file(out / "README.TXT", {'o', 'l', 'd'});
    fs::create_directory_symlink(elsewhere.path(), out / "DOCS");
    recover_root(world, utf8_to_utf16(test::fixture_image("fat16").string()), out);
    EXPECT_EQ(test::read_file(out / "README.TXT"), (std::vector<uint8_t>{'o', 'l', 'd'}));
    EXPECT_TRUE(fs::exists(out / "README (2).TXT"));
    EXPECT_TRUE(fs::is_empty(elsewhere.path()));  // nothing was written through the link
    EXPECT_TRUE(fs::is_directory(out / "DOCS (2)"));
}

TEST(OutputNames, SanitizedNeverDotsAndAtMost255Bytes) {
    EXPECT_EQ(output_name(u"a/b", 1), "a-b");
    EXPECT_EQ(output_name(u"..", 1), "_");
    EXPECT_EQ(output_name(u".", 1), "_");
    EXPECT_EQ(output_name(u"", 1), "_");
    EXPECT_EQ(output_name(u"../../x", 1), "..-..-x");
    EXPECT_EQ(output_name(u"/abs", 1), "-abs");
    EXPECT_EQ(output_name(u"back\\slash:colon", 1), "back-slash:colon");
    EXPECT_EQ(output_name(u"bell\x07.txt", 2), "bell- (2).txt");
    EXPECT_EQ(output_name(u"report.txt", 3), "report (3).txt");
    const std::u16string long_name = std::u16string(251, u'\u044f') + u".txt";  // two bytes each in UTF-8
    EXPECT_LE(output_name(long_name, 12).size(), 255u);
    EXPECT_TRUE(output_name(long_name, 12).ends_with(" (12).txt"));
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

// The folder of the tests lies on some block device of this machine; that device, and the disk
// it belongs to, count as the source being read.
TEST(Recovery, AFolderOnTheSourcesDiskIsRefused) {
    test::temp_dir dir;
    struct stat folder {};
    ASSERT_EQ(::stat(dir.path().c_str(), &folder), 0);
    std::string device;
    for (const auto& entry : fs::directory_iterator("/dev")) {
        struct stat st {};
        if (::stat(entry.path().c_str(), &st) == 0 && S_ISBLK(st.st_mode) && st.st_rdev == folder.st_dev)
            device = entry.path();
    }
    if (device.empty()) GTEST_SKIP() << "the test folder is on no block device of /dev";
    EXPECT_TRUE(platform::destination_on_source(folder.st_dev, device));
    EXPECT_FALSE(
        platform::destination_on_source(folder.st_dev, dir.path().string()));  // an image file is no device
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

// A destination that refuses what is made in it: the log says where, and why.
TEST(Recovery, AFailureNamesTheDestinationAndTheSystemsReason) {
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    const fs::path out = dir.path() / "read-only";
    fs::create_directory(out);
    // Anyone may enter the folders; nobody may write into the destination.
    fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::others_read | fs::perms::others_exec);
    fs::permissions(
        out, fs::perms::owner_read | fs::perms::owner_exec | fs::perms::others_read | fs::perms::others_exec);
    {
        test::unprivileged_files user;
        recover_root(world, utf8_to_utf16(test::fixture_image("fat16").string()), out);
    }
    fs::permissions(out, fs::perms::owner_all);
    const auto lines = ui.log_texts();
    const auto has = [&](const std::u16string& text) {
        return std::any_of(lines.begin(), lines.end(),
                           [&](const std::u16string& l) { return l.find(text) != std::u16string::npos; });
    };
    EXPECT_TRUE(has(u"=> Permission denied")) << utf16_to_utf8(lines.back());
    EXPECT_TRUE(has(u"Can't create ") && has(u"\"" + utf8_to_utf16(out.string()) + u"/"))
        << utf16_to_utf8(lines.back());
    EXPECT_TRUE(fs::is_empty(out));
}

}  // namespace
}  // namespace kvl
