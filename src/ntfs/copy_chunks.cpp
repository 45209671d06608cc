#include "ntfs/copy_chunks.h"

#include <algorithm>
#include <vector>

#include "core/memory_block.h"
#include "core/text.h"

namespace kvl {

namespace {

constexpr int32_t lznt1_block = 4096;
// A compression unit is 16 clusters of at most 4 KiB in practice; anything far larger is damage.
constexpr int64_t max_unit_bytes = 64 * 1024 * 1024;

void apply_patches(const std::vector<patch_item>& patches, int64_t pos, uint8_t* piece, int32_t length) {
    for (const patch_item& patch : patches)
        if (patch.position >= pos && patch.position < pos + length) piece[patch.position - pos] = patch.value;
}

// Answers: 1 go on, 0 stop with true, -1 a read failed.
int copy_plain(stream& storage, const data_chunks& chunks, const chunk_item& extent, int32_t piece_size,
               std::vector<uint8_t>& piece, const chunk_sink& sink) {
    for (int64_t pos = 0; pos < extent.length;) {
        const int32_t length = static_cast<int32_t>(std::min<int64_t>(piece_size, extent.length - pos));
        if (extent.offset < 0)
            std::fill_n(piece.begin(), length, 0);
        else if (!storage.read_unaligned(extent.offset + pos, piece.data(), length))
            return -1;
        apply_patches(chunks.patches, pos, piece.data(), length);
        if (!sink(extent.offset + pos, pos, piece.data(), length)) return 0;
        pos += length;
        storage.progress.step(length);
        if (storage.progress.cancelled) return 0;
    }
    return 1;
}

int copy_unit(stream& storage, const data_chunks& chunks, const chunk_item& extent,
              std::vector<uint8_t>& stored, std::vector<uint8_t>& decoded, const chunk_sink& sink) {
    if (extent.stored_length > max_unit_bytes || extent.length > max_unit_bytes) {
        storage.report_error("copy_chunks", u"A compressed unit of " + decimal(extent.length) +
                                                u" bytes is too large to read");
        return -1;
    }
    stored.resize(static_cast<size_t>(extent.stored_length));
    if (!storage.read_unaligned(extent.offset, stored.data(), static_cast<int32_t>(extent.stored_length)))
        return -1;
    // A unit cut at the end of the data decodes into whole blocks and delivers its first bytes.
    const int32_t length = static_cast<int32_t>(extent.length);
    decoded.assign(static_cast<size_t>(align_up(length, lznt1_block)), 0);
    const bool failed = !chunks.filter || chunks.filter(decoded.data(), static_cast<int32_t>(decoded.size()),
                                                        stored.data(), static_cast<int32_t>(stored.size()));
    // A unit that does not decode is delivered as zeros, so the bytes after it keep their places.
    if (failed) {
        std::fill(decoded.begin(), decoded.end(), 0);
        storage.report_error("copy_chunks", u"The compressed unit at " + decimal(extent.offset) +
                                                u" does not decode; it reads as zeros");
    }
    if (!sink(extent.offset, 0, decoded.data(), length)) return 0;
    storage.progress.step(length);
    return storage.progress.cancelled ? 0 : 1;
}

}  // namespace

bool copy_chunks(stream& storage, data_chunks chunks, int32_t piece_size, const chunk_sink& sink) {
    if (piece_size <= 0) {
        storage.report_error("copy_chunks", u"Piece size " + decimal(piece_size) + u" is not valid");
        return false;
    }
    storage.progress.start(u"Processing", chunks.total_length());
    std::vector<uint8_t> piece(static_cast<size_t>(piece_size));
    std::vector<uint8_t> stored;
    std::vector<uint8_t> decoded;
    for (const chunk_item& extent : chunks.chunks) {
        if (extent.length <= 0) continue;
        const int result = extent.stored_length > 0
                               ? copy_unit(storage, chunks, extent, stored, decoded, sink)
                               : copy_plain(storage, chunks, extent, piece_size, piece, sink);
        if (result < 0) return false;
        if (result == 0) return true;
    }
    return true;
}

void truncate_chunks(data_chunks& chunks, int64_t limit) {
    int64_t before = 0;
    for (size_t i = 0; i < chunks.chunks.size(); ++i) {
        chunk_item& extent = chunks.chunks[i];
        if (extent.length > limit - before) {
            extent.length = std::max<int64_t>(limit - before, 0);
            chunks.chunks.resize(i + 1);
            return;
        }
        before += extent.length;
    }
}

}  // namespace kvl
