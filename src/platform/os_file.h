#pragma once

#include <cstdint>
#include <string>

// A POSIX file descriptor with the few calls the streams need. Failures return false or -1 and
// leave errno set for the caller's report.
namespace kvl::platform {

enum class open_access {
    read_only,          // sources: O_RDONLY, never written
    create_read_write,  // outputs: O_RDWR | O_CREAT | O_TRUNC, mode 0644
};

class os_file {
  public:
    os_file() = default;
    ~os_file();
    os_file(const os_file&) = delete;
    os_file& operator=(const os_file&) = delete;
    os_file(os_file&& other) noexcept;
    os_file& operator=(os_file&& other) noexcept;

    bool open(const std::string& path, open_access access);
    // Creates a new file in the folder `directory` refers to: never replacing a file and never
    // following a symbolic link at the name.
    bool open_at(int directory, const std::string& name);
    // Opens an output for reading and writing without following a symbolic link at the path:
    // a new file when `create` (failing with EEXIST when something is there), else what exists.
    bool open_output(const std::string& path, bool create);
    bool is_open() const { return fd_ >= 0; }
    // For the device queries of the platform layer.
    int descriptor() const { return fd_; }
    // Closes the descriptor; false when the system reports an error (a write that failed late).
    bool close();

    // lseek; -1 on failure.
    int64_t seek(int64_t offset, int whence);
    // Reads up to size bytes, retrying partial reads; the count read, -1 on failure.
    int64_t read_full(uint8_t* data, int64_t size);
    // Reads up to size bytes at an offset without moving the file position; the count read (short
    // only at the end), -1 on failure.
    int64_t read_full_at(int64_t offset, uint8_t* data, int64_t size) const;
    // Writes all bytes, retrying partial writes; false on failure.
    bool write_full(const uint8_t* data, int64_t size);
    bool write_full_at(int64_t offset, const uint8_t* data, int64_t size);
    // Sets the size of a regular file (what is added reads as zeros).
    bool truncate(int64_t size);
    // Puts what was written on the storage (fdatasync).
    bool sync_data();
    // The file's size, or a block device's size from the kernel; -1 on failure.
    int64_t size() const;

  private:
    int fd_ = -1;
};

}  // namespace kvl::platform
