#include <gtest/gtest.h>

#include <filesystem>
#include <map>
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

struct result {
    int status = -1;
    std::string out;
    std::string err;
};

// Runs the built program with these arguments; standard output and error are captured.
result run(const std::vector<std::string>& arguments) {
    std::vector<std::string> command = {KORVALEN_BIN_DIR "/korvalen"};
    command.insert(command.end(), arguments.begin(), arguments.end());
    const test::limited_result r = test::run_limited(command, 600);
    return {r.exit_code, r.out, r.err};
}

std::vector<nlohmann::json> json_lines(const std::string& text) {
    std::vector<nlohmann::json> rows;
    std::istringstream in(text);
    std::string line;
    while (std::getline(in, line))
        if (!line.empty()) rows.push_back(nlohmann::json::parse(line));
    return rows;
}

std::string image(const std::string& name) {
    return test::fixture_image(name).string();
}

std::string listed_path(const test::manifest_entry& e) {
    return e.listed_name ? e.path.substr(0, e.path.rfind('/') + 1) + *e.listed_name : e.path;
}

class CliFixture : public ::testing::TestWithParam<std::string> {};

TEST_P(CliFixture, RecursiveJsonListingCarriesTheManifest) {
    const result r = run({"ls", "-r", "--json", image(GetParam())});
    ASSERT_EQ(r.status, 0) << r.err;
    std::multimap<std::string, nlohmann::json> rows;
    for (const auto& row : json_lines(r.out)) rows.emplace(row.at("path").get<std::string>(), row);
    for (const test::manifest_entry& e : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (e.path == "/" || e.link_group) continue;
        bool found = false;
        for (const std::string& path : {listed_path(e), "/Lost files" + e.path.substr(e.path.rfind('/'))}) {
            const auto [first, last] = rows.equal_range(path);
            for (auto it = first; it != last && !found; ++it) {
                const nlohmann::json& row = it->second;
                const int64_t id = row.at("id").get<int64_t>();
                if ((e.mft_record && id != *e.mft_record) || (e.first_cluster && id != *e.first_cluster))
                    continue;
                found = true;
                EXPECT_EQ(row.at("folder").get<bool>(), e.folder) << e.path;
                EXPECT_EQ(row.at("deleted").get<bool>(), e.deleted) << e.path;
                if (!e.folder) {
                    EXPECT_EQ(row.at("size").get<int64_t>(), e.size) << e.path;
                }
            }
            if (found || !e.deleted) break;
        }
        EXPECT_TRUE(found) << e.path;
    }
}

