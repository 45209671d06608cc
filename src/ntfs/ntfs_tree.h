#pragma once

#include <cstdint>
#include <map>
#include <vector>

#include "core/le_bytes.h"
#include "items/kvl_file_item_manager.h"

namespace kvl {

class disk_storage_ntfs;
class ntfs_attributes;

// One record of a volume's folder tree, keyed by its MFT index (or -3 for "Lost files").
struct ntfs_tree_node {
    int64_t parent = -1;
    bool is_directory = false;
    bool is_deleted = false;
    std::vector<int64_t> children;
    // Whether a record (or one of the two fixed nodes) made this node, rather than being named as
    // a parent only.
    bool has_record = false;
};

using ntfs_tree = std::map<int64_t, ntfs_tree_node>;

inline constexpr int64_t NTFS_LOST_FILES = -3;
inline constexpr int64_t NTFS_ROOT = 5;

// Tree and row images of the listings.
inline constexpr int IMAGE_FOLDER_SELECTED = 32;
inline constexpr int IMAGE_FOLDER = 33;
inline constexpr int IMAGE_DELETED_FOLDER = 34;
inline constexpr int IMAGE_DELETED_FILE = 35;
inline constexpr int IMAGE_FILE = 36;

// Rebuilds the volume's folder tree from one pass over the MFT, every record or (with the setting
// "ntfs.show_only_deleted") only deleted files and the folders leading to them.
bool build_ntfs_tree(disk_storage_ntfs& volume, ntfs_tree& tree);

// Lists the children of one tree node into the file list, folders also as tree nodes under parent.
void list_ntfs_children(kvl_file_item_manager& manager, disk_storage_ntfs& volume, const ntfs_tree_node& node,
                        kvl_file_item_manager::handle parent);

// The $FILE_NAME value to show: the first Win32 name, else the last other one; empty when none.
le_bytes choose_file_name(const ntfs_attributes& attributes);
std::u16string file_name_text(const le_bytes& file_name);
// The record's parent through the cache; 0 when it cannot be told.
int64_t parent_of(disk_storage_ntfs& volume, int64_t index, bool& parent_is_folder);

}  // namespace kvl
