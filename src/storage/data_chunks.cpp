#include "storage/data_chunks.h"

#include <algorithm>

#include "core/byte_ranges.h"
#include "core/text.h"
#include "storage/stream.h"

namespace kvl {

data_chunks::data_chunks(int64_t offset, int64_t length) {
    chunks.push_back({offset, length, 0});
}

int64_t data_chunks::total_length() const {
    int64_t total = 0;
    for (const chunk_item& c : chunks) total = saturating_add(total, std::max<int64_t>(c.length, 0));
    return total;
}

bool data_chunks::locate(int64_t position, size_t& index, int64_t& within) const {
    if (position < 0) return false;
    int64_t before = 0;
    for (size_t i = 0; i < chunks.size(); ++i) {
        const int64_t length = std::max<int64_t>(chunks[i].length, 0);
        if (position - before < length) {
            index = i;
            within = position - before;
            return true;
        }
        before = saturating_add(before, length);
    }
    return false;
}

int64_t data_chunks::vcn_to_lcn(int64_t position) const {
    size_t index = 0;
    int64_t within = 0;
    if (!locate(position, index, within)) {
        report_error("data_chunks::vcn_to_lcn", u"Chunk data overrun");
        return -1;
    }
    if (chunks[index].offset < 0) return -1;  // a hole lies nowhere on the storage
    return saturating_add(chunks[index].offset, within);
}

bool stream::read_(stream& storage, int64_t position, memory_block& block, const data_chunks& map) {
    const std::vector<chunk_item>& chunks = map.chunks;
    size_t index = 0;
    int64_t within = 0;
    const bool found = map.locate(position, index, within);
    int64_t remaining = block.size();
    uint8_t* destination = block.data();
    while (remaining > 0) {
        if (!found || index >= chunks.size()) {
            storage.report_error("stream::read_", u"Chunk data overrun");
            return false;
        }
        const chunk_item& chunk = chunks[index];
        const int32_t n =
            static_cast<int32_t>(std::min(remaining, std::max<int64_t>(chunk.length, 0) - within));
        if (n > 0 && chunk.offset < 0) {
            std::fill_n(destination, n, 0);  // a hole reads as zeros
        } else if (n > 0 && !storage.read_unaligned(saturating_add(chunk.offset, within), destination, n)) {
            storage.report_error("stream::read_", u"Cannot read data");
            return false;
        }
        destination += n;
        remaining -= n;
        ++index;
        within = 0;
    }
    return true;
}

bool read_in_pieces(stream& source, uint8_t* destination, int32_t size, int32_t piece) {
    if (piece <= 0 || !is_aligned(piece, source.alignment)) {
        source.report_error("read_in_pieces", u"Buffer size " + decimal(piece) + u" is not " +
                                                  decimal(source.alignment) + u" aligned");
        return false;
    }
    const buffer pieces(size, piece);
    for (int32_t i = 0; i + 1 < pieces.count(); ++i) {
        if (!source.read(destination, pieces[i])) return false;
        destination += pieces[i];
    }
    if (pieces.count() == 0) return true;
    const int32_t last = pieces[pieces.count() - 1];
    memory_block tail;
    tail.resize(align_up(last, source.alignment), 1);
    if (!source.read_block(tail)) return false;
    std::copy_n(tail.data(), last, destination);
    return true;
}

}  // namespace kvl
