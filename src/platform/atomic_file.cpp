#include "platform/atomic_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>

namespace kvl::platform {

namespace {

bool write_all(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) {
            errno = EIO;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(n));
    }
    return true;
}

// Removes the temporary file while keeping the errno of the failure that made us give up.
bool give_up(const std::string& temporary) {
    const int saved = errno;
    ::unlink(temporary.c_str());
    errno = saved;
    return false;
}

}  // namespace

bool replace_file_atomically(const std::string& path, std::string_view bytes) {
    const std::string temporary = path + ".tmp";
    // A copy left by a crash would make the exclusive create fail; unlink removes a link, not its target.
    if (::unlink(temporary.c_str()) != 0 && errno != ENOENT) return false;
    int fd;
    do {
        fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return false;
    if (!write_all(fd, bytes) || ::fdatasync(fd) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        return give_up(temporary);
    }
    // A late write error shows only here; EINTR still leaves the descriptor closed on Linux.
    if (::close(fd) != 0 && errno != EINTR) return give_up(temporary);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return give_up(temporary);
    return true;
}

}  // namespace kvl::platform
