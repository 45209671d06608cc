#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <vector>

#include "core/base.h"
#include "core/memory_block.h"

namespace kvl {

class stream;

// One extent of a storage: `length` bytes of the data at byte `offset` (negative: a hole that reads
// as zeros); a `stored_length` above 0 makes it one compressed unit of that many stored bytes.
struct chunk_item {
    int64_t offset = 0;
    int64_t length = 0;
    int64_t stored_length = 0;
    bool operator==(const chunk_item&) const = default;
};

// One byte to put back over what the storage holds (the sector-end bytes of resident NTFS data).
struct patch_item {
    int64_t position = 0;
    uint8_t value = 0;
    bool operator==(const patch_item&) const = default;
};

// Data scattered over extents, read as if it were contiguous: position 0 is the first byte of the
// first extent, and positions run on through the extents in list order.
class data_chunks : public base {
  public:
    // Decodes one compressed unit; answers true when decoding FAILED.
    using filter_fn =
        boost::function<bool(uint8_t* output, int32_t output_size, const uint8_t* input, int32_t input_size)>;

    data_chunks() = default;
    data_chunks(int64_t offset, int64_t length);

    void add_chunk(const chunk_item& chunk) { chunks.push_back(chunk); }
    // The sum of the lengths (saturating, so a damaged extent list cannot overflow it).
    int64_t total_length() const;
    // The storage offset of the data byte at position; -1 with a report beyond the data.
    int64_t vcn_to_lcn(int64_t position) const;

    // The extent holding position and the offset within it; false beyond the data.
    bool locate(int64_t position, size_t& index, int64_t& within) const;

    std::vector<chunk_item> chunks;
    std::vector<patch_item> patches;
    filter_fn filter;
};

// Reads size bytes from the stream's position into destination, in pieces of `piece` bytes, the
// last one read as whole sectors into a scratch block.
bool read_in_pieces(stream& source, uint8_t* destination, int32_t size, int32_t piece);

}  // namespace kvl
