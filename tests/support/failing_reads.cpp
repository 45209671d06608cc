#include "support/failing_reads.h"

#include <sys/stat.h>

#include <cerrno>

namespace kvl::test {

failing_reads::failing_reads(const std::filesystem::path& file) : scope_(*this) {
    struct stat st {};
    if (::stat(file.c_str(), &st) == 0) {
        device_ = st.st_dev;
        inode_ = st.st_ino;
    }
}

int64_t failing_reads::read_at(const platform::os_file& file, int64_t offset, uint8_t* data, int64_t size) {
    struct stat st {};
    const bool ours = ::fstat(file.descriptor(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_;
    if (ours) {
        ++reads;
        asked.add(offset, size);
        if (bad_.intersects(offset, size)) {
            ++failed;
            errno = EIO;
            return -1;
        }
    }
    return file.read_full_at(offset, data, size);
}

}  // namespace kvl::test
