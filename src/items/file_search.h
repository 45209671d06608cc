#pragma once

#include <cstdint>
#include <string>

namespace kvl {

// The criteria of Find.
struct search_params {
    std::u16string mask = u"*";
    int32_t comparison = 0;  // 0 less than (or equal), 1 more than
    int32_t size = 10;
    bool use_mask = true;
    bool use_size = false;
    int32_t unit = 2;  // 0 bytes, 1 KiB, 2 MiB

    int64_t limit() const { return int64_t{size} << (unit * 10); }
};

// The wildcard test of Find: upper-cased texts, "*" greedy and never backtracking, "?" one
// character; the name need not be used up.
bool mask_matches(const std::u16string& name, const std::u16string& mask);
// Whether a file of `bytes` passes the size test.
bool size_matches(int64_t bytes, const search_params& criteria);
std::u16string describe_search(const search_params& criteria);

}  // namespace kvl
