#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <vector>

#include "core/base.h"
#include "storage/data_chunks.h"
#include "storage/stream.h"

namespace kvl {

// What a search found: where, how large and of which kind (each search says what its fields hold).
struct found_item {
    int64_t position = 0;
    int64_t size = 0;
    int32_t type = 0;
    bool operator==(const found_item&) const = default;
};

// Which search a scanner is; the found-item handler dispatches on it.
inline constexpr int32_t SCANNER_STREAM_WRITER = 0;
inline constexpr int32_t SCANNER_FAT_SECOND_SCAN = 1;
inline constexpr int32_t SCANNER_NTFS_SECOND_SCAN = 2;
inline constexpr int32_t SCANNER_PARTITION_SCAN = 3;
inline constexpr int32_t SCANNER_XFS_SCAN = 4;

// The base of every search: a preparation step, a block handler, the hits and the callback that
// makes items of each hit the moment it is found. Stored hits are replayed instead of searching again.
class scanner : public base {
  public:
    using found_fn = boost::function<bool(scanner*, const found_item&)>;

    explicit scanner(int32_t scanner_kind) : kind(scanner_kind) {}
    virtual ~scanner() = default;

    virtual bool prepare() { return true; }
    virtual bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data,
                               int32_t length) = 0;
    // Called once the walk has handed over its last block.
    virtual void finish() {}

    bool scan_chunks(stream& source, const data_chunks& chunks, int32_t buffer_size, bool rescan);
    bool scan_storage(stream& source, int32_t buffer_size, bool rescan, int64_t start);
    bool has_results() const { return results && !results->empty(); }
    void replay_results();
    void clear_results();
    // This scanner's process_block as a walk's handler.
    block_handler handler();

    const int32_t kind;
    std::vector<found_item>* results = nullptr;
    found_fn found_callback;
    stream* storage = nullptr;
    bool aborted = false;
    int32_t record_step = 1;

  protected:
    void add_hit(const found_item& hit);
};

// Copies the data it is walked over into a target stream instead of searching.
class stream_writer : public scanner {
  public:
    explicit stream_writer(stream& destination) : scanner(SCANNER_STREAM_WRITER), target(destination) {}
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;

    stream& target;
};

}  // namespace kvl
