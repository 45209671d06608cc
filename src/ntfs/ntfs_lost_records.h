#pragma once

#include "items/kvl_file_item_manager.h"
#include "ntfs/disk_storage_ntfs.h"
#include "scan/scanner.h"

namespace kvl {

// Looks in free clusters for MFT records ("FILE0" at a sector start).
class ntfs_second_scan : public scanner {
  public:
    ntfs_second_scan() : scanner(SCANNER_NTFS_SECOND_SCAN) {}
    bool process_block(int64_t disk_position, int64_t data_position, uint8_t* data, int32_t length) override;
};

// Hands every cluster the volume's $Bitmap marks free to the handler, one at a time in cluster
// order, reading runs of free clusters with large reads; clusters past the volume are not read.
bool scan_free_clusters(disk_storage_ntfs& volume, const block_handler& handler);

// Files a found record under the folder of its extension below the command node.
void add_lost_record(kvl_file_item_manager& manager, disk_storage& storage,
                     kvl_file_item_manager::handle command_node, const found_item& hit);
// Lists the records of one extension folder.
void list_lost_records(kvl_file_item_manager& manager, disk_storage& storage,
                       kvl_file_item_manager::handle folder);

// "ext" of a caption "ext (n)".
std::u16string caption_before_count(const std::u16string& caption);

}  // namespace kvl
