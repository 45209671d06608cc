// The promise that a source is never written: every command runs on copies of real images, under
// strace, and neither the copies' bytes change nor is any of them ever opened for writing.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "support/fixtures.h"
#include "support/limited_run.h"
#include "support/sha256.h"
#include "support/temp_dir.h"

namespace kvl {
namespace {

namespace fs = std::filesystem;

bool has_strace() {
    return std::system("command -v strace >/dev/null 2>&1") == 0;
}

// The openat/open calls of the trace that name one of the sources and ask for more than reading.
std::vector<std::string> write_opens(const fs::path& trace, const std::vector<fs::path>& sources) {
    std::vector<std::string> found;
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);) {
        if (line.find("open") == std::string::npos) continue;
        const bool names_source = std::any_of(sources.begin(), sources.end(), [&](const fs::path& source) {
            return line.find("\"" + source.string()) != std::string::npos;
        });
        const bool writes =
            line.find("O_WRONLY") != std::string::npos || line.find("O_RDWR") != std::string::npos ||
            line.find("O_CREAT") != std::string::npos || line.find("O_TRUNC") != std::string::npos;
        if (names_source && writes) found.push_back(line);
    }
    return found;
}

// Whether the trace saw a source opened at all (read-only), so an empty finding means something.
bool opened_read_only(const fs::path& trace, const std::vector<fs::path>& sources) {
    std::ifstream in(trace);
    for (std::string line; std::getline(in, line);)
        for (const fs::path& source : sources)
            if (line.find("\"" + source.string()) != std::string::npos &&
                line.find("O_RDONLY") != std::string::npos)
                return true;
    return false;
}

TEST(ReadOnly, NoCommandWritesToOrOpensASourceForWriting) {
    if (!has_strace()) GTEST_SKIP() << "strace is not installed";
    test::temp_dir dir;
    const std::vector<std::string> names = {"fat12", "ntfs-512", "part-volumes"};
    std::vector<fs::path> sources;
    std::vector<std::string> digests;
    for (const std::string& name : names) {
        sources.push_back(dir.file(name + ".img"));
        fs::copy_file(test::fixture_image(name), sources.back());
        digests.push_back(test::sha256_hex(test::read_file(sources.back())));
    }
    const std::string fat = sources[0].string();
    const std::string ntfs = sources[1].string();
    const std::string disk = sources[2].string();
    const std::string out = dir.file("out").string();
    const std::vector<std::vector<std::string>> commands = {
        {"ls", "-r", "--json", fat},
        {"ls", "--deleted-only", "-r", ntfs},
        {"ls", disk},
        {"ls", disk + "#2048"},
        {"cat", ntfs, "/Documents/readme.txt"},
        {"info", ntfs, "/Documents"},
        {"find", fat, "--mask", "*.txt"},
        {"recover", fat, "/", "--to", out + "/fat"},
        {"recover", ntfs, "/", "--to", out + "/ntfs"},
        {"partitions", disk},
        {"partitions", "--search", disk},
        {"lost", ntfs, "--to", out + "/lost-ntfs"},
        {"lost", fat, "--to", out + "/lost-fat"},
        {"carve", fat, "--to", out + "/carved"},
        {"save-image", fat, out + "/copy.img"},
    };
    fs::create_directory(out);
    for (const auto& command : commands) {
        std::string shown;
        for (const std::string& a : command) shown += " " + a;
        SCOPED_TRACE(shown);
        const fs::path trace = dir.file("trace");
        std::vector<std::string> traced = {"strace",
                                           "-f",
                                           "-qq",
                                           "-e",
                                           "trace=openat,open",
                                           "-o",
                                           trace.string(),
                                           KORVALEN_BIN_DIR "/korvalen",
                                           "-q"};
        traced.insert(traced.end(), command.begin(), command.end());
        const test::limited_result r = test::run_limited(traced, 120);
        EXPECT_TRUE(r.exit_code == 0 || r.exit_code == 1) << r.err;
        ASSERT_TRUE(fs::exists(trace));
        EXPECT_EQ(write_opens(trace, sources), std::vector<std::string>{});
        EXPECT_TRUE(opened_read_only(trace, sources)) << "the trace shows no source opened";
    }
    for (size_t i = 0; i < sources.size(); ++i)
        EXPECT_EQ(test::sha256_hex(test::read_file(sources[i])), digests[i]) << names[i];
}

}  // namespace
}  // namespace kvl
