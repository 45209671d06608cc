#pragma once

#include <boost/function.hpp>
#include <cstdint>

#include "storage/data_chunks.h"
#include "storage/stream.h"

namespace kvl {

// Receives the data piece by piece in extent order: (storage offset of the piece, its position in
// its extent, bytes, length); answers false to stop. The bytes are only valid during the call.
using chunk_sink =
    boost::function<bool(int64_t storage_offset, int64_t position, const uint8_t* data, int32_t length)>;

// Reads every extent through the storage in pieces, putting patches back, giving zeros for holes
// and decoding compressed units, and hands each piece to the sink. False only when a read fails
// (or the piece size is not valid); true when done, when the sink stops or when the user cancels.
bool copy_chunks(stream& storage, data_chunks chunks, int32_t piece_size, const chunk_sink& sink);

// Cuts the data to its first `limit` bytes. A cut compressed unit still decodes whole and delivers
// its first bytes.
void truncate_chunks(data_chunks& chunks, int64_t limit);

}  // namespace kvl
