#pragma once

#include <string>
#include <vector>

#include "items/file_item_manager.h"
#include "platform/memory_controls.h"
#include "platform/search_dialogs.h"

namespace kvl::test {

// The application's manager bound to in-memory controls and dialogs, with the shipped settings
// and format definitions, as the command line and the tests drive it.
class search_world {
  public:
    search_world();

    // A source node under the root, as a mounted image or a drive would be.
    kvl_file_item_manager::handle add_source(const std::u16string& source,
                                             const std::u16string& caption = u"source");
    kvl_file_item_manager::handle add_command(int64_t command, kvl_file_item_manager::handle parent);
    std::vector<std::u16string> captions(kvl_file_item_manager::handle node) const;

    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    platform::memory_image_list images;
    platform::scripted_file_dialogs files;
    platform::scripted_partition_scan_dialog partition_dialog;
    platform::scripted_file_type_dialog file_type_dialog;
    file_item_manager manager{files};
};

}  // namespace kvl::test
