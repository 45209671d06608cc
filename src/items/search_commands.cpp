#include <filesystem>
#include <limits>

#include "config/config.h"
#include "core/text.h"
#include "fat/disk_storage_fat.h"
#include "items/file_item_manager.h"
#include "ntfs/disk_storage_ntfs.h"
#include "ntfs/ntfs_lost_records.h"
#include "platform/ui.h"
#include "scan/fat_second_scan.h"
#include "scan/partition_scan.h"

// The searches behind the command nodes and the items their hits become.
namespace kvl {

bool file_item_manager::open_for_search(kvl_file_item_manager::handle node) {
    if (tree.list_view) tree.list_view->clear();
    storage.sector_retries = app_config().get(u"storage.sector_retries").as_int();
    if (!storage.open(node->data.item.source)) return false;
    current_source = node->data.item.source;
    return true;
}

void file_item_manager::attach(scanner& search, std::vector<found_item>& hits) {
    search.results = &hits;
    search.found_callback = [this](scanner* s, const found_item& hit) { return on_found_item(s, hit); };
    search.record_step = storage.sector_size;
}

namespace {

// Stored hits are shown again unless a rescan is asked for; otherwise the search runs afresh.
template <typename Walk>
void replay_or_search(scanner& search, bool rescan, Walk&& walk) {
    if (search.has_results() && !rescan) {
        search.replay_results();
    } else {
        search.clear_results();
        walk();
    }
}

}  // namespace

void file_item_manager::finish_search(kvl_file_item_manager::handle node,
                                      const std::vector<found_item>& hits) {
    if (storage.is_open()) storage.close();
    if (hits.empty()) tree.delete_children(node, true);
}

void file_item_manager::run_partition_search(kvl_file_item_manager::handle node, bool rescan) {
    command_node = node;
    if (tree.list_view) tree.list_view->clear();
    int32_t start = -1;
    while (partition_dialog) {
        const std::optional<std::u16string> answer = partition_dialog->ask(partition_start_text);
        if (!answer) return;
        start = partition_scan_start(*answer);
        if (start >= 0) {
            partition_start_text = *answer;
            break;
        }
        platform::ui().boxes->show(u"Partition Scan", u"Please enter value from 0 to 99 (%)",
                                   platform::box_icon::information);
    }
    if (start < 0 || !open_for_search(node)) return;
    partition_scan search;
    std::vector<found_item>& hits = scan_results.get(node->data.item.source).partition_hits;
    attach(search, hits);
    search.storage = &storage;
    search.disk = &storage;
    tree.add_command_item(COMMAND_RESCAN, node);
    replay_or_search(search, rescan, [&] {
        const int64_t first = storage.total_sectors > 0 ? start * storage.total_sectors / 10000 : 0;
        const int64_t length = std::max<int64_t>(storage.total_sectors - first, 0) * storage.sector_size;
        stream::iterate(storage, data_chunks(first * storage.sector_size, length), storage.sector_size * 512,
                        search.handler());
    });
    finish_search(node, hits);
}

void file_item_manager::run_ntfs_lost_search(kvl_file_item_manager::handle node, bool rescan) {
    command_node = node;
    if (!open_for_search(node)) return;
    ntfs_second_scan search;
    std::vector<found_item>& hits = scan_results.get(node->data.item.source).ntfs_hits;
    attach(search, hits);
    tree.add_command_item(COMMAND_RESCAN, node);
    disk_storage_ntfs volume;
    volume.assign_storage(storage);
    replay_or_search(search, rescan, [&] { scan_free_clusters(volume, search.handler()); });
    finish_search(node, hits);
}

void file_item_manager::run_fat_lost_search(kvl_file_item_manager::handle node, bool rescan) {
    command_node = node;
    if (!open_for_search(node)) return;
    disk_storage_fat volume;
    if (!volume.assign_storage(storage) || !volume.load_fat(300)) {
        storage.close();
        return;
    }
    fat_second_scan search;
    std::vector<found_item>& hits = scan_results.get(node->data.item.source).fat_hits;
    attach(search, hits);
    tree.add_command_item(COMMAND_RESCAN, node);
    replay_or_search(search, rescan, [&] { scan_free_clusters(volume, search.handler()); });
    finish_search(node, hits);
}

void file_item_manager::run_low_level_search(kvl_file_item_manager::handle node, bool rescan) {
    command_node = node;
    if (!open_for_search(node)) return;
    xfs_scan& search = low_level_scanner;
    std::vector<found_item>& hits = scan_results.get(node->data.item.source).low_level_hits;
    attach(search, hits);
    search.icons = &tree.icons;
    tree.add_command_item(COMMAND_RESCAN, node);
    const bool replay = search.has_results() && !rescan;
    // On a volume only free space is searched; anything else is searched whole.
    const auto walk_free_space = [&](auto& volume) {
        if (replay) {
            search.replay_results();
        } else if (!search.prepare()) {
            tree.delete_children(node, true);
        } else {
            search.clear_results();
            scan_free_clusters(volume, search.handler());
        }
    };
    if (storage.fs_type >= FILE_SYSTEM_FAT12 && storage.fs_type <= FILE_SYSTEM_FAT32) {
        disk_storage_fat volume;
        if (volume.assign_storage(storage) && volume.load_fat(300)) walk_free_space(volume);
    } else if (storage.fs_type == FILE_SYSTEM_NTFS) {
        disk_storage_ntfs volume;
        volume.assign_storage(storage);
        walk_free_space(volume);
    } else {
        replay_or_search(search, rescan,
                         [&] { search.scan_storage(storage, storage.sector_size * 512, rescan, 0); });
    }
    finish_search(node, hits);
}

namespace {

void add_low_level_hit(kvl_file_item_manager& tree, kvl_file_item_manager::handle command_node,
                       const xfs_nodes& formats, const found_item& hit) {
    kvl_file_item_manager::handle folder = nullptr;
    for (const auto& child : command_node->children)
        if (child->data.item.type == FILE_ITEM_TYPE_SRC_ITEM && child->data.item.position == hit.type)
            folder = child.get();
    const bool known = hit.type >= 0 && static_cast<size_t>(hit.type) < formats.nodes.size();
    const std::u16string extension = known ? formats.nodes[static_cast<size_t>(hit.type)].extension : u"";
    if (!folder) {
        folder = tree.add_source_item(command_node->data.item.source, extension, command_node);
        folder->data.item.position = hit.type;
        folder->data.item.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
        tree.icons.deleted_look = false;
        const int image = tree.icons.icon_index(extension);
        const int shown = image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image;
        tree.set_images(folder, shown, shown);
    }
    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
    item.position = hit.position;
    item.value2 = hit.size;
    item.value3 = hit.type;
    item.source = command_node->data.item.source;
    tree.add_node(extension + u" " + decimal(static_cast<int64_t>(folder->children.size())), item, folder,
                  true);
    if (folder->data.view_node)
        tree.view()->set_text(
            folder->data.view_node,
            extension + u" (" + decimal(static_cast<int64_t>(folder->children.size())) + u")");
}

}  // namespace

bool file_item_manager::on_found_item(scanner* source, const found_item& hit) {
    if (!command_node || !source) return true;
    const std::u16string& command_source = command_node->data.item.source;
    switch (source->kind) {
        case SCANNER_FAT_SECOND_SCAN: {
            const auto folder = tree.add_source_item(command_source, decimal(hit.position), command_node);
            folder->data.item.position = hit.position;
            folder->data.item.subtype = FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER;
            tree.set_images(folder, IMAGE_LAST_IN_ORDER, IMAGE_LAST_IN_ORDER);
            break;
        }
        case SCANNER_NTFS_SECOND_SCAN:
            add_lost_record(tree, storage, command_node, hit);
            break;
        case SCANNER_PARTITION_SCAN: {
            const std::u16string sector = decimal(hit.position);
            const auto partition = tree.add_source_item(
                partition_source(command_source, static_cast<uint64_t>(hit.position)),
                u"Partition  - " + found_partition_kind_name(hit.type) + u" (Sector: " + sector + u")",
                command_node);
            tree.set_images(partition, IMAGE_FOUND_PARTITION, IMAGE_FOUND_PARTITION);
            break;
        }
        case SCANNER_XFS_SCAN:
            add_low_level_hit(tree, command_node, low_level_scanner.definitions, hit);
            break;
        default:
            break;
    }
    platform::ui().pump->process_pending();
    return true;
}

void file_item_manager::save_image() {
    if (current_source.empty()) {
        platform::ui().boxes->show(u"Save", u"Please select or/and scan target drive",
                                   platform::box_icon::information);
        return;
    }
    // The save dialog has asked before an existing file is chosen; an unfinished copy is offered to
    // be resumed.
    const std::u16string name = dialogs_.choose_file(false, u"");
    if (name.empty()) return;
    platform::output_mode mode = platform::output_mode::replace;
    std::error_code error;
    if (std::filesystem::exists(utf16_to_utf8(name) + ".map", error) &&
        platform::ui().boxes->ask(u"Save",
                                  u"\"" + name + u"\" holds an unfinished copy (its map \"" + name +
                                      u".map\" lies beside it). Go on with that copy? No starts it afresh."))
        mode = platform::output_mode::resume;
    save_source_image(current_source, name, mode);
}

bool file_item_manager::save_source_image(const std::u16string& source_text, const std::u16string& name,
                                          platform::output_mode mode) {
    disk_storage source;
    source.sector_retries = app_config().get(u"storage.sector_retries").as_int();
    if (!source.open(source_text)) return false;
    const bool saved = source.save_image(name, mode);
    source.close();
    return saved;
}

}  // namespace kvl
