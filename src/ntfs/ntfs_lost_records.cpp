#include "ntfs/ntfs_lost_records.h"

#include <algorithm>
#include <cstring>

#include "core/format.h"
#include "core/text.h"
#include "ntfs/copy_chunks.h"
#include "platform/ui.h"
#include "storage/memory_stream.h"

namespace kvl {

bool ntfs_second_scan::process_block(int64_t disk_position, int64_t, uint8_t* data, int32_t length) {
    for (int32_t r = 0; r + record_step <= length; r += record_step)
        if (std::memcmp(data + r, "FILE0", 5) == 0) add_hit({disk_position + r, 0, 0});
    return true;
}

bool scan_free_clusters(disk_storage_ntfs& volume, const block_handler& handler) {
    disk_storage& storage = *volume.storage;
    ntfs_record bitmap_record;
    ntfs_attributes attributes;
    data_chunks chunks;
    const int64_t cs = volume.cluster_size;
    const int64_t clusters = storage.size() / cs;
    if (!bitmap_record.assign_by_index(storage, 6, volume.mft_chunks) ||
        !attributes.load(bitmap_record, true) || !attributes.get_data_chunks(chunks))
        return false;
    // One bit per cluster of the volume is all that is read, whatever $Bitmap's size claims.
    truncate_chunks(chunks, (clusters + 7) / 8);
    memory_stream bitmap;
    if (!copy_chunks(
            storage, chunks, storage.sector_size * 512,
            [&bitmap](int64_t, int64_t, const uint8_t* data, int32_t n) { return bitmap.write(data, n); }))
        return false;
    const auto bits = bitmap.bytes();
    const auto is_free = [&](int64_t c) { return (bits[static_cast<size_t>(c / 8)] & (1u << (c % 8))) == 0; };
    const int64_t end = std::min<int64_t>(clusters, static_cast<int64_t>(bits.size()) * 8);
    storage.progress.start(u"Processing", static_cast<int64_t>(bits.size()));
    const int64_t run_limit = std::max<int64_t>(1, int64_t{storage.sector_size} * 512 / cs);
    std::vector<uint8_t> buffer(static_cast<size_t>(run_limit * cs));
    int64_t stepped = 0;
    for (int64_t c = 0; c < end && !storage.progress.cancelled;) {
        if (!is_free(c)) {
            ++c;
            continue;
        }
        int64_t run = 1;
        while (run < run_limit && c + run < end && is_free(c + run)) ++run;
        if (!storage.seek(c * cs, seek_from_start) ||
            !storage.read(buffer.data(), static_cast<int32_t>(run * cs)))
            return false;
        for (int64_t i = 0; i < run; ++i)
            if (!handler((c + i) * cs, 0, buffer.data() + i * cs, static_cast<int32_t>(cs), nullptr))
                return true;
        c += run;
        storage.progress.step(static_cast<int32_t>(c / 8 - stepped));
        stepped = c / 8;
    }
    return true;
}

std::u16string caption_before_count(const std::u16string& caption) {
    const size_t at = caption.find(u" (");
    return at == std::u16string::npos ? caption : caption.substr(0, at);
}

namespace {

// A record read again at its offset, its attributes loaded without lists (no volume to follow
// them through).
bool load_found_record(disk_storage& storage, int64_t offset, ntfs_record& record,
                       ntfs_attributes& attributes) {
    return record.assign_by_offset(storage, offset) && attributes.load(record, false);
}

}  // namespace

void add_lost_record(kvl_file_item_manager& manager, disk_storage& storage,
                     kvl_file_item_manager::handle command_node, const found_item& hit) {
    ntfs_record record;
    ntfs_attributes attributes;
    if (!load_found_record(storage, hit.position, record, attributes)) return;
    const le_bytes file_name = choose_file_name(attributes);
    const std::u16string ext = extension_of(file_name.empty() ? u"" : file_name_text(file_name));
    kvl_file_item_manager::handle folder = nullptr;
    for (const auto& child : command_node->children) {
        if (child->data.item.type != FILE_ITEM_TYPE_SRC_ITEM || !child->data.view_node) continue;
        if (caption_before_count(manager.view()->text(child->data.view_node)) == ext) {
            folder = child.get();
            break;
        }
    }
    if (!folder) {
        folder = manager.add_source_item(command_node->data.item.source, ext, command_node);
        folder->data.item.subtype = FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER;
        manager.icons.deleted_look = false;
        const int image = manager.icons.icon_index(ext);
        manager.set_images(folder, image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image,
                           image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image);
    }
    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.subtype = FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER;
    item.position = hit.position;
    item.source = command_node->data.item.source;
    manager.add_node(ext + u" " + decimal(static_cast<int64_t>(folder->children.size())), item, folder, true);
    if (folder->data.view_node)
        manager.view()->set_text(folder->data.view_node,
                                 ext + u" (" + decimal(static_cast<int64_t>(folder->children.size())) + u")");
}

void list_lost_records(kvl_file_item_manager& manager, disk_storage& storage,
                       kvl_file_item_manager::handle folder) {
    manager.cancel_requested = false;
    if (!manager.list_view) return;
    platform::list_control& list = *manager.list_view;
    for (const auto& child : folder->children) {
        if (manager.cancel_requested) break;
        ntfs_record record;
        ntfs_attributes attributes;
        if (!load_found_record(storage, child->data.item.position, record, attributes)) continue;
        const le_bytes file_name = choose_file_name(attributes);
        const std::u16string name = file_name.empty() ? u"" : file_name_text(file_name);
        data_chunks chunks;
        const int64_t size = attributes.get_data_chunks(chunks) ? chunks.total_length() : 0;
        file_item item = child->data.item;
        item.deleted = (record.flags() & MFT_RECORD_IN_USE) == 0;
        platform::list_row* row = manager.add_list_row(name, item);
        list.add_sub_item(row, format_size_kb(size));
        manager.icons.deleted_look = false;
        const int image = manager.icons.icon_index(extension_of(name));
        list.set_image(row, image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image);
        list.add_sub_item(row, file_type_text(name, false));
        for (const uint64_t at : {8, 16, 32})
            list.add_sub_item(row, file_name.empty() ? u"" : format_file_time(file_name.u64(at)));
        list.add_sub_item(row, decimal(size));
        platform::ui().pump->process_pending();
    }
}

}  // namespace kvl
