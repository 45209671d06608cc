#pragma once

#include <algorithm>
#include <memory>
#include <vector>

#include "platform/list_control.h"
#include "platform/tree_control.h"

// In-memory tree and list controls: they keep exactly what the core put in them, so tests and the
// command line read what the window would show.
namespace kvl::platform {

// Orders items with a comparison that may be inconsistent (answering "after" both ways): a merge
// sort, which never leaves its range whatever the answers.
template <typename T, typename Compare>
void robust_sort(std::vector<T>& items, const Compare& compare) {
    std::vector<T> scratch(items.size());
    for (size_t width = 1; width < items.size(); width *= 2) {
        for (size_t lo = 0; lo < items.size(); lo += 2 * width) {
            const size_t mid = std::min(lo + width, items.size());
            const size_t hi = std::min(lo + 2 * width, items.size());
            size_t a = lo, b = mid, out = lo;
            while (a < mid && b < hi)
                scratch[out++] =
                    compare(items[b], items[a]) < 0 ? std::move(items[b++]) : std::move(items[a++]);
            while (a < mid) scratch[out++] = std::move(items[a++]);
            while (b < hi) scratch[out++] = std::move(items[b++]);
        }
        items.swap(scratch);
    }
}

class memory_tree_control final : public tree_control {
  public:
    memory_tree_control();
    ~memory_tree_control() override;
    tree_item* add(tree_item* parent, const std::u16string& text) override;
    void remove_children(tree_item* item) override;
    std::vector<tree_item*> children(tree_item* item) const override;
    tree_item* parent(tree_item* item) const override;
    void set_text(tree_item* item, const std::u16string& text) override;
    std::u16string text(tree_item* item) const override;
    void set_image(tree_item* item, int image) override;
    int image(tree_item* item) const override;
    void set_selected_image(tree_item* item, int image) override;
    int selected_image(tree_item* item) const override;
    void set_data(tree_item* item, void* data) override;
    void* data(tree_item* item) const override;
    void expand(tree_item* item) override;
    void sort_children(tree_item* item, const compare_fn& compare) override;
    void select(tree_item* item) override;
    tree_item* selected() const override { return selected_; }
    void set_draw_handler(draw_fn handler) override { draw_ = std::move(handler); }

    bool expanded(tree_item* item) const;
    // What the control would be told when it draws item.
    draw_style draw(tree_item* item, bool is_selected) const;

  private:
    struct node;
    std::vector<std::unique_ptr<node>>& children_of(tree_item* item);
    static node* as_node(tree_item* item);

    std::vector<std::unique_ptr<node>> top_;
    tree_item* selected_ = nullptr;
    draw_fn draw_;
};

class memory_list_control final : public list_control {
  public:
    memory_list_control();
    ~memory_list_control() override;
    list_row* add_row() override;
    int count() const override { return static_cast<int>(rows_.size()); }
    list_row* row(int index) const override;
    void clear() override;
    void set_caption(list_row* row, const std::u16string& caption) override;
    std::u16string caption(list_row* row) const override;
    void add_sub_item(list_row* row, const std::u16string& text) override;
    int sub_item_count(list_row* row) const override;
    std::u16string sub_item(list_row* row, int index) const override;
    void set_image(list_row* row, int image) override;
    int image(list_row* row) const override;
    void set_data(list_row* row, void* data) override;
    void* data(list_row* row) const override;
    void set_selected(list_row* row, bool selected) override;
    bool selected(list_row* row) const override;
    void sort(const compare_fn& compare) override;
    void add_column(const list_column& column) override { columns_.push_back(column); }
    int column_count() const override { return static_cast<int>(columns_.size()); }
    list_column column(int index) const override { return columns_.at(static_cast<size_t>(index)); }
    void set_column_click_handler(boost::function<void(int)> handler) override {
        on_click_ = std::move(handler);
    }

    // What a click on a column header does.
    void click_column(int index);

  private:
    struct entry;
    static entry* as_entry(list_row* row);

    std::vector<std::unique_ptr<entry>> rows_;
    std::vector<list_column> columns_;
    boost::function<void(int)> on_click_;
};

class memory_status_bar final : public status_bar {
  public:
    void set_text(const std::u16string& value) override { text = value; }
    std::u16string text;
};

}  // namespace kvl::platform
