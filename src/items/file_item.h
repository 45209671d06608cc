#pragma once

#include <cstdint>
#include <string>

#include "platform/list_control.h"

namespace kvl {

inline constexpr int32_t FILE_ITEM_TYPE_GROUP = 0;
inline constexpr int32_t FILE_ITEM_TYPE_SRC_ITEM = 1;
inline constexpr int32_t FILE_ITEM_TYPE_COMMAND = 2;
inline constexpr int32_t FILE_ITEM_TYPE_FILE = 3;

inline constexpr int32_t FILE_ITEM_SUBTYPE_NONE = 0;
inline constexpr int32_t FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER = 1;
inline constexpr int32_t FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER = 2;
inline constexpr int32_t FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER = 3;
inline constexpr int32_t FILE_ITEM_SUBTYPE_FOLDER = 4;
inline constexpr int32_t FILE_ITEM_SUBTYPE_LOST_FILES_FOLDER = 5;

// Command ids, carried in a command item's position.
inline constexpr int64_t COMMAND_MOUNT_IMAGE = 0;
inline constexpr int64_t COMMAND_NTFS_LOST_RECORDS = 1;
inline constexpr int64_t COMMAND_FAT_LOST_ENTRIES = 2;
inline constexpr int64_t COMMAND_LOW_LEVEL_SEARCH = 3;
inline constexpr int64_t COMMAND_PARTITION_SEARCH = 4;
inline constexpr int64_t COMMAND_RESCAN = 5;

// The record behind every tree node and list row: a group, a source, a command, or a file or
// folder found on a source.
struct file_item {
    int32_t type = -1;
    int32_t subtype = FILE_ITEM_SUBTYPE_NONE;
    // Command: the command id. FAT: first cluster. NTFS: record number. Scan hits: the hit's position.
    int64_t position = -1;
    int64_t value2 = 0;
    int64_t value3 = 0;
    std::u16string source;
    platform::list_row* list_item = nullptr;
    // A deleted file or folder as the listing found it; not part of the text form.
    bool deleted = false;
    // For a folder row: the tree node that opens it (owned by the item tree); null otherwise.
    void* tree_node = nullptr;

    // type;subtype;position;value2;value3;source
    std::u16string to_text() const;
    void from_text(const std::u16string& text);
};

std::u16string command_caption(int64_t command);
std::u16string item_type_name(int32_t type);
std::u16string item_subtype_name(int32_t subtype);
// "NTFS", "FAT12", "FAT16", "FAT32" for the kinds a partition search reports; "" otherwise.
std::u16string found_partition_kind_name(int32_t kind);

}  // namespace kvl
