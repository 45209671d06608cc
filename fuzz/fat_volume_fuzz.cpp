// A FAT volume: the boot sector's geometry, the table, the root directory and the folders below it
// (bounded), and every file's clusters by each of the four ways of choosing them.
#include <vector>

#include "fat/disk_storage_fat.h"
#include "fat/fat_directory.h"
#include "fuzz_support.h"
#include "scan/scanner.h"
#include "storage/memory_stream.h"

namespace {

constexpr int max_depth = 8;
constexpr int max_folders = 64;
constexpr int64_t max_read = 1 << 20;

void read_file(kvl::disk_storage_fat& volume, const kvl::fat_node& node) {
    for (int32_t algorithm = kvl::FAT_RECOVER_ALGORITHM_AUTO;
         algorithm <= kvl::FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN; ++algorithm) {
        kvl::data_chunks chunks;
        if (!volume.get_item_chunks(static_cast<uint32_t>(node.first_cluster()), chunks, node.file_size(),
                                    kvl::NO_CLUSTER_LIMIT, algorithm, {}) ||
            chunks.total_length() > max_read)
            continue;
        kvl::memory_stream out(1);
        kvl::stream_writer writer(out);
        writer.scan_chunks(*volume.storage, chunks, volume.storage->sector_size * 64, true);
    }
}

void read_folder(kvl::disk_storage_fat& volume, const kvl::file_item& folder, int depth, int& folders) {
    kvl::fat_items items;
    kvl::read_fat_directory(volume, folder, true, items);
    for (const kvl::fat_node& node : items.nodes) {
        if (!node.is_directory()) {
            read_file(volume, node);
        } else if (depth < max_depth && ++folders < max_folders && node.first_cluster() != 0) {
            kvl::file_item child = folder;
            child.position = node.first_cluster();
            read_folder(volume, child, depth + 1, folders);
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    const kvl::fuzz::memory_image image(data, size);
    kvl::disk_storage storage;
    if (!image.open(storage)) return 0;
    kvl::disk_storage_fat volume;
    if (!volume.assign_storage(storage) || !volume.load_fat(300)) return 0;
    kvl::file_item root;
    root.type = kvl::FILE_ITEM_TYPE_FILE;
    root.subtype = kvl::FILE_ITEM_SUBTYPE_FOLDER;
    root.position = 0;
    int folders = 0;
    read_folder(volume, root, 0, folders);
    return 0;
}
