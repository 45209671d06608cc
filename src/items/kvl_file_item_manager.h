#pragma once

#include <memory>
#include <vector>

#include "items/file_item.h"
#include "items/file_types.h"
#include "items/gui_tree.h"
#include "items/lw_columns.h"
#include "platform/list_control.h"

namespace kvl {

class xfs_nodes;

// Tree image of the "Lost files" folder and of found folders, which sort after their siblings.
inline constexpr int IMAGE_LAST_IN_ORDER = 39;
// Image of a found file whose type has no icon.
inline constexpr int IMAGE_UNKNOWN_FOUND_FILE = 38;

// The file list's columns: caption and six sub-items.
inline constexpr int COLUMN_NAME = 0;
inline constexpr int COLUMN_SIZE_TEXT = 1;
inline constexpr int COLUMN_TYPE = 2;
inline constexpr int COLUMN_FULL_SIZE = 6;

// The columns of the file list; the search results have a hidden "~info" column before the byte count.
void add_file_list_columns(lw_columns& columns, bool search_results);

// The item tree with the file list beside it: the list control, the rows' items and the Esc flag.
class kvl_file_item_manager : public gui_tree<file_item> {
  public:
    handle add_group_item(const std::u16string& caption, handle parent);
    handle add_source_item(const std::u16string& source, const std::u16string& caption, handle parent);
    handle add_command_item(int64_t command, handle parent);

    void bind(platform::tree_control* tree, platform::list_control* list, platform::status_bar* status);

    // Sets both images of a node's control node, if it has one.
    void set_images(handle node, int image, int selected_image);
    // Orders a node's control children: groups and commands before sources, image 39 last among
    // equals, then by text regardless of case.
    void sort_children(handle node);
    int compare_nodes(platform::tree_item* a, platform::tree_item* b) const;
    platform::draw_style draw_node(platform::tree_item* node, bool selected) const;

    // Clears the list control and deletes the items of its rows.
    void empty_list();
    // Appends a row showing item; the list's owned items take a copy linked to the row.
    platform::list_row* add_list_row(const std::u16string& caption, const file_item& item);
    // Folders (and other items with a subtype) before plain files; the "Lost files" row after its equals.
    int compare_rows(platform::list_row* a, platform::list_row* b) const;
    // One row per hit stored under a low-level search folder.
    void list_found_files(handle node, const xfs_nodes& formats);

    platform::status_bar* status_bar = nullptr;
    platform::list_control* list_view = nullptr;
    lw_columns columns;
    icon_cache icons;
    bool cancel_requested = false;
    std::vector<std::unique_ptr<file_item>> list_items;
};

}  // namespace kvl
