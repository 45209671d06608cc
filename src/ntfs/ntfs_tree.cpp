#include "ntfs/ntfs_tree.h"

#include <algorithm>
#include <deque>
#include <limits>
#include <set>

#include "config/config.h"
#include "core/format.h"
#include "core/message_log.h"
#include "core/text.h"
#include "ntfs/disk_storage_ntfs.h"
#include "platform/ui.h"

namespace kvl {

namespace {

// The record a record belongs to: its base record for an extension record, else itself.
int64_t owner_of(const le_bytes& record, int64_t index) {
    const int64_t base_record = static_cast<int64_t>(record.u64(32) & MFT_REFERENCE_MASK);
    return base_record != 0 ? base_record : index;
}

int64_t parent_reference(const le_bytes& file_name) {
    return static_cast<int64_t>(file_name.u64(0) & MFT_REFERENCE_MASK);
}

// Tells the user of a record in use whose structure is damaged; what can be read of it is still listed.
void report_damage(int64_t index, bool fixups_sound, const le_bytes& record) {
    if (!record.equals(0, "FILE") || (record.u16(22) & MFT_RECORD_IN_USE) == 0) return;
    const std::u16string damage =
        fixups_sound ? record_damage(record)
                     : u"its update sequence does not match; the ends of its sectors are read as they are";
    if (!damage.empty())
        log_error("build_ntfs_tree", u"MFT record " + decimal(index) + u" is damaged: " + damage);
}

void add_all_records(disk_storage_ntfs& volume, ntfs_tree& tree, int64_t data_position, uint8_t* data,
                     int32_t length) {
    const int32_t size = volume.record_size;
    const int64_t first = data_position / size;
    for (int32_t i = 0; i < length / size; ++i) {
        const std::span<uint8_t> bytes(data + static_cast<size_t>(i) * size, static_cast<size_t>(size));
        const bool sound = apply_fixups(bytes);
        const le_bytes record(bytes);
        report_damage(first + i, sound, record);
        const le_bytes name = find_resident_attribute(record, AT_FILE_NAME);
        if (name.empty()) continue;
        int64_t parent = parent_reference(name);
        if (parent >= volume.record_count) parent = NTFS_LOST_FILES;
        const uint16_t flags = record.u16(22);
        tree.try_emplace(
            owner_of(record, first + i),
            ntfs_tree_node{
                parent, (flags & MFT_RECORD_IS_DIRECTORY) != 0, (flags & MFT_RECORD_IN_USE) == 0, {}, true});
    }
}

void append_once(std::vector<int64_t>& list, int64_t key) {
    if (std::find(list.begin(), list.end(), key) == list.end()) list.push_back(key);
}

// A deleted file and every folder on its way up to the root; a file whose parent cannot be read or
// is not a folder goes to "Lost files". A walk ends at the root, at 0, or where it meets itself.
void add_deleted_records(disk_storage_ntfs& volume, ntfs_tree& tree, int64_t data_position, uint8_t* data,
                         int32_t length) {
    const int32_t size = volume.record_size;
    const int64_t first = data_position / size;
    for (int32_t i = 0; i < length / size; ++i) {
        const std::span<uint8_t> bytes(data + static_cast<size_t>(i) * size, static_cast<size_t>(size));
        const le_bytes record(bytes);
        if (record.u16(22) != 0 || !record.equals(0, "FILE") || (record.u64(32) & MFT_REFERENCE_MASK) != 0)
            continue;
        apply_fixups(bytes);
        std::set<int64_t> passed;
        for (int64_t current = first + i; current != NTFS_ROOT && passed.insert(current).second;) {
            bool parent_is_folder = false;
            const int64_t parent = parent_of(volume, current, parent_is_folder);
            const uint8_t* own = volume.cache.get(current);
            const bool deleted =
                !own || (le_bytes(own, static_cast<size_t>(size)).u16(22) & MFT_RECORD_IN_USE) == 0;
            // A folder an earlier walk already linked has its way up in the tree: the walk ends there.
            const bool known =
                !tree.try_emplace(current, ntfs_tree_node{parent, false, deleted, {}, true}).second;
            if (known && current != first + i && tree[current].has_record) break;
            if (parent == 0) {
                append_once(tree[NTFS_LOST_FILES].children, current);
                break;
            }
            tree.try_emplace(parent);
            append_once(parent_is_folder ? tree[parent].children : tree[NTFS_LOST_FILES].children, current);
            if (!parent_is_folder) break;
            current = parent;
        }
    }
}

// Links every node under its parent (ascending index order), then hangs whatever the root cannot
// reach (records whose parent was never a record, parent loops) under "Lost files", so that no
// record is lost from view.
int64_t link_children(ntfs_tree& tree) {
    for (auto& [key, node] : tree)
        if (node.has_record && node.parent != -1 && key != NTFS_ROOT && key != NTFS_LOST_FILES)
            tree[node.parent].children.push_back(key);
    std::set<int64_t> reached;
    std::deque<int64_t> pending = {NTFS_ROOT};
    const auto reach = [&] {
        while (!pending.empty()) {
            const int64_t key = pending.front();
            pending.pop_front();
            if (!reached.insert(key).second) continue;
            if (const auto found = tree.find(key); found != tree.end())
                for (int64_t child : found->second.children) pending.push_back(child);
        }
    };
    reach();
    int64_t unreachable = 0;
    for (auto& [key, node] : tree) {
        if (!node.has_record || reached.count(key)) continue;
        tree[NTFS_LOST_FILES].children.push_back(key);
        pending.push_back(key);
        reach();
        ++unreachable;
    }
    return unreachable;
}

// Records in sectors that cannot be read are lost (they read as zeros); what was in a lost folder
// goes to "Lost files" as any entry whose parent is not a record does.
void report_unreadable_records(disk_storage_ntfs& volume, int64_t first, int64_t count) {
    const auto lost = [&](int64_t index) {
        const int64_t at = volume.mft_chunks.vcn_to_lcn(index * volume.record_size);
        return at >= 0 && !volume.storage->unreadable_in(at, volume.record_size).empty();
    };
    for (int64_t index = first; index < first + count; ++index) {
        if (!lost(index)) continue;
        int64_t last = index;
        while (last + 1 < first + count && lost(last + 1)) ++last;
        log_error("build_ntfs_tree",
                  (last == index ? u"MFT record " + decimal(index)
                                 : u"MFT records " + decimal(index) + u" to " + decimal(last)) +
                      u" cannot be read; the files they held are lost, and what their folders held is "
                      u"listed under \"Lost files\"");
        index = last;
    }
}

// Reads the MFT front to back in buffers of whole records. The extents are joined, so a record
// that an extent boundary cuts (clusters smaller than records) is read whole and the records after
// it keep their numbers.
template <typename Handler>
bool read_mft(disk_storage_ntfs& volume, int32_t buffer_size, Handler&& handler) {
    disk_storage& storage = *volume.storage;
    if (buffer_size <= 0 || !is_aligned(buffer_size, storage.alignment)) {
        storage.report_error("read_mft", u"Buffer size " + decimal(buffer_size) + u" is not " +
                                             decimal(storage.alignment) + u" aligned");
        return false;
    }
    const int64_t records_per_buffer = std::max<int64_t>(buffer_size / volume.record_size, 1);
    const int64_t total = volume.record_count * volume.record_size;
    storage.progress.start(u"Processing", total);
    memory_block block;
    for (int64_t index = 0; index < volume.record_count; index += records_per_buffer) {
        const int64_t count = std::min(records_per_buffer, volume.record_count - index);
        block.resize(static_cast<int32_t>(count * volume.record_size), 1);
        if (!stream::read_(storage, index * volume.record_size, block, volume.mft_chunks)) return false;
        if (storage.has_unreadable()) report_unreadable_records(volume, index, count);
        handler(index * volume.record_size, block.data(), block.size());
        storage.progress.step(block.size());
        if (storage.progress.cancelled) return true;
    }
    return true;
}

}  // namespace

bool build_ntfs_tree(disk_storage_ntfs& volume, ntfs_tree& tree) {
    volume.tree = &tree;
    const bool deleted_only = app_config().get(u"ntfs.show_only_deleted").as_bool();
    volume.cache.init(*volume.storage, &volume.mft_chunks, app_config().get(u"ntfs.cache_size").as_int());
    tree.clear();
    tree[NTFS_LOST_FILES] = {-1, true, false, {}, true};
    tree[NTFS_ROOT] = {-1, true, false, {NTFS_LOST_FILES}, true};
    const int64_t buffer = int64_t{app_config().get(u"ntfs.std_scan_buf_size").as_int()} * volume.record_size;
    const int32_t buffer_size =
        buffer > 0 && buffer <= std::numeric_limits<int32_t>::max() ? static_cast<int32_t>(buffer) : 0;
    const bool read = read_mft(volume, buffer_size, [&](int64_t position, uint8_t* data, int32_t length) {
        if (deleted_only)
            add_deleted_records(volume, tree, position, data, length);
        else
            add_all_records(volume, tree, position, data, length);
    });
    if (read && !deleted_only) {
        if (const int64_t unreachable = link_children(tree); unreachable > 0)
            log_note(decimal(unreachable) +
                     u" folders or files cannot be reached from the root (a parent is missing or "
                     u"they are their own ancestors); they are listed under \"Lost files\"");
    }
    volume.cache.close();
    return read;
}

int64_t parent_of(disk_storage_ntfs& volume, int64_t index, bool& parent_is_folder) {
    parent_is_folder = false;
    const int32_t size = volume.cache.record_size();
    const uint8_t* bytes = volume.cache.get(index);
    if (!bytes) return 0;
    const le_bytes name = find_resident_attribute(le_bytes(bytes, static_cast<size_t>(size)), AT_FILE_NAME);
    if (name.empty()) return 0;
    const int64_t parent = parent_reference(name);
    if (parent >= volume.record_count) return 0;
    if (const uint8_t* above = volume.cache.get(parent))
        parent_is_folder =
            (le_bytes(above, static_cast<size_t>(size)).u16(22) & MFT_RECORD_IS_DIRECTORY) != 0;
    return parent;
}

le_bytes choose_file_name(const ntfs_attributes& attributes) {
    le_bytes other;
    for (const auto& item : attributes.items) {
        if (item->header.empty() || attribute::type(item->header) != AT_FILE_NAME) continue;
        const le_bytes value = attribute::value(item->header);
        if (value.size() < 66) continue;
        const uint8_t space = value.u8(65);
        if (space == 1 || space == 3) return value;
        other = value;
    }
    return other;
}

std::u16string file_name_text(const le_bytes& file_name) {
    // A name length reaching past its value is cut at the value's end.
    const uint64_t units =
        std::min<uint64_t>(file_name.u8(64), (file_name.size() - std::min<size_t>(file_name.size(), 66)) / 2);
    std::u16string name;
    for (uint64_t i = 0; i < units; ++i) name.push_back(static_cast<char16_t>(file_name.u16(66 + 2 * i)));
    return name;
}

namespace {

void add_lost_files(kvl_file_item_manager& manager, kvl_file_item_manager::handle parent) {
    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.subtype = FILE_ITEM_SUBTYPE_FOLDER;
    item.position = NTFS_LOST_FILES;
    item.source = parent->data.item.source;
    platform::list_row* row = manager.add_list_row(u"Lost files", item);
    for (const char16_t* text : {u"", u"Folder", u"", u"", u""}) manager.list_view->add_sub_item(row, text);
    manager.list_view->set_image(row, IMAGE_LAST_IN_ORDER);
    const auto node = manager.add_source_item(parent->data.item.source, u"Lost files", parent);
    node->data.item.position = NTFS_LOST_FILES;
    static_cast<file_item*>(manager.list_view->data(row))->tree_node = node;
    manager.add_placeholder(node);
    manager.set_images(node, IMAGE_LAST_IN_ORDER, IMAGE_LAST_IN_ORDER);
}

void add_record_row(kvl_file_item_manager& manager, disk_storage_ntfs& volume, int64_t key,
                    const ntfs_tree_node& node, kvl_file_item_manager::handle parent) {
    ntfs_record record;
    record.storage = volume.storage;
    record.mft_chunks = volume.mft_chunks;
    record.data.resize(volume.record_size, 1);
    if (key < 0 || key > INT64_MAX / volume.record_size ||
        !stream::read_(*volume.storage, key * volume.record_size, record.data, volume.mft_chunks))
        return;
    apply_fixups(record.data.bytes());
    record.offset = volume.mft_chunks.vcn_to_lcn(key * volume.record_size);
    record.record_index = key;
    // A folder with nothing left in it is still a folder.
    const bool folder = (node.is_directory || !node.children.empty()) && key != 0;
    ntfs_attributes attributes;
    attributes.load(record, true);
    const le_bytes name_value = choose_file_name(attributes);
    if (name_value.empty()) return;
    const std::u16string name = file_name_text(name_value);
    data_chunks chunks;
    const int64_t size = attributes.get_data_chunks(chunks) ? chunks.total_length() : 0;

    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.subtype = folder ? FILE_ITEM_SUBTYPE_FOLDER : FILE_ITEM_SUBTYPE_NONE;
    item.position = key;
    item.source = parent->data.item.source;
    item.deleted = node.is_deleted;
    platform::list_control& list = *manager.list_view;
    platform::list_row* row = manager.add_list_row(name, item);
    if (folder) {
        list.add_sub_item(row, u"");
        list.set_image(row, node.is_deleted ? IMAGE_DELETED_FOLDER : IMAGE_FOLDER);
    } else {
        list.add_sub_item(row, format_size_kb(size));
        manager.icons.deleted_look = node.is_deleted;
        const int image = manager.icons.icon_index(extension_of(name));
        list.set_image(row, image != -1 ? image : (node.is_deleted ? IMAGE_DELETED_FILE : IMAGE_FILE));
    }
    list.add_sub_item(row, file_type_text(name, folder));
    if (folder) {
        const auto child = manager.add_source_item(parent->data.item.source, name, parent);
        child->data.item.position = key;
        child->data.item.deleted = node.is_deleted;
        manager.add_placeholder(child);
        manager.set_images(child, node.is_deleted ? IMAGE_DELETED_FOLDER : IMAGE_FOLDER,
                           IMAGE_FOLDER_SELECTED);
        static_cast<file_item*>(list.data(row))->tree_node = child;
    }
    for (const uint64_t at : {8, 16, 32}) list.add_sub_item(row, format_file_time(name_value.u64(at)));
    list.add_sub_item(row, decimal(size));
}

}  // namespace

void list_ntfs_children(kvl_file_item_manager& manager, disk_storage_ntfs& volume, const ntfs_tree_node& node,
                        kvl_file_item_manager::handle parent) {
    manager.cancel_requested = false;
    if (!manager.list_view || !volume.storage || volume.record_size <= 0 || !volume.tree) return;
    // The node may be the tree's own; the list of keys is taken first, since reading adds nothing.
    const std::vector<int64_t> keys = node.children;
    for (const int64_t key : keys) {
        if (manager.cancel_requested) break;
        if (key == NTFS_LOST_FILES) {
            add_lost_files(manager, parent);
        } else if (const auto found = volume.tree->find(key); found != volume.tree->end()) {
            add_record_row(manager, volume, key, found->second, parent);
        }
        platform::ui().pump->process_pending();
    }
    manager.columns.sort_on_column(COLUMN_TYPE);
    manager.sort_children(parent);
}

}  // namespace kvl
