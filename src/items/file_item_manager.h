#pragma once

#include <memory>
#include <string>
#include <vector>

#include "items/file_search.h"
#include "platform/output_folder.h"

#include "items/kvl_file_item_manager.h"
#include "platform/dialogs.h"
#include "platform/search_dialogs.h"
#include "scan/scan_results.h"
#include "scan/xfs_scan.h"
#include "storage/disk_storage.h"

namespace kvl {

// Replaces what no file name may hold (control characters, " * / \ < > ? |) with "-".
void sanitize_path(std::u16string& text);
// The name a caption is written under: sanitized, never "", "." or "..", at most 255 bytes, with
// " (n)" before the extension for the n-th copy of a name.
std::string output_name(const std::u16string& caption, int copy);

// A file Find matched: its item and its path below the folder the search started in.
struct search_result {
    file_item item;
    std::u16string path;
};

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
    // Saves the source last opened as a raw image, into a file the user chooses.
    void save_image();
    // Saves a source as a raw image into a file (see image_copy); false when refused or failed.
    bool save_source_image(const std::u16string& source_text, const std::u16string& name,
                           platform::output_mode mode);

    // The click on a tree node: opens a source or runs a command; ignored (but for a low-level
    // search folder's list) while another activation runs.
    void activate_selected();
    // Selects a node and activates it, as a click on it does.
    void activate(kvl_file_item_manager::handle node);
    void open_source_item(kvl_file_item_manager::handle node, bool rescan);
    void run_command(kvl_file_item_manager::handle node, bool rescan);

    // The bytes of a file item into destination: a preview (apply_cap) takes at most
    // "file_recovery_max_size_mb"; a recovery takes the whole file.
    bool get_item_data(const file_item& item, stream& destination, bool apply_cap);

    // Recover: the selected entries of the file list (folders whole) and of the search results,
    // into a folder the user chooses.
    void recover();
    // Find: the files under the selection that match the Search dialog's criteria.
    void find();
    void search(const search_params& criteria);

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

    bool activation_running = false;
    bool busy = false;
    bool recovery_running = false;
    platform::search_dialog* search_dialog = nullptr;
    // The search results list and its columns; the text above it.
    platform::list_control* results_view = nullptr;
    lw_columns results_columns;
    std::u16string results_label;
    search_params criteria;
    // What the recursive walk does with each entry: (entry's item, caption, row, relative path, depth, is a
    // file).
    using entry_action = boost::function<bool(const file_item& item, platform::list_row* row,
                                              const std::u16string& relative_path, int depth, bool is_file)>;
    entry_action item_action;

    // Binds the search results list and defines its columns.
    void bind_results(platform::list_control* results);

  private:
    void open_volume_node(kvl_file_item_manager::handle node, bool rescan);
    void recover_selection();
    void recover_items(const std::u16string& relative_path, int depth);
    bool recovery_on_file(const file_item& item, platform::list_row* row, const std::u16string& relative_path,
                          int depth, bool is_file);
    bool recover_search_results();
    bool search_filter(const file_item& item, platform::list_row* row, const std::u16string& relative_path,
                       int depth, bool is_file);
    // Makes a new file for an entry in the output folder of a depth, under a free name.
    bool create_output(size_t depth, const std::u16string& caption, file_stream& out, std::u16string& made,
                       int first_copy);
    void set_output_times(platform::list_control& list, platform::list_row* row, const file_stream& out);

    // What the search results' rows point to.
    std::vector<std::unique_ptr<search_result>> search_result_items_;
    // The chosen folder as the user gave it (without a trailing "/"), for the texts of failures.
    std::u16string destination_folder_;
    // The chosen folder and the folders entered below it, by depth.
    std::vector<platform::output_folder> output_folders_;
    // The entries opened on the way down, so a folder that contains itself is entered once.
    std::vector<std::pair<std::u16string, int64_t>> entered_;
    stream* data_target_ = nullptr;
    bool target_failed_ = false;
    bool destination_failed_ = false;

    // Opens the storage on the command node's source and adds "<  Rescan >" under it.
    bool open_for_search(kvl_file_item_manager::handle node);
    // Gives a search its hit list, its found-item handler and the storage's sector as its step.
    void attach(scanner& search, std::vector<found_item>& hits);
    // Removes the node's children when its search found nothing.
    void finish_search(kvl_file_item_manager::handle node, const std::vector<found_item>& hits);
    // Reads the partition table of the storage opened on node's source and adds its partitions.
    void add_partitions_of_open_storage(kvl_file_item_manager::handle node);

    platform::file_dialogs& dialogs_;
};

}  // namespace kvl
