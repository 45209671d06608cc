#include "support/temp_dir.h"

#include <sys/fsuid.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>
#include <iterator>

#include "core/text.h"

namespace kvl::test {

temp_dir::temp_dir() {
    std::string pattern = (std::filesystem::temp_directory_path() / "korvalen-test-XXXXXX").string();
    if (char* made = ::mkdtemp(pattern.data())) path_ = made;
    std::filesystem::permissions(
        path_, std::filesystem::perms::owner_all | std::filesystem::perms::group_read |
                   std::filesystem::perms::group_exec | std::filesystem::perms::others_read |
                   std::filesystem::perms::others_exec);
}

temp_dir::~temp_dir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
}

std::u16string temp_dir::u16(const std::string& name) const {
    return utf8_to_utf16(file(name).string());
}

void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

std::vector<uint8_t> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

namespace {
constexpr int nobody = 65534;
}

unprivileged_files::unprivileged_files()
    : saved_uid_(::setfsuid(static_cast<uid_t>(-1))), saved_gid_(::setfsgid(static_cast<gid_t>(-1))) {
    ::setfsgid(nobody);
    ::setfsuid(nobody);
}

unprivileged_files::~unprivileged_files() {
    ::setfsuid(static_cast<uid_t>(saved_uid_));
    ::setfsgid(static_cast<gid_t>(saved_gid_));
}

}  // namespace kvl::test
