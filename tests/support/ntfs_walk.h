#pragma once

#include <map>
#include <string>
#include <vector>

#include "items/kvl_file_item_manager.h"
#include "ntfs/disk_storage_ntfs.h"
#include "platform/memory_controls.h"
#include "storage/disk_storage.h"

namespace kvl::test {

// What the file list showed for one entry.
struct listed_entry {
    std::string path;  // "/"-separated from the volume root
    file_item item;
    std::u16string size_text;
    std::u16string type;
    std::u16string created;
    std::u16string modified;
    std::u16string accessed;
    int64_t size = 0;
    int image = -1;
};

// An NTFS image opened and its tree built, listed folder by folder through in-memory controls as a
// user would click through it.
class ntfs_volume_view {
  public:
    explicit ntfs_volume_view(const std::u16string& source);
    ~ntfs_volume_view();

    bool build();
    // Every entry reachable from the root, depth first.
    std::vector<listed_entry> list_all();
    // The unnamed data of a listed file, or nothing when it cannot be read.
    bool read_file(int64_t record, std::vector<uint8_t>& data);

    disk_storage storage;
    disk_storage_ntfs volume;
    ntfs_tree tree;
    platform::memory_tree_control tree_control;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    kvl_file_item_manager manager;
    kvl_file_item_manager::handle volume_node = nullptr;

  private:
    void walk(int64_t key, kvl_file_item_manager::handle node, const std::string& prefix, int depth,
              std::vector<listed_entry>& out);
};

}  // namespace kvl::test
