#pragma once

#include <sys/types.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "core/byte_ranges.h"
#include "platform/source_reader.h"

namespace kvl::test {

// A failing disk without root: for its lifetime, every read of the given file that touches one of
// the chosen byte ranges fails with EIO, as a read over a bad sector does. Other files read as usual.
class failing_reads final : public platform::source_reader {
  public:
    explicit failing_reads(const std::filesystem::path& file);

    // Makes [offset, offset + length) of the file unreadable.
    void fail(int64_t offset, int64_t length) { bad_.add(offset, length); }
    // Makes it readable again (a copy resumed after the disk recovered, or a range read by retrying).
    void heal() { bad_ = {}; }
    int64_t read_at(const platform::os_file& file, int64_t offset, uint8_t* data, int64_t size) override;

    // Reads of the file, and those that failed.
    int64_t reads = 0;
    int64_t failed = 0;
    // Every byte the reads of the file asked for.
    byte_ranges asked;

  private:
    dev_t device_ = 0;
    ino_t inode_ = 0;
    byte_ranges bad_;
    platform::scoped_reader scope_;
};

}  // namespace kvl::test
