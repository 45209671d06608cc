#pragma once

#include <string>

#include "items/kvl_file_item_manager.h"
#include "platform/dialogs.h"
#include "storage/disk_storage.h"

namespace kvl {

// Tree images of the sources.
inline constexpr int IMAGE_VOLUME = 4;
inline constexpr int IMAGE_DRIVE = 26;
inline constexpr int IMAGE_DISK_IMAGE = 31;

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

    kvl_file_item_manager tree;
    disk_storage storage;
    kvl_file_item_manager::handle mount_command = nullptr;
    std::u16string current_source;

private:
    // Reads the partition table of the storage opened on node's source and adds its partitions.
    void add_partitions_of_open_storage(kvl_file_item_manager::handle node);

    platform::file_dialogs& dialogs_;
};

}  // namespace kvl
