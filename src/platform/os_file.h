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
    bool is_open() const { return fd_ >= 0; }
    // For the device queries of the platform layer.
    int descriptor() const { return fd_; }
    // Closes the descriptor; false when the system reports an error (a write that failed late).
    bool close();

    // lseek; -1 on failure.
    int64_t seek(int64_t offset, int whence);
    // Reads up to size bytes, retrying partial reads; the count read, -1 on failure.
    int64_t read_full(uint8_t* data, int64_t size);
    // Writes all bytes, retrying partial writes; false on failure.
    bool write_full(const uint8_t* data, int64_t size);
    // The file's size, or a block device's size from the kernel; -1 on failure.
    int64_t size() const;

private:
    int fd_ = -1;
};

}  // namespace kvl::platform
