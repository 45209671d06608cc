#include "items/kvl_file_item_manager.h"

#include "platform/text_case.h"

namespace kvl {

namespace {

file_item make_item(int32_t type, int64_t position, const std::u16string& source) {
    file_item item;
    item.type = type;
    item.subtype = FILE_ITEM_SUBTYPE_NONE;
    item.position = position;
    item.source = source;
    return item;
}

}  // namespace

kvl_file_item_manager::handle kvl_file_item_manager::add_group_item(const std::u16string& caption, handle parent) {
    const std::u16string source = parent ? parent->data.item.source : u"";
    return add_node(caption, make_item(FILE_ITEM_TYPE_GROUP, 0, source), parent, false);
}

kvl_file_item_manager::handle kvl_file_item_manager::add_source_item(const std::u16string& source,
                                                                     const std::u16string& caption, handle parent) {
    return add_node(caption, make_item(FILE_ITEM_TYPE_SRC_ITEM, 0, source), parent, false);
}

kvl_file_item_manager::handle kvl_file_item_manager::add_command_item(int64_t command, handle parent) {
    const std::u16string source = parent ? parent->data.item.source : u"";
    return add_node(command_caption(command), make_item(FILE_ITEM_TYPE_COMMAND, command, source), parent, false);
}

void kvl_file_item_manager::bind(platform::tree_control* tree, platform::list_control* list,
                                 platform::status_bar* status) {
    status_bar = status;
    bind_view(tree);
    if (tree) tree->set_draw_handler([this](platform::tree_item* node, bool selected) { return draw_node(node, selected); });
    list_view = list;
}

void kvl_file_item_manager::set_images(handle node, int image, int selected_image) {
    if (!node || !node->data.view_node || !view()) return;
    view()->set_image(node->data.view_node, image);
    view()->set_selected_image(node->data.view_node, selected_image);
}

void kvl_file_item_manager::sort_children(handle node) {
    if (!node || !view() || (!node->data.view_node && node != root())) return;
    view()->sort_children(node->data.view_node,
                          [this](platform::tree_item* a, platform::tree_item* b) { return compare_nodes(a, b); });
}

int kvl_file_item_manager::compare_nodes(platform::tree_item* a, platform::tree_item* b) const {
    const auto* first = static_cast<const tree_node*>(view()->data(a));
    const auto* second = static_cast<const tree_node*>(view()->data(b));
    if (first && second) {
        const file_item& one = first->data.item;
        const file_item& two = second->data.item;
        if (one.type != two.type) return one.type == FILE_ITEM_TYPE_SRC_ITEM ? 1 : -1;
        const int image_one = view()->image(a);
        if (image_one != view()->image(b)) return image_one == IMAGE_LAST_IN_ORDER ? 1 : -1;
    }
    return platform::compare_no_case(view()->text(a), view()->text(b));
}

platform::draw_style kvl_file_item_manager::draw_node(platform::tree_item* node, bool selected) const {
    platform::draw_style style;
    const auto* data = view() ? static_cast<const tree_node*>(view()->data(node)) : nullptr;
    if (!data) return style;
    const file_item& item = data->data.item;
    if (item.type == FILE_ITEM_TYPE_COMMAND) {
        if (!selected) style = {true, 0x000080, false, 0};
        if (item.position == COMMAND_RESCAN) style.bold = true;
    } else if (item.type == FILE_ITEM_TYPE_GROUP) {
        style.font_size = 9;
        if (!selected) {
            style.has_color = true;
            style.color = 0x757575;
        }
    }
    return style;
}

void kvl_file_item_manager::empty_list() {
    if (list_view) list_view->clear();
    list_items.clear();
}

}  // namespace kvl