TEST_P(CliFixture, CatGivesEveryLiveFileByteForByte) {
    int checked = 0;
    for (const test::manifest_entry& e : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (e.folder || e.deleted || e.sha256.empty() || e.link_group || checked >= 6) continue;
        const result r = run({"cat", image(GetParam()), e.path});
        ASSERT_EQ(r.status, 0) << e.path << r.err;
        EXPECT_EQ(test::sha256_hex(std::span(reinterpret_cast<const uint8_t*>(r.out.data()), r.out.size())),
                  e.sha256)
            << e.path;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_P(CliFixture, RecoverOfTheRootReproducesTheLiveTree) {
    test::temp_dir out;
    const result r = run({"-q", "recover", image(GetParam()), "/", "--to", out.path().string()});
    // Deleted files whose clusters were taken since are told as not whole (status 1); nothing else fails.
    const auto manifest = test::read_manifest(GetParam() + ".manifest.jsonl");
    const bool losses =
        std::any_of(manifest.begin(), manifest.end(), [](const auto& e) { return e.deleted && !e.intact; });
    ASSERT_TRUE(r.status == 0 || (losses && r.status == 1)) << r.err;
    for (const test::manifest_entry& e : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (e.folder || e.deleted || e.sha256.empty() || e.link_group) continue;
        const fs::path file = out.path() / e.path.substr(1);
        ASSERT_TRUE(fs::exists(file)) << e.path;
        EXPECT_EQ(test::sha256_hex(test::read_file(file)), e.sha256) << e.path;
    }
}

INSTANTIATE_TEST_SUITE_P(Images, CliFixture, ::testing::Values("demo-ntfs", "ntfs-4k", "fat12", "fat32"));

TEST(Cli, MissingSourcesUnknownPathsAndBadOptions) {
    const result missing = run({"ls", "/nonexistent/disk.img"});
    EXPECT_EQ(missing.status, 1);
    EXPECT_NE(missing.err.find("disk_storage::open=> Cannot open partition"), std::string::npos)
        << missing.err;
    const result unknown = run({"ls", image("fat16"), "/NO/SUCH"});
    EXPECT_EQ(unknown.status, 1);
    EXPECT_NE(unknown.err.find("\"/NO/SUCH\" is not found"), std::string::npos) << unknown.err;
    EXPECT_EQ(run({"ls"}).status, 2);
    EXPECT_EQ(run({"ls", "--no-such-option", image("fat16")}).status, 2);
    EXPECT_EQ(run({"partitions", "--search", "--from", "150", image("part-volumes")}).status, 2);
    EXPECT_EQ(run({"cat", image("fat16"), "/DOCS"}).status, 1);
    EXPECT_EQ(run({"--version"}).out, "korvalen 0.1.0\n");
}

TEST(Cli, HelpOfEveryCommandNamesItsOptions) {
    const std::map<std::string, std::vector<std::string>> expected = {
        {"sources", {"--json"}},
        {"ls", {"--json", "--recursive", "--deleted-only", "SOURCE", "PATH"}},
        {"cat", {"SOURCE", "PATH"}},
        {"recover", {"SOURCE", "PATH", "--to"}},
        {"partitions", {"--json", "--search", "--from", "SOURCE"}},
        {"lost", {"--json", "--to", "SOURCE"}},
        {"carve", {"--json", "--types", "--size", "--to", "SOURCE"}},
        {"find", {"--json", "--mask", "--more-than", "--less-than", "SOURCE", "PATH"}},
        {"info", {"SOURCE", "PATH"}},
        {"save-image", {"SOURCE", "OUT"}},
    };
    for (const auto& [command, words] : expected) {
        const result r = run({command, "--help"});
        EXPECT_EQ(r.status, 0) << command;
        for (const std::string& word : words)
            EXPECT_NE(r.out.find(word), std::string::npos) << command << " " << word;
    }
    const result top = run({"--help"});
    for (const auto& [command, words] : expected)
        EXPECT_NE(top.out.find(command), std::string::npos) << command;
}

TEST(Cli, PartitionsOfADiskImageAndTheirFileSystems) {
    const result r = run({"partitions", "--json", image("part-volumes")});
    ASSERT_EQ(r.status, 0) << r.err;
    std::vector<std::string> kinds;
    for (const auto& row : json_lines(r.out)) kinds.push_back(row.at("fs").get<std::string>());
    EXPECT_EQ(kinds, (std::vector<std::string>{"NTFS", "FAT16", "FAT12"}));
    const result searched = run({"-q", "partitions", "--json", "--search", image("part-volumes")});
    ASSERT_EQ(searched.status, 0) << searched.err;
    EXPECT_EQ(json_lines(searched.out).size(), 3u);
}

TEST(Cli, SaveImageWritesAByteIdenticalCopy) {
    test::temp_dir out;
    const result r = run({"-q", "save-image", image("fat12"), out.file("copy.img").string()});
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(test::read_file(out.file("copy.img")), test::read_file(image("fat12")));
}

TEST(Cli, FindListsMatchesUnderAFolder) {
    const result r = run({"find", "--json", image("fat16"), "/", "--mask", "*.TXT"});
    ASSERT_EQ(r.status, 0) << r.err;
    const auto rows = json_lines(r.out);
    ASSERT_FALSE(rows.empty());
    for (const auto& row : rows) {
        const std::string name = row.at("name").get<std::string>();
        EXPECT_EQ(name.substr(name.size() - 4), name.substr(name.size() - 4) == ".TXT" ? ".TXT" : ".txt")
            << name;
    }
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

TEST(Cli, RecoverAndCarveMakeAMissingDestinationFolder) {
    test::temp_dir out;
    const std::string into = out.file("not/there/yet").string();
    const result recovered = run({"-q", "recover", image("fat12"), "/", "--to", into});
    ASSERT_EQ(recovered.status, 0) << recovered.err;
    EXPECT_NE(recovered.err.find("The folder \"" + into + "\" was made"), std::string::npos) << recovered.err;
    EXPECT_FALSE(fs::is_empty(into));
    const std::string carved = out.file("carved").string();
    const result searched = run({"-q", "carve", "--to", carved, image("search-carve")});
    EXPECT_TRUE(fs::is_directory(carved)) << searched.err;
}

TEST(Cli, ASearchThatFindsNothingSaysSo) {
    const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
        {{"find", image("fat12"), "/", "--mask", "*.nothing"}, "No files found\n"},
        {{"partitions", image("fat12")}, "No partitions found\n"},  // a volume has no partition table
        {{"carve", "--types", ".flac", image("fat12")}, "No files found\n"},
    };
    for (const auto& [arguments, said] : cases) {
        std::vector<std::string> quiet = {"-q"};
        quiet.insert(quiet.end(), arguments.begin(), arguments.end());
        const result r = run(quiet);
        EXPECT_EQ(r.status, 0) << arguments[0] << ": " << r.err;
        EXPECT_EQ(r.out, said) << arguments[0];
    }
}

// Find gives each match's path from the volume's root and its deleted flag, as ls does.
TEST(Cli, FindReportsPathsAndDeletedFlagsAsLsDoes) {
    for (const char* fixture : {"fat16", "ntfs-4k"}) {
        const result listed = run({"-q", "ls", "-r", "--json", image(fixture)});
        const result found = run({"-q", "find", "--json", image(fixture)});
        ASSERT_EQ(found.status, 0) << found.err;
        std::map<std::string, std::set<bool>> deleted;  // a live and a deleted file may share a path
        for (const auto& row : json_lines(listed.out))
            deleted[row.at("path")].insert(row.at("deleted").get<bool>());
        const auto matches = json_lines(found.out);
        int deleted_matches = 0;
        for (const auto& row : matches) {
            const auto it = deleted.find(row.at("path"));
            ASSERT_NE(it, deleted.end()) << fixture << ": " << row.at("path");
            EXPECT_TRUE(it->second.count(row.at("deleted").get<bool>())) << fixture << ": " << row.at("path");
            deleted_matches += row.at("deleted").get<bool>();
        }
        EXPECT_GT(matches.size(), 10u) << fixture;
        EXPECT_GT(deleted_matches, 0) << fixture;
    }
}

TEST(Cli, CatOfAFolderSaysItIsAFolder) {
    const result r = run({"cat", image("fat12"), "/DOCS"});
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find("\"/DOCS\" is a folder"), std::string::npos) << r.err;
}

}  // namespace
}  // namespace kvl
