#pragma once

#include <memory>
#include <vector>

#include "items/file_item.h"
#include "items/gui_tree.h"
#include "platform/list_control.h"

namespace kvl {

// Tree image of the "Lost files" folder and of found folders, which sort after their siblings.
inline constexpr int IMAGE_LAST_IN_ORDER = 39;

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

    platform::status_bar* status_bar = nullptr;
    platform::list_control* list_view = nullptr;
    bool cancel_requested = false;
    std::vector<std::unique_ptr<file_item>> list_items;
};

}  // namespace kvl
