#pragma once

#include <optional>
#include <string>
#include <vector>

#include "items/file_item_manager.h"
#include "platform/memory_controls.h"
#include "platform/search_dialogs.h"
#include "terminal_ui.h"

namespace kvl::cli {

// One row of the file list as the command line reports it.
struct entry {
    std::string path;  // from the volume root, "/"-separated
    std::u16string name;
    file_item item;
    bool folder = false;
    int64_t size = 0;
    std::u16string size_text;
    std::u16string type;
    std::u16string created;
    std::u16string modified;
    std::u16string accessed;
};

// The core driven without a window: the item tree and lists in memory, the dialogs answered by
// the command's options, log lines and progress on standard error.
class session {
  public:
    session(const std::vector<std::string>& settings, bool quiet);
    ~session();

    // Adds the source under the tree's root and opens it as a click would; null when it does not open.
    kvl_file_item_manager::handle open_source(const std::string& source);
    // Whether the source is a whole disk (its listing is its partitions).
    static bool is_disk(const std::string& source);
    // Opens the folders of a "/"-separated path below an opened volume; the row the last component
    // names, or nothing (reported) when a component is not there. "/" names the root itself.
    std::optional<entry> resolve(kvl_file_item_manager::handle volume, const std::string& path);
    // The rows the file list now shows, under a path prefix.
    std::vector<entry> rows(const std::string& prefix) const;
    // The rows below a folder row, depth first, folders entered once.
    void walk(const std::string& prefix, std::vector<entry>& out, int depth);
    // Opens a folder row's contents in the list.
    bool enter(const entry& folder);
    // Selects these rows of the list (all of them when none is given) and recovers them into a folder.
    void recover_rows(const std::vector<entry>& chosen, const std::string& destination);
    int exit_status(bool succeeded) const {
        return succeeded && log.errors == 0 && boxes.warnings == 0 ? 0 : 1;
    }

    terminal_log log;
    terminal_progress progress;
    terminal_boxes boxes;
    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_list_control results;
    platform::memory_status_bar status;
    platform::memory_image_list images;
    platform::scripted_file_dialogs files;
    platform::scripted_partition_scan_dialog partition_dialog;
    platform::scripted_file_type_dialog file_type_dialog;
    platform::scripted_search_dialog search_dialog;
    file_item_manager manager{files};

  private:
    interrupt_pump pump_;
    std::unique_ptr<platform::scoped_ui> scope_;
    std::vector<std::pair<std::u16string, int64_t>> entered_;
};

std::string executable_folder();

}  // namespace kvl::cli
