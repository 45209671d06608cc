#include "platform/output_folder.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <utility>
#include <vector>

namespace kvl::platform {

output_folder::~output_folder() {
    if (fd_ >= 0) ::close(fd_);
}

output_folder::output_folder(output_folder&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

output_folder& output_folder::operator=(output_folder&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool output_folder::open_chosen(const std::string& path) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    return fd_ >= 0;
}

bool output_folder::open_child(const output_folder& parent, const std::string& name) {
    if (::mkdirat(parent.fd_, name.c_str(), 0755) != 0 && errno != EEXIST) return false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = ::openat(parent.fd_, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    return fd_ >= 0;
}

bool output_folder::create_file(const std::string& name, os_file& file) const {
    return file.open_at(fd_, name);
}

dev_t output_folder::device() const {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_dev : 0;
}

namespace {

timespec to_timespec(int64_t seconds) {
    timespec t{};
    if (seconds < 0) {
        t.tv_nsec = UTIME_OMIT;
    } else {
        t.tv_sec = static_cast<time_t>(seconds);
    }
    return t;
}

}  // namespace

void output_folder::set_times(int64_t modified, int64_t accessed) const {
    const timespec times[2] = {to_timespec(accessed), to_timespec(modified)};
    ::futimens(fd_, times);
}

void set_file_times(const os_file& file, int64_t modified, int64_t accessed) {
    const timespec times[2] = {to_timespec(accessed), to_timespec(modified)};
    ::futimens(file.descriptor(), times);
}

namespace {

// The whole disk a block device belongs to (itself for a whole disk).
dev_t disk_of(dev_t device) {
    const std::filesystem::path sys =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code error;
    if (!std::filesystem::exists(sys / "partition", error)) return device;
    std::ifstream in(std::filesystem::canonical(sys, error).parent_path() / "dev");
    unsigned int maj = 0, min = 0;
    char colon = 0;
    if (in >> maj >> colon >> min) return makedev(maj, min);
    return device;
}

// The whole disks under a block device: through device-mapper and md layers (their slaves) down
// to the disks their partitions lie on.
void disks_under(dev_t device, std::vector<dev_t>& disks, int depth) {
    const std::filesystem::path sys =
        "/sys/dev/block/" + std::to_string(major(device)) + ":" + std::to_string(minor(device));
    std::error_code error;
    const std::filesystem::path slaves = std::filesystem::canonical(sys, error) / "slaves";
    bool stacked = false;
    if (depth < 16 && std::filesystem::is_directory(slaves, error))
        for (const auto& slave : std::filesystem::directory_iterator(slaves, error)) {
            std::ifstream in(slave.path() / "dev");
            unsigned int maj = 0, min = 0;
            char colon = 0;
            if (in >> maj >> colon >> min) {
                stacked = true;
                disks_under(makedev(maj, min), disks, depth + 1);
            }
        }
    if (!stacked) disks.push_back(disk_of(device));
}

}  // namespace

bool on_same_disk(dev_t first, dev_t second) {
    if (first == second) return true;
    std::vector<dev_t> under_first;
    std::vector<dev_t> under_second;
    disks_under(first, under_first, 0);
    disks_under(second, under_second, 0);
    for (dev_t disk : under_first)
        if (std::find(under_second.begin(), under_second.end(), disk) != under_second.end()) return true;
    return false;
}

bool destination_on_source(dev_t folder_device, const std::string& source_path) {
    struct stat st {};
    if (::stat(source_path.c_str(), &st) != 0 || !S_ISBLK(st.st_mode)) return false;
    return on_same_disk(folder_device, st.st_rdev);
}

}  // namespace kvl::platform
