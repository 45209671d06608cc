#include "scan/scanner.h"

#include <algorithm>

#include "core/memory_block.h"
#include "core/text.h"

namespace kvl {

namespace {

// Answers: 1 go on, 0 stop with true, -1 a read failed.
int walk_plain(stream& source, const chunk_item& extent, int64_t& running, std::vector<uint8_t>& block,
               const block_handler& handler) {
    const int32_t size = static_cast<int32_t>(block.size());
    if (extent.offset >= 0 && !source.seek(extent.offset, seek_from_start)) return -1;
    std::vector<uint8_t> tail;
    for (int64_t at = 0; at < extent.length; at += size) {
        const int32_t length = static_cast<int32_t>(std::min<int64_t>(size, extent.length - at));
        uint8_t* data = block.data();
        if (extent.offset < 0) {
            std::fill_n(block.begin(), length, 0);  // a hole reads as zeros
        } else if (is_aligned(length, source.alignment)) {
            if (!source.read(data, length)) return -1;
        } else {
            tail.assign(static_cast<size_t>(align_up(length, source.alignment)), 0);
            if (!source.read(tail.data(), static_cast<int32_t>(tail.size()))) return -1;
            data = tail.data();
        }
        if (!handler(extent.offset + at, running, data, length, nullptr)) return 1;
        running += length;
        source.progress.step(length);
        if (source.progress.cancelled) return 0;
    }
    return 1;
}

int walk_unit(stream& source, const data_chunks& chunks, const chunk_item& extent, int64_t& running,
              const block_handler& handler) {
    constexpr int64_t max_unit_bytes = 64 * 1024 * 1024;
    if (extent.stored_length <= max_unit_bytes && extent.length <= max_unit_bytes) {
        std::vector<uint8_t> stored(static_cast<size_t>(extent.stored_length));
        if (!source.read_unaligned(extent.offset, stored.data(), static_cast<int32_t>(stored.size())))
            return -1;
        std::vector<uint8_t> decoded(
            static_cast<size_t>(align_up(static_cast<int32_t>(extent.length), 4096)));
        if (chunks.filter && !chunks.filter(decoded.data(), static_cast<int32_t>(decoded.size()),
                                            stored.data(), static_cast<int32_t>(stored.size())))
            handler(extent.offset, running, decoded.data(), static_cast<int32_t>(extent.length), nullptr);
    }
    running += extent.length;
    source.progress.step(static_cast<int32_t>(std::min<int64_t>(extent.length, INT32_MAX)));
    return source.progress.cancelled ? 0 : 1;
}

}  // namespace

bool stream::iterate(stream& source, const data_chunks& chunks, int32_t buffer_size,
                     const block_handler& handler) {
    if (buffer_size <= 0 || !is_aligned(buffer_size, source.alignment)) {
        source.report_error("stream::iterate", u"Buffer size " + decimal(buffer_size) + u" is not " +
                                                   decimal(source.alignment) + u" aligned");
        return false;
    }
    source.progress.start(u"Processing", chunks.total_length());
    std::vector<uint8_t> block(static_cast<size_t>(buffer_size));
    int64_t running = 0;
    for (const chunk_item& extent : chunks.chunks) {
        if (extent.length <= 0) continue;
        const int result = extent.stored_length > 0 ? walk_unit(source, chunks, extent, running, handler)
                                                    : walk_plain(source, extent, running, block, handler);
        if (result < 0) return false;
        if (result == 0) return true;
    }
    return true;
}

block_handler scanner::handler() {
    return [this](int64_t disk, int64_t data_position, uint8_t* data, int32_t length, void*) {
        return process_block(disk, data_position, data, length);
    };
}

bool scanner::scan_chunks(stream& source, const data_chunks& chunks, int32_t buffer_size, bool rescan) {
    if (has_results() && !rescan) {
        replay_results();
        aborted = false;
        return true;
    }
    aborted = !prepare();
    if (!aborted) {
        clear_results();
        stream::iterate(source, chunks, buffer_size, handler());
        finish();
    }
    return true;
}

bool scanner::scan_storage(stream& source, int32_t buffer_size, bool rescan, int64_t start) {
    storage = &source;
    const int64_t size = source.size();
    return scan_chunks(source, data_chunks(start, std::max<int64_t>(size - start, 0)), buffer_size, rescan);
}

void scanner::replay_results() {
    if (!results || !found_callback) return;
    // The callback may not add to the list it is replaying; a copy keeps the walk safe regardless.
    const std::vector<found_item> hits = *results;
    for (const found_item& hit : hits) found_callback(this, hit);
}

void scanner::clear_results() {
    if (results) results->clear();
}

void scanner::add_hit(const found_item& hit) {
    if (results) results->push_back(hit);
    if (found_callback) found_callback(this, hit);
}

bool stream_writer::process_block(int64_t, int64_t, uint8_t* data, int32_t length) {
    target.write(data, length);
    return true;
}

}  // namespace kvl
