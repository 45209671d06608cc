#include "support/ddrescuelog.h"

#include <sys/wait.h>

#include <cstdio>
#include <cstdlib>

#include "support/temp_dir.h"

namespace kvl::test {

bool have_ddrescuelog() {
    return std::system("command -v ddrescuelog >/dev/null 2>&1") == 0;
}

std::optional<std::string> ddrescuelog(const std::string& arguments, const std::filesystem::path& scratch) {
    const int status =
        std::system(("ddrescuelog " + arguments + " >'" + scratch.string() + "' 2>&1").c_str());
    const std::vector<uint8_t> bytes = read_file(scratch);
    if (status == -1 || !WIFEXITED(status) || WEXITSTATUS(status) != 0) return std::nullopt;
    return std::string(bytes.begin(), bytes.end());
}

std::optional<std::pair<int64_t, int>> ddrescuelog_total(const std::string& shown, const std::string& label) {
    const size_t at = shown.find(label + ":");
    if (at == std::string::npos) return std::nullopt;
    long long bytes = 0;
    int areas = 0;
    if (std::sscanf(shown.c_str() + at + label.size() + 1, " %lld B, in %d area(s)", &bytes, &areas) != 2)
        return std::nullopt;
    return std::pair<int64_t, int>{bytes, areas};
}

}  // namespace kvl::test
