#include "items/kvl_file_item_manager.h"

#include "core/format.h"
#include "core/text.h"
#include "platform/text_case.h"
#include "platform/ui.h"
#include "scan/xfs_nodes.h"

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

kvl_file_item_manager::handle kvl_file_item_manager::add_group_item(const std::u16string& caption,
                                                                    handle parent) {
    const std::u16string source = parent ? parent->data.item.source : u"";
    return add_node(caption, make_item(FILE_ITEM_TYPE_GROUP, 0, source), parent, false);
}

kvl_file_item_manager::handle kvl_file_item_manager::add_source_item(const std::u16string& source,
                                                                     const std::u16string& caption,
                                                                     handle parent) {
    return add_node(caption, make_item(FILE_ITEM_TYPE_SRC_ITEM, 0, source), parent, false);
}

kvl_file_item_manager::handle kvl_file_item_manager::add_command_item(int64_t command, handle parent) {
    const std::u16string source = parent ? parent->data.item.source : u"";
    return add_node(command_caption(command), make_item(FILE_ITEM_TYPE_COMMAND, command, source), parent,
                    false);
}

void kvl_file_item_manager::bind(platform::tree_control* tree, platform::list_control* list,
                                 platform::status_bar* status) {
    status_bar = status;
    bind_view(tree);
    if (tree)
        tree->set_draw_handler(
            [this](platform::tree_item* node, bool selected) { return draw_node(node, selected); });
    list_view = list;
    columns.bind(list);
    columns.set_comparator(
        [this](platform::list_row* a, platform::list_row* b) { return compare_rows(a, b); });
    add_file_list_columns(columns, false);
}

void add_file_list_columns(lw_columns& columns, bool search_results) {
    const int full_size = search_results ? COLUMN_FULL_SIZE + 1 : COLUMN_FULL_SIZE;
    columns.add_column(u"File Name", COLUMN_TEXT, 270, NO_COLUMN, NO_COLUMN);
    columns.add_column(u"Size", COLUMN_SIZE, 80, full_size, NO_COLUMN);
    columns.add_column(u"Type", COLUMN_TEXT, 100, NO_COLUMN, COLUMN_NAME);
    columns.add_column(u"Date Created", COLUMN_DATE, 120, NO_COLUMN, NO_COLUMN);
    columns.add_column(u"Date Modified", COLUMN_DATE, 120, NO_COLUMN, NO_COLUMN);
    columns.add_column(u"Date Accessed", COLUMN_DATE, 120, NO_COLUMN, NO_COLUMN);
    if (search_results) columns.add_column(u"~info", COLUMN_TEXT, 0, NO_COLUMN, NO_COLUMN);
    columns.add_column(u"~full_size", COLUMN_INTEGER, 0, NO_COLUMN, NO_COLUMN);
}

void kvl_file_item_manager::set_images(handle node, int image, int selected_image) {
    if (!node || !node->data.view_node || !view()) return;
    view()->set_image(node->data.view_node, image);
    view()->set_selected_image(node->data.view_node, selected_image);
}

void kvl_file_item_manager::sort_children(handle node) {
    if (!node || !view() || (!node->data.view_node && node != root())) return;
    view()->sort_children(node->data.view_node, [this](platform::tree_item* a, platform::tree_item* b) {
        return compare_nodes(a, b);
    });
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

platform::list_row* kvl_file_item_manager::add_list_row(const std::u16string& caption,
                                                        const file_item& item) {
    platform::list_row* row = list_view->add_row();
    list_view->set_caption(row, caption);
    list_items.push_back(std::make_unique<file_item>(item));
    list_items.back()->list_item = row;
    list_view->set_data(row, list_items.back().get());
    return row;
}

int kvl_file_item_manager::compare_rows(platform::list_row* a, platform::list_row* b) const {
    const auto* first = static_cast<const file_item*>(list_view->data(a));
    const auto* second = static_cast<const file_item*>(list_view->data(b));
    if (!first || !second) return 0;
    if (first->subtype == second->subtype) return list_view->image(a) == IMAGE_LAST_IN_ORDER ? 1 : 0;
    return first->subtype != FILE_ITEM_SUBTYPE_NONE ? -1 : 1;
}

void kvl_file_item_manager::list_found_files(handle node, const xfs_nodes& formats) {
    cancel_requested = false;
    int64_t n = 1;
    for (const auto& child : node->children) {
        if (cancel_requested) break;
        const file_item& hit = child->data.item;
        const bool known = hit.value3 >= 0 && hit.value3 < static_cast<int64_t>(formats.nodes.size());
        const std::u16string description =
            known ? formats.nodes[static_cast<size_t>(hit.value3)].description : u"";
        const std::u16string extension =
            known ? formats.nodes[static_cast<size_t>(hit.value3)].extension : u"";
        const std::u16string caption = description + u" " + decimal(n) + extension;
        file_item item = hit;
        item.type = FILE_ITEM_TYPE_FILE;
        item.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
        platform::list_row* row = add_list_row(caption, item);
        list_view->add_sub_item(row, format_size_kb(hit.value2));
        icons.deleted_look = false;
        const int image = icons.icon_index(extension);
        list_view->set_image(row, image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image);
        list_view->add_sub_item(row, file_type_text(caption, false));
        for (int i = 0; i < 3; ++i) list_view->add_sub_item(row, u"");
        list_view->add_sub_item(row, decimal(hit.value2));
        ++n;
        platform::ui().pump->process_pending();
    }
}

}  // namespace kvl
