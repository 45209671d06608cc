#include "config/config.h"
#include "fat/fat_directory.h"
#include "items/file_item_manager.h"
#include "ntfs/disk_storage_ntfs.h"
#include "ntfs/ntfs_lost_records.h"
#include "ntfs/ntfs_tree.h"

// The dispatcher behind every click in the tree.
namespace kvl {

void file_item_manager::activate(kvl_file_item_manager::handle node) {
    if (tree.view() && node && node->data.view_node) tree.view()->select(node->data.view_node);
    activate_selected();
}

void file_item_manager::activate_selected() {
    platform::tree_control* view = tree.view();
    platform::tree_item* selected = view ? view->selected() : nullptr;
    const kvl_file_item_manager::handle node = selected ? tree.get_node_data(selected) : nullptr;
    if (activation_running) {
        // A click while a listing pumps messages: only a low-level folder's list is refilled.
        if (node && node->data.item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER &&
            node->data.item.type == FILE_ITEM_TYPE_SRC_ITEM) {
            tree.empty_list();
            tree.list_found_files(node, low_level_scanner.definitions);
        }
        return;
    }
    if (!node) return;
    activation_running = true;
    if (node->data.item.type == FILE_ITEM_TYPE_SRC_ITEM)
        open_source_item(node, false);
    else if (node->data.item.type == FILE_ITEM_TYPE_COMMAND)
        run_command(node, false);
    activation_running = false;
}

void file_item_manager::open_source_item(kvl_file_item_manager::handle node, bool rescan) {
    storage.progress.show_after_delay = true;
    const int32_t subtype = node->data.item.subtype;
    tree.delete_children(node, subtype != FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER &&
                                   subtype != FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER);
    tree.empty_list();
    storage.sector_retries = app_config().get(u"storage.sector_retries").as_int();
    if (!storage.open(node->data.item.source)) return;
    current_source = node->data.item.source;
    // A whole drive, or an image of one, shows its partitions.
    if ((storage.kind == STORAGE_KIND_DRIVE && storage.start_sector == 0) || storage.is_disk_image()) {
        tree.add_command_item(COMMAND_PARTITION_SEARCH, node);
        add_partitions_of_open_storage(node);
        storage.close();
        return;
    }
    open_volume_node(node, rescan);
    storage.close();
}

void file_item_manager::open_volume_node(kvl_file_item_manager::handle node, bool rescan) {
    const file_item& item = node->data.item;
    const bool scan_folder = item.subtype == FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER ||
                             item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER ||
                             item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER;
    const bool volume_root = !scan_folder && item.position == 0;
    const bool fat = storage.fs_type >= FILE_SYSTEM_FAT12 && storage.fs_type <= FILE_SYSTEM_FAT32;
    if (volume_root) {
        // An image with neither a table nor a file system may be a disk whose table was wiped.
        if (storage.fs_type == FILE_SYSTEM_RAW && storage.kind == STORAGE_KIND_FILE &&
            storage.start_sector == 0)
            tree.add_command_item(COMMAND_PARTITION_SEARCH, node);
        if (storage.fs_type == FILE_SYSTEM_NTFS) tree.add_command_item(COMMAND_NTFS_LOST_RECORDS, node);
        if (fat) tree.add_command_item(COMMAND_FAT_LOST_ENTRIES, node);
        tree.add_command_item(COMMAND_LOW_LEVEL_SEARCH, node);
    }
    if (item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER) {
        tree.list_found_files(node, low_level_scanner.definitions);
        return;
    }
    if (fat) {
        disk_storage_fat volume;
        if (!volume.assign_storage(storage) || !volume.load_fat(300)) return;
        fat_items entries;
        read_fat_directory(volume, item, rescan, entries);
        list_fat_items(tree, entries, node);
    } else if (storage.fs_type == FILE_SYSTEM_NTFS) {
        disk_storage_ntfs volume;
        const bool bound = volume.assign_storage(storage);
        if (item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER) {
            list_lost_records(tree, storage, node);
            return;
        }
        if (!bound) return;
        ntfs_tree& folders = scan_results.get(item.source).tree;
        if (volume_root) {
            tree.add_command_item(COMMAND_RESCAN, node);
            if (folders.empty() || rescan) {
                storage.progress.show_after_delay = false;
                build_ntfs_tree(volume, folders);
            }
        }
        volume.tree = &folders;
        const int64_t key = volume_root ? NTFS_ROOT : item.position;
        if (const auto found = folders.find(key); found != folders.end())
            list_ntfs_children(tree, volume, found->second, node);
    }
}

void file_item_manager::run_command(kvl_file_item_manager::handle node, bool rescan) {
    storage.progress.show_after_delay = true;
    command_node = node;
    tree.delete_children(node, true);
    switch (node->data.item.position) {
        case COMMAND_MOUNT_IMAGE:
            mount_image();
            break;
        case COMMAND_NTFS_LOST_RECORDS:
            run_ntfs_lost_search(node, rescan);
            break;
        case COMMAND_FAT_LOST_ENTRIES:
            run_fat_lost_search(node, rescan);
            break;
        case COMMAND_LOW_LEVEL_SEARCH:
            run_low_level_search(node, rescan);
            break;
        case COMMAND_PARTITION_SEARCH:
            run_partition_search(node, rescan);
            break;
        case COMMAND_RESCAN: {
            const kvl_file_item_manager::handle parent = node->parent;
            if (!parent) break;
            if (parent->data.item.type == FILE_ITEM_TYPE_SRC_ITEM)
                open_source_item(parent, true);
            else if (parent->data.item.type == FILE_ITEM_TYPE_COMMAND)
                run_command(parent, true);
            break;
        }
        default:
            break;
    }
}

}  // namespace kvl
