#include "platform/os_file.h"

#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <limits>
#include <utility>

namespace kvl::platform {

os_file::~os_file() {
    if (fd_ >= 0) ::close(fd_);
}

os_file::os_file(os_file&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

os_file& os_file::operator=(os_file&& other) noexcept {
    if (this != &other) {
        if (fd_ >= 0) ::close(fd_);
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

bool os_file::open(const std::string& path, open_access access) {
    const int flags = access == open_access::read_only ? O_RDONLY : O_RDWR | O_CREAT | O_TRUNC;
    int fd;
    do {
        fd = ::open(path.c_str(), flags | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}

bool os_file::open_at(int directory, const std::string& name) {
    int fd;
    do {
        fd = ::openat(directory, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}

bool os_file::open_output(const std::string& path, bool create) {
    const int flags = O_RDWR | O_NOFOLLOW | O_CLOEXEC | (create ? O_CREAT | O_EXCL : 0);
    int fd;
    do {
        fd = ::open(path.c_str(), flags, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
    return true;
}

bool os_file::close() {
    if (fd_ < 0) return true;
    const int result = ::close(std::exchange(fd_, -1));
    return result == 0 || errno == EINTR;
}

int64_t os_file::seek(int64_t offset, int whence) {
    const off_t result = ::lseek(fd_, static_cast<off_t>(offset), whence);
    return result < 0 ? -1 : static_cast<int64_t>(result);
}

namespace {

// Repeats a read or write call until `size` bytes are done; the count done (short only when a read
// meets the end), or -1 on failure. A write that takes nothing is a failure, not the end.
template <typename Call>
int64_t transfer_all(int64_t size, bool writing, Call call) {
    int64_t done = 0;
    while (done < size) {
        const ssize_t n = call(done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return -1;
        }
        if (n == 0) {
            if (!writing) break;
            errno = EIO;
            return -1;
        }
        done += n;
    }
    return done;
}

}  // namespace

int64_t os_file::read_full(uint8_t* data, int64_t size) {
    return transfer_all(size, false, [&](int64_t done) {
        return ::read(fd_, data + done, static_cast<size_t>(size - done));
    });
}

int64_t os_file::read_full_at(int64_t offset, uint8_t* data, int64_t size) const {
    return transfer_all(size, false, [&](int64_t done) {
        return ::pread(fd_, data + done, static_cast<size_t>(size - done), static_cast<off_t>(offset + done));
    });
}

bool os_file::write_full(const uint8_t* data, int64_t size) {
    return transfer_all(size, true, [&](int64_t done) {
               return ::write(fd_, data + done, static_cast<size_t>(size - done));
           }) == size;
}

bool os_file::write_full_at(int64_t offset, const uint8_t* data, int64_t size) {
    return transfer_all(size, true, [&](int64_t done) {
               return ::pwrite(fd_, data + done, static_cast<size_t>(size - done),
                               static_cast<off_t>(offset + done));
           }) == size;
}

bool os_file::truncate(int64_t size) {
    return ::ftruncate(fd_, static_cast<off_t>(size)) == 0;
}

bool os_file::sync_data() {
    return ::fdatasync(fd_) == 0;
}

int64_t os_file::size() const {
    struct stat st {};
    if (::fstat(fd_, &st) != 0) return -1;
    if (S_ISBLK(st.st_mode)) {
        uint64_t bytes = 0;
        if (::ioctl(fd_, BLKGETSIZE64, &bytes) != 0) return -1;
        if (bytes > static_cast<uint64_t>(std::numeric_limits<int64_t>::max())) {
            errno = EOVERFLOW;
            return -1;
        }
        return static_cast<int64_t>(bytes);
    }
    return static_cast<int64_t>(st.st_size);
}

}  // namespace kvl::platform
