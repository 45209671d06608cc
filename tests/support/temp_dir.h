#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace kvl::test {

// A fresh folder under the system's temporary folder, removed with everything in it at the end.
class temp_dir {
  public:
    temp_dir();
    ~temp_dir();
    temp_dir(const temp_dir&) = delete;
    temp_dir& operator=(const temp_dir&) = delete;

    const std::filesystem::path& path() const { return path_; }
    std::filesystem::path file(const std::string& name) const { return path_ / name; }
    // UTF-16 path of a file inside the folder, as the streams take it.
    std::u16string u16(const std::string& name) const;

  private:
    std::filesystem::path path_;
};

void write_file(const std::filesystem::path& path, const std::vector<uint8_t>& bytes);
std::vector<uint8_t> read_file(const std::filesystem::path& path);

// Makes file-permission checks of this thread those of an unprivileged user for a scope, so a test
// run as root still sees a read-only file refuse writing.
class unprivileged_files {
  public:
    unprivileged_files();
    ~unprivileged_files();
    unprivileged_files(const unprivileged_files&) = delete;
    unprivileged_files& operator=(const unprivileged_files&) = delete;

  private:
    int saved_uid_;
    int saved_gid_;
};

}  // namespace kvl::test
