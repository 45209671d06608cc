#pragma once

#include <boost/function.hpp>
#include <cstdint>

#include "core/base.h"
#include "core/memory_block.h"

namespace kvl {

// Seek modes: every caller seeks from the start.
inline constexpr int32_t seek_from_start = 1;

// The byte stream all disks, partitions, images, output files and memory buffers are read and
// written through. A stream with an alignment other than 1 accepts only seek positions and read
// lengths that are multiples of it (the sector size of a raw device).
class data_chunks;

// Called with every buffer of a walk: (storage offset of the buffer, its position in the data, the
// bytes, their count, context); answering false skips the rest of the current extent. The handler
// may change the bytes in place (NTFS fixups); they are its own until it returns.
using block_handler = boost::function<bool(int64_t disk_position, int64_t data_position, uint8_t* data,
                                           int32_t length, void* context)>;

class stream : public base {
  public:
    virtual ~stream() = default;

    virtual bool flush() = 0;
    virtual int64_t get_pos() = 0;
    virtual bool seek(int64_t offset, int32_t mode) = 0;
    virtual bool read(uint8_t* data, int32_t size) = 0;
    virtual bool write(const uint8_t* data, int32_t size) = 0;
    virtual int64_t size() = 0;

    bool read_block(memory_block& block);
    // Reads any byte range by reading the whole aligned sectors that cover it.
    bool read_unaligned(int64_t position, uint8_t* dest, int32_t length);
    // Fills block with the data of chunks from position on, reading raw storage bytes (no patches,
    // no decoding).
    static bool read_(stream& storage, int64_t position, memory_block& block, const data_chunks& chunks);
    // Walks the extents over the stream in buffers of buffer_size bytes, with progress and Cancel.
    static bool iterate(stream& source, const data_chunks& chunks, int32_t buffer_size,
                        const block_handler& handler);

    int32_t alignment = 1;

  protected:
    stream() = default;

  private:
    memory_block scratch_;
};

}  // namespace kvl
