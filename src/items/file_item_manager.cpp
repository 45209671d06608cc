#include "items/file_item_manager.h"

#include "core/text.h"
#include "platform/storage_devices.h"

namespace kvl {

namespace {

std::u16string file_name_of(const std::u16string& path) {
    const size_t slash = path.rfind(u'/');
    return slash == std::u16string::npos ? path : path.substr(slash + 1);
}

constexpr size_t max_drives = 50;

}  // namespace

void file_item_manager::add_partition_items(kvl_file_item_manager::handle drive_node,
                                            const partition_list& list) {
    for (size_t i = 0; i < list.size(); ++i) {
        const partition_entry& entry = list[i];
        if (entry.type == PARTITION_TYPE_EMPTY) {
            if (i < 4) continue;
            break;
        }
        if (is_container_type(entry.type) || entry.first_sector == 0) continue;
        const std::u16string sector = decimal(static_cast<int64_t>(entry.first_sector));
        const std::u16string caption = u"Partition" + decimal(static_cast<int64_t>(i + 1)) + u" - " +
                                       partition_type_name(entry.type) + u" (Sector: " + sector + u")";
        tree.add_source_item(partition_source(drive_node->data.item.source, entry.first_sector), caption,
                             drive_node);
    }
}

void file_item_manager::add_partitions_of_open_storage(kvl_file_item_manager::handle node) {
    partition_list list{};
    if (storage.get_partition_list(list)) add_partition_items(node, list);
}

void file_item_manager::update_sources() {
    tree.clear();
    const auto logical = tree.add_group_item(u"[ Logical Drives ]", nullptr);
    for (const platform::volume_entry& volume : platform::devices().volumes()) {
        const auto node =
            tree.add_source_item(volume.device_path, volume.label + u" (" + volume.name + u") ", logical);
        tree.set_images(node, IMAGE_VOLUME, IMAGE_VOLUME);
    }
    const auto physical = tree.add_group_item(u"[ Physical Drives ]", nullptr);
    const size_t drives = std::min(platform::devices().drives().size(), max_drives);
    for (size_t d = 0; d < drives; ++d) {
        const auto node =
            tree.add_source_item(decimal(static_cast<int64_t>(d)),
                                 u"Hard Drive " + decimal(static_cast<int64_t>(d + 1)), physical);
        tree.set_images(node, IMAGE_DRIVE, IMAGE_DRIVE);
        if (!storage.open(node->data.item.source)) continue;
        if (d == 0) tree.add_command_item(COMMAND_PARTITION_SEARCH, node);
        add_partitions_of_open_storage(node);
        storage.close();
    }
    const auto images = tree.add_group_item(u"[ Disk Images ]", nullptr);
    mount_command = tree.add_command_item(COMMAND_MOUNT_IMAGE, images);
    if (tree.list_view) tree.list_view->clear();
    current_source.clear();
}

void file_item_manager::mount_image() {
    if (!mount_command) return;
    const std::u16string path = dialogs_.choose_file(true, u"");
    if (path.empty()) return;
    const auto node = tree.add_source_item(path, file_name_of(path), mount_command->parent);
    tree.set_images(node, IMAGE_DISK_IMAGE, IMAGE_DISK_IMAGE);
    if (!storage.open(path)) return;
    if (storage.is_disk_image()) add_partitions_of_open_storage(node);
    storage.close();
}

}  // namespace kvl
