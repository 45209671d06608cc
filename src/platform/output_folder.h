#pragma once

#include <sys/types.h>

#include <cstdint>
#include <memory>
#include <string>

#include "platform/os_file.h"

// Writing recovered files under a chosen folder and nowhere else: every folder and file is made
// relative to its parent's descriptor, and a symbolic link already standing where one would go is
// never followed.
namespace kvl::platform {

class output_folder {
  public:
    output_folder() = default;
    ~output_folder();
    output_folder(const output_folder&) = delete;
    output_folder& operator=(const output_folder&) = delete;
    output_folder(output_folder&& other) noexcept;
    output_folder& operator=(output_folder&& other) noexcept;

    // The chosen folder itself, used as given (a link the user chose to is followed).
    bool open_chosen(const std::string& path);
    // A subfolder, made when absent; false (errno set) when it cannot be made or something other
    // than a folder stands there.
    bool open_child(const output_folder& parent, const std::string& name);
    // A new file; never replaces anything (EEXIST when the name is taken).
    bool create_file(const std::string& name, os_file& file) const;
    bool is_open() const { return fd_ >= 0; }
    // The device of the file system the folder lies on.
    dev_t device() const;
    // Sets the folder's own modification and access times (seconds since 1970, local calendar given).
    void set_times(int64_t modified, int64_t accessed) const;

  private:
    int fd_ = -1;
};

// Sets an open file's modification and access times.
void set_file_times(const os_file& file, int64_t modified, int64_t accessed);

// True when two block devices lie on one disk (the same device, partitions of one disk, or layers
// such as device-mapper over it).
bool on_same_disk(dev_t first, dev_t second);

// True when writing into a folder on `folder_device` would write to the storage `source_path`
// reads (the same block device, a partition of it, or the disk it is a partition of).
bool destination_on_source(dev_t folder_device, const std::string& source_path);

}  // namespace kvl::platform
