#include "scan/fat_second_scan.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace kvl {

bool fat_second_scan::process_block(int64_t disk_position, int64_t, uint8_t* data, int32_t length) {
    for (int32_t r = 0; r + record_step <= length; r += record_step)
        if (std::memcmp(data + r, "\x2E\x20\x20\x20", 4) == 0) add_hit({disk_position + r, 0, 0});
    return true;
}

bool scan_free_clusters(disk_storage_fat& volume, const block_handler& handler) {
    disk_storage& storage = *volume.storage;
    const int64_t count = volume.fat_entry_count();
    const int32_t cs = volume.cluster_size();
    storage.progress.start(u"Processing", count);
    // One read takes a run of consecutive free clusters, up to the scan buffer of 512 sectors.
    const int64_t run_limit = std::max<int64_t>(1, int64_t{storage.sector_size} * 512 / cs);
    std::vector<uint8_t> buffer(static_cast<size_t>(run_limit * cs));
    int64_t last = 0;
    for (int64_t c = 2; c < count && !storage.progress.cancelled;) {
        const int32_t entry = volume.get_fat_entry(static_cast<uint32_t>(c));
        if (entry == -1) return true;
        if (entry != 0) {
            ++c;
            continue;
        }
        int64_t run = 1;
        while (run < run_limit && c + run < count &&
               volume.get_fat_entry(static_cast<uint32_t>(c + run)) == 0)
            ++run;
        if (!storage.seek(volume.cluster_to_offset(c), seek_from_start) ||
            !storage.read(buffer.data(), static_cast<int32_t>(run * cs)))
            return false;
        for (int64_t i = 0; i < run; ++i) {
            if (!handler(volume.cluster_to_offset(c + i), 0, buffer.data() + i * cs, cs, nullptr))
                return true;
            storage.progress.step(static_cast<int32_t>(c + i - last));
            last = c + i;
            if (storage.progress.cancelled) return true;
        }
        c += run;
    }
    return true;
}

}  // namespace kvl
