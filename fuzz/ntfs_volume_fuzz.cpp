// An NTFS volume: the boot sector, MFT record 0 and the MFT's extents, the folder tree from every
// record, and each record's attributes (attribute lists followed), file name and data (bounded).
#include "fuzz_support.h"
#include "ntfs/disk_storage_ntfs.h"
#include "ntfs/ntfs_info_text.h"
#include "storage/memory_stream.h"

namespace {

constexpr int64_t max_records = 256;

void read_record(kvl::disk_storage_ntfs& volume, int64_t index) {
    kvl::ntfs_record record;
    if (!record.assign_by_index(*volume.storage, index, volume.mft_chunks)) return;
    kvl::ntfs_attributes attributes;
    if (!attributes.load(record, true)) return;
    kvl::file_name_text(kvl::choose_file_name(attributes));
    kvl::record_header_text(record);
    kvl::attributes_text(attributes, volume.cluster_size);
    kvl::data_chunks chunks;
    attributes.get_data_chunks(chunks);
    kvl::memory_stream data(1);
    attributes.read_data(data, 1);
    bool parent_is_folder = false;
    kvl::parent_of(volume, index, parent_is_folder);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    const kvl::fuzz::memory_image image(data, size);
    kvl::disk_storage storage;
    if (!image.open(storage)) return 0;
    kvl::disk_storage_ntfs volume;
    if (!volume.assign_storage(storage)) return 0;
    kvl::ntfs_tree tree;
    volume.tree = &tree;
    kvl::build_ntfs_tree(volume, tree);
    for (int64_t i = 0; i < std::min(volume.record_count, max_records); ++i) read_record(volume, i);
    return 0;
}
