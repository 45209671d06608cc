#pragma once

#include <cstdint>

#include "platform/os_file.h"

// Every byte read from a source goes through here, so that tests can stand in a disk whose reads
// fail in chosen places, as a failing disk's do, without root or a real damaged device.
namespace kvl::platform {

class source_reader {
  public:
    virtual ~source_reader() = default;
    // Reads up to size bytes at an absolute offset of an open source; the count read (short only at
    // the end of the source), or -1 with errno set when the read fails.
    virtual int64_t read_at(const os_file& file, int64_t offset, uint8_t* data, int64_t size) = 0;
};

// The reader in use: the system's positioned reads unless a scope installs another.
source_reader& reader();

class scoped_reader {
  public:
    explicit scoped_reader(source_reader& replacement);
    ~scoped_reader();
    scoped_reader(const scoped_reader&) = delete;
    scoped_reader& operator=(const scoped_reader&) = delete;

  private:
    source_reader* saved_;
};

}  // namespace kvl::platform
