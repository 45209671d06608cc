#pragma once

#include <string>
#include <vector>

#include "platform/os_file.h"
#include "storage/stream.h"

namespace kvl {

// A stream over an operating-system file or block device. Positions are relative to `base_offset`,
// so a stream opened on a whole disk can present one partition from position 0.
class file_stream : public stream {
  public:
    file_stream() = default;
    ~file_stream() override;
    file_stream(const file_stream&) = delete;
    file_stream& operator=(const file_stream&) = delete;

    bool open(const std::u16string& path, platform::open_access access);
    // Creates or truncates an output file for reading and writing.
    bool create(const std::u16string& path) { return open(path, platform::open_access::create_read_write); }
    void close();
    // Takes a file the platform has already opened (a recovered file made inside its folder).
    bool adopt(platform::os_file&& opened, const std::u16string& path);
    bool is_open() const { return file_.is_open(); }

    bool flush() override;
    int64_t get_pos() override;
    bool seek(int64_t offset, int32_t mode) override;
    bool read(uint8_t* data, int32_t size) override;
    bool write(const uint8_t* data, int32_t size) override;
    int64_t size() override;

    const std::u16string& path() const { return path_; }

    int64_t base_offset = 0;

    const platform::os_file& file() const { return file_; }

  private:
    platform::os_file file_;
    std::u16string path_;
};

// The bytes of a small file (a settings or definitions file), read through a read-only stream;
// false when it cannot be opened (the stream reports why). A file beyond `limit` bytes, or one that
// cannot be read, gives no bytes.
bool read_small_file(const std::u16string& path, int64_t limit, std::vector<uint8_t>& bytes);

}  // namespace kvl
