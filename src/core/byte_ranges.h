#pragma once

#include <cstdint>
#include <map>
#include <vector>

namespace kvl {

// a + b, or the largest value where that would overflow (an end that no damaged length can wrap).
inline int64_t saturating_add(int64_t a, int64_t b) {
    int64_t sum = 0;
    return __builtin_add_overflow(a, b, &sum) ? INT64_MAX : sum;
}

struct byte_range {
    int64_t position = 0;
    int64_t length = 0;
    int64_t end() const { return position + length; }
    bool operator==(const byte_range&) const = default;
};

// A set of byte ranges kept joined and in order (the unreadable parts of a source, the zeros of a
// recovered file).
class byte_ranges {
  public:
    void add(int64_t position, int64_t length);
    bool intersects(int64_t position, int64_t length) const;
    // The parts of the set inside [position, position + length), in order.
    std::vector<byte_range> within(int64_t position, int64_t length) const;
    std::vector<byte_range> all() const;
    int64_t total() const;
    bool empty() const { return ranges_.empty(); }

  private:
    std::map<int64_t, int64_t> ranges_;  // first byte -> end
};

}  // namespace kvl
