#include "platform/memory_controls.h"

#include <algorithm>

namespace kvl::platform {

struct memory_tree_control::node final : tree_item {
    std::u16string text;
    int image = -1;
    int selected_image = -1;
    void* data = nullptr;
    bool expanded = false;
    node* parent = nullptr;
    std::vector<std::unique_ptr<node>> children;
};

memory_tree_control::memory_tree_control() = default;
memory_tree_control::~memory_tree_control() = default;

memory_tree_control::node* memory_tree_control::as_node(tree_item* item) {
    return static_cast<node*>(item);
}

std::vector<std::unique_ptr<memory_tree_control::node>>& memory_tree_control::children_of(tree_item* item) {
    return item ? as_node(item)->children : top_;
}

tree_item* memory_tree_control::add(tree_item* parent, const std::u16string& text) {
    auto fresh = std::make_unique<node>();
    fresh->text = text;
    fresh->parent = as_node(parent);
    node* made = fresh.get();
    children_of(parent).push_back(std::move(fresh));
    return made;
}

void memory_tree_control::remove_children(tree_item* item) {
    // The selection goes with the node that held it.
    for (node* n = as_node(selected_); n; n = n->parent)
        if (n->parent == as_node(item)) {
            selected_ = nullptr;
            break;
        }
    children_of(item).clear();
}

std::vector<tree_item*> memory_tree_control::children(tree_item* item) const {
    const auto& kids = item ? as_node(item)->children : top_;
    std::vector<tree_item*> out;
    for (const auto& child : kids) out.push_back(child.get());
    return out;
}

tree_item* memory_tree_control::parent(tree_item* item) const {
    return as_node(item)->parent;
}
void memory_tree_control::set_text(tree_item* item, const std::u16string& text) {
    as_node(item)->text = text;
}
std::u16string memory_tree_control::text(tree_item* item) const {
    return as_node(item)->text;
}
void memory_tree_control::set_image(tree_item* item, int image) {
    as_node(item)->image = image;
}
int memory_tree_control::image(tree_item* item) const {
    return as_node(item)->image;
}
void memory_tree_control::set_selected_image(tree_item* item, int image) {
    as_node(item)->selected_image = image;
}
int memory_tree_control::selected_image(tree_item* item) const {
    return as_node(item)->selected_image;
}
void memory_tree_control::set_data(tree_item* item, void* data) {
    as_node(item)->data = data;
}
void* memory_tree_control::data(tree_item* item) const {
    return as_node(item)->data;
}
void memory_tree_control::expand(tree_item* item) {
    as_node(item)->expanded = true;
}
bool memory_tree_control::expanded(tree_item* item) const {
    return as_node(item)->expanded;
}
void memory_tree_control::select(tree_item* item) {
    selected_ = item;
}

void memory_tree_control::sort_children(tree_item* item, const compare_fn& compare) {
    robust_sort(children_of(item), [&](const std::unique_ptr<node>& a, const std::unique_ptr<node>& b) {
        return compare(a.get(), b.get());
    });
}

draw_style memory_tree_control::draw(tree_item* item, bool is_selected) const {
    return draw_ ? draw_(item, is_selected) : draw_style{};
}

struct memory_list_control::entry final : list_row {
    std::u16string caption;
    std::vector<std::u16string> sub_items;
    int image = -1;
    void* data = nullptr;
    bool selected = false;
};

memory_list_control::memory_list_control() = default;
memory_list_control::~memory_list_control() = default;
void memory_list_control::clear() {
    rows_.clear();
}

memory_list_control::entry* memory_list_control::as_entry(list_row* row) {
    return static_cast<entry*>(row);
}

list_row* memory_list_control::add_row() {
    rows_.push_back(std::make_unique<entry>());
    return rows_.back().get();
}

list_row* memory_list_control::row(int index) const {
    if (index < 0 || index >= count()) return nullptr;
    return rows_[static_cast<size_t>(index)].get();
}

void memory_list_control::set_caption(list_row* row, const std::u16string& caption) {
    as_entry(row)->caption = caption;
}
std::u16string memory_list_control::caption(list_row* row) const {
    return as_entry(row)->caption;
}
void memory_list_control::add_sub_item(list_row* row, const std::u16string& text) {
    as_entry(row)->sub_items.push_back(text);
}
int memory_list_control::sub_item_count(list_row* row) const {
    return static_cast<int>(as_entry(row)->sub_items.size());
}
std::u16string memory_list_control::sub_item(list_row* row, int index) const {
    const auto& items = as_entry(row)->sub_items;
    return index >= 0 && static_cast<size_t>(index) < items.size() ? items[static_cast<size_t>(index)] : u"";
}
void memory_list_control::set_image(list_row* row, int image) {
    as_entry(row)->image = image;
}
int memory_list_control::image(list_row* row) const {
    return as_entry(row)->image;
}
void memory_list_control::set_data(list_row* row, void* data) {
    as_entry(row)->data = data;
}
void* memory_list_control::data(list_row* row) const {
    return as_entry(row)->data;
}
void memory_list_control::set_selected(list_row* row, bool selected) {
    as_entry(row)->selected = selected;
}
bool memory_list_control::selected(list_row* row) const {
    return as_entry(row)->selected;
}

void memory_list_control::sort(const compare_fn& compare) {
    robust_sort(rows_, [&](const std::unique_ptr<entry>& a, const std::unique_ptr<entry>& b) {
        return compare(a.get(), b.get());
    });
}

void memory_list_control::click_column(int index) {
    if (on_click_) on_click_(index);
}

}  // namespace kvl::platform
