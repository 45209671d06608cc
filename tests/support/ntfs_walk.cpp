#include "support/ntfs_walk.h"

#include "core/text.h"
#include "ntfs/ntfs_tree.h"
#include "storage/memory_stream.h"

namespace kvl::test {

ntfs_volume_view::ntfs_volume_view(const std::u16string& source) {
    manager.bind(&tree_control, &list, &status);
    volume_node = manager.add_source_item(source, u"volume", nullptr);
    if (storage.open(source)) volume.assign_storage(storage);
}

ntfs_volume_view::~ntfs_volume_view() {
    if (storage.is_open()) storage.close();
}

bool ntfs_volume_view::build() {
    return storage.is_open() && build_ntfs_tree(volume, tree);
}

std::vector<listed_entry> ntfs_volume_view::list_all() {
    std::vector<listed_entry> out;
    walk(NTFS_ROOT, volume_node, "", 0, out);
    return out;
}

void ntfs_volume_view::walk(int64_t key, kvl_file_item_manager::handle node, const std::string& prefix,
                            int depth, std::vector<listed_entry>& out) {
    if (depth > 64 || !tree.count(key)) return;
    manager.empty_list();
    list_ntfs_children(manager, volume, tree.at(key), node);
    std::vector<listed_entry> rows;
    for (int i = 0; i < list.count(); ++i) {
        platform::list_row* row = list.row(i);
        listed_entry entry;
        entry.path = prefix + "/" + utf16_to_utf8(list.caption(row));
        entry.item = *static_cast<const file_item*>(list.data(row));
        entry.size_text = list.sub_item(row, 0);
        entry.type = list.sub_item(row, 1);
        entry.created = list.sub_item(row, 2);
        entry.modified = list.sub_item(row, 3);
        entry.accessed = list.sub_item(row, 4);
        entry.size = std::stoll("0" + utf16_to_utf8(list.sub_item(row, 5)));
        entry.image = list.image(row);
        rows.push_back(entry);
    }
    for (const listed_entry& entry : rows) {
        out.push_back(entry);
        if (entry.item.subtype == FILE_ITEM_SUBTYPE_FOLDER && entry.item.tree_node)
            walk(entry.item.position, static_cast<kvl_file_item_manager::handle>(entry.item.tree_node),
                 entry.path, depth + 1, out);
    }
}

bool ntfs_volume_view::read_file(int64_t record_index, std::vector<uint8_t>& data) {
    ntfs_record record;
    if (!record.assign_by_index(storage, record_index, volume.mft_chunks)) return false;
    ntfs_attributes attributes;
    if (!attributes.load(record, true)) return false;
    memory_stream out;
    if (!attributes.read_data(out, -1)) return false;
    data.assign(out.bytes().begin(), out.bytes().end());
    return true;
}

}  // namespace kvl::test
