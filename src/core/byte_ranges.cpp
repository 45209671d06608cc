#include "core/byte_ranges.h"

#include <algorithm>
#include <iterator>

namespace kvl {

void byte_ranges::add(int64_t position, int64_t length) {
    if (length <= 0) return;
    int64_t begin = position;
    int64_t end = saturating_add(position, length);
    // Joins every range that overlaps or touches the new one.
    auto at = ranges_.upper_bound(begin);
    if (at != ranges_.begin() && std::prev(at)->second >= begin) --at;
    while (at != ranges_.end() && at->first <= end) {
        begin = std::min(begin, at->first);
        end = std::max(end, at->second);
        at = ranges_.erase(at);
    }
    ranges_.emplace(begin, end);
}

bool byte_ranges::intersects(int64_t position, int64_t length) const {
    if (length <= 0) return false;
    const int64_t end = saturating_add(position, length);
    auto at = ranges_.lower_bound(end);
    return at != ranges_.begin() && std::prev(at)->second > position;
}

std::vector<byte_range> byte_ranges::within(int64_t position, int64_t length) const {
    std::vector<byte_range> out;
    if (length <= 0) return out;
    const int64_t end = saturating_add(position, length);
    auto at = ranges_.upper_bound(position);
    if (at != ranges_.begin()) --at;
    for (; at != ranges_.end() && at->first < end; ++at) {
        const int64_t first = std::max(at->first, position);
        const int64_t last = std::min(at->second, end);
        if (first < last) out.push_back({first, last - first});
    }
    return out;
}

std::vector<byte_range> byte_ranges::all() const {
    std::vector<byte_range> out;
    for (const auto& [first, end] : ranges_) out.push_back({first, end - first});
    return out;
}

int64_t byte_ranges::total() const {
    int64_t sum = 0;
    for (const auto& [first, end] : ranges_) sum += end - first;
    return sum;
}

}  // namespace kvl
