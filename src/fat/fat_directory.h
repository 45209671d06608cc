#pragma once

#include "fat/disk_storage_fat.h"
#include "fat/fat_items.h"
#include "items/file_item.h"

namespace kvl {

// Directory clusters begin with a short entry or a long-name part, whose byte 12 is 0.
bool directory_check(const uint8_t* cluster, int32_t size);

// Reads the directory a tree item stands for (the volume root, a folder by its first cluster, or a
// folder found at a byte offset by the lost-entry search) and decodes its entries.
void read_fat_directory(disk_storage_fat& volume, const file_item& item, bool rescan, fat_items& out);

}  // namespace kvl
