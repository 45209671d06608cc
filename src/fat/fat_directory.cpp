#include "fat/fat_directory.h"

#include <algorithm>

#include "scan/scanner.h"

namespace kvl {

namespace {
// A directory is read with at most this many clusters.
constexpr uint32_t max_directory_clusters = 600;
}  // namespace

bool directory_check(const uint8_t* cluster, int32_t size) {
    return size >= 32 && cluster[12] == 0;
}

void read_fat_directory(disk_storage_fat& volume, const file_item& item, bool rescan, fat_items& out) {
    disk_storage& storage = *volume.storage;
    data_chunks chunks;
    uint32_t entry_offset = 0;
    const bool found_folder = item.subtype == FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER;
    if (item.position == 0 && !found_folder && storage.fs_type != FILE_SYSTEM_FAT32) {
        const int64_t length = std::min(volume.root_region_length(),
                                        std::max<int64_t>(storage.size() - volume.root_region_offset(), 0));
        chunks = data_chunks(volume.root_region_offset(), length);
    } else {
        uint32_t start = static_cast<uint32_t>(item.position);
        if (item.position == 0 && !found_folder) start = volume.root_cluster();
        if (found_folder) {
            start = static_cast<uint32_t>(volume.offset_to_cluster(item.position));
            entry_offset = static_cast<uint32_t>(volume.offset_in_cluster(item.position));
        }
        volume.get_item_chunks(start, chunks, 0, max_directory_clusters, FAT_RECOVER_ALGORITHM_AUTO,
                               directory_check);
    }
    memory_stream directory(1);
    stream_writer writer(directory);
    writer.scan_chunks(storage, chunks, storage.sector_size * 1000, rescan);
    out.parse(directory, entry_offset);
}

}  // namespace kvl
