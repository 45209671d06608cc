#pragma once

#include <string>

#include "items/kvl_file_item_manager.h"
#include "platform/dialogs.h"
#include "platform/search_dialogs.h"
#include "scan/scan_results.h"
#include "scan/xfs_scan.h"
#include "storage/disk_storage.h"

namespace kvl {

// Tree images of the sources.
inline constexpr int IMAGE_VOLUME = 4;
inline constexpr int IMAGE_DRIVE = 26;
inline constexpr int IMAGE_DISK_IMAGE = 31;
inline constexpr int IMAGE_FOUND_PARTITION = 3;

// The application's manager of everything that outlives one action: the item tree with its list,
// the one storage the dispatcher reuses, and what the user last opened.
class file_item_manager : public base {
public:
    explicit file_item_manager(platform::file_dialogs& dialogs) : dialogs_(dialogs) {}

    // Rebuilds the whole tree: logical drives, physical drives with their partitions, the images group.
    void update_sources();
    // Asks for an image file and adds it under "[ Disk Images ]"; a disk image gets its partitions.
    void mount_image();
    // One source node per usable entry of a partition list read from the drive or image of drive_node.
    void add_partition_items(kvl_file_item_manager::handle drive_node, const partition_list& list);

    // The searches behind the command nodes; each adds "<  Rescan >" under its node, replays the
    // stored hits unless asked to rescan, and leaves the node empty when nothing was found.
    void run_partition_search(kvl_file_item_manager::handle node, bool rescan);
    void run_ntfs_lost_search(kvl_file_item_manager::handle node, bool rescan);
    void run_fat_lost_search(kvl_file_item_manager::handle node, bool rescan);
    void run_low_level_search(kvl_file_item_manager::handle node, bool rescan);
    // Makes items of one hit under command_node, by the kind of search that found it.
    bool on_found_item(scanner* source, const found_item& hit);
    // Saves the source last opened as a raw image.
    void save_image();

    kvl_file_item_manager tree;
    disk_storage storage;
    kvl_file_item_manager::handle mount_command = nullptr;
    std::u16string current_source;
    kvl_file_item_manager::handle command_node = nullptr;
    scan_results_cache scan_results;
    xfs_scan low_level_scanner;
    platform::partition_scan_dialog* partition_dialog = nullptr;
    // The edit's text of the partition search dialog, kept between searches.
    std::u16string partition_start_text = u"0,00";

private:
    // Opens the storage on the command node's source and adds "<  Rescan >" under it.
    bool open_for_search(kvl_file_item_manager::handle node);
    // Removes the node's children when its search found nothing.
    void finish_search(kvl_file_item_manager::handle node, const std::vector<found_item>& hits);
    // Reads the partition table of the storage opened on node's source and adds its partitions.
    void add_partitions_of_open_storage(kvl_file_item_manager::handle node);

    platform::file_dialogs& dialogs_;
};

}  // namespace kvl
