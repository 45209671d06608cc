#include "platform/atomic_file.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>

#include "platform/os_file.h"

namespace kvl::platform {

namespace {

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
    os_file file;
    if (!file.open_output(temporary, true)) return false;
    if (!file.write_full(reinterpret_cast<const uint8_t*>(bytes.data()),
                         static_cast<int64_t>(bytes.size())) ||
        !file.sync_data()) {
        const int saved = errno;
        file.close();
        errno = saved;
        return give_up(temporary);
    }
    // A late write error shows only at the close.
    if (!file.close()) return give_up(temporary);
    if (std::rename(temporary.c_str(), path.c_str()) != 0) return give_up(temporary);
    return true;
}

}  // namespace kvl::platform
