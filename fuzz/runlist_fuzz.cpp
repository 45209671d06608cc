// Run lists: two extents of one attribute, the first decoded alone, the second on top of it, the
// two merged and turned into extents. Layout: a 64-byte attribute header, a 2-byte length of the
// first run list, the first run list, the second run list.
#include <algorithm>
#include <optional>
#include <vector>

#include "fuzz_support.h"
#include "ntfs/ntfs_attributes.h"

namespace {

constexpr size_t header_size = 64;

// A non-resident $DATA header from the input's header bytes, its run list at offset 64.
std::vector<uint8_t> make_attribute(const uint8_t* header, const uint8_t* pairs, size_t pairs_size,
                                    int64_t lowest) {
    std::vector<uint8_t> a(header_size + pairs_size);
    std::copy_n(header, header_size, a.begin());
    std::copy_n(pairs, pairs_size, a.begin() + header_size);
    const uint32_t length = static_cast<uint32_t>(a.size());
    for (int i = 0; i < 4; ++i) a[4 + i] = static_cast<uint8_t>(length >> (8 * i));
    a[8] = 1;
    a[32] = header_size;
    a[33] = 0;
    for (int i = 0; i < 8; ++i) a[16 + i] = static_cast<uint8_t>(static_cast<uint64_t>(lowest) >> (8 * i));
    return a;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < header_size + 2) return 0;
    kvl::fuzz::quiet_ui ui;
    const int32_t cluster_size = 512 << (data[0] % 8);
    const size_t first_size =
        std::min<size_t>(data[header_size] | data[header_size + 1] << 8, size - header_size - 2);
    const uint8_t* first_pairs = data + header_size + 2;
    const std::vector<uint8_t> first = make_attribute(data, first_pairs, first_size, 0);
    const std::optional<kvl::run_list> runs =
        kvl::decode_runlist(cluster_size, kvl::le_bytes(first.data(), first.size()), nullptr);
    if (!runs) return 0;
    kvl::data_chunks chunks;
    kvl::runs_to_chunks(kvl::le_bytes(first.data(), first.size()), *runs, chunks, cluster_size);
    const int64_t next_vcn = runs->empty() ? 0 : runs->back().vcn + runs->back().length;
    const std::vector<uint8_t> second =
        make_attribute(data, first_pairs + first_size, size - header_size - 2 - first_size, next_vcn);
    const std::optional<kvl::run_list> more =
        kvl::decode_runlist(cluster_size, kvl::le_bytes(second.data(), second.size()), &*runs);
    if (!more) return 0;
    const std::optional<kvl::run_list> merged = kvl::merge_runlists(*runs, *more);
    if (!merged) return 0;
    kvl::data_chunks all;
    kvl::runs_to_chunks(kvl::le_bytes(first.data(), first.size()), *merged, all, cluster_size);
    all.total_length();
    return 0;
}
