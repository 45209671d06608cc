#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <string>
#include <vector>

// The tree of sources and folders as the core sees it. The window implements it over its tree
// widget; the in-memory one serves tests and the command line.
namespace kvl::platform {

// One node of a tree control; only the control that made it knows what it is.
class tree_item {
  public:
    virtual ~tree_item() = default;

  protected:
    tree_item() = default;
};

// How the control should draw one node; what is not set is drawn by default.
struct draw_style {
    bool has_color = false;
    uint32_t color = 0;  // 0xRRGGBB
    bool bold = false;
    int font_size = 0;  // points; 0 keeps the control's size
    bool operator==(const draw_style&) const = default;
};

class tree_control {
  public:
    using compare_fn = boost::function<int(tree_item*, tree_item*)>;
    using draw_fn = boost::function<draw_style(tree_item*, bool selected)>;

    virtual ~tree_control() = default;

    // Appends a node as the last child of parent, or at the top level when parent is null.
    // Its image and selected image start at -1 and its data at null.
    virtual tree_item* add(tree_item* parent, const std::u16string& text) = 0;
    // Removes the children of item (every top-level node when item is null), with their subtrees.
    virtual void remove_children(tree_item* item) = 0;

    virtual std::vector<tree_item*> children(tree_item* item) const = 0;
    virtual tree_item* parent(tree_item* item) const = 0;

    virtual void set_text(tree_item* item, const std::u16string& text) = 0;
    virtual std::u16string text(tree_item* item) const = 0;
    virtual void set_image(tree_item* item, int image) = 0;
    virtual int image(tree_item* item) const = 0;
    virtual void set_selected_image(tree_item* item, int image) = 0;
    virtual int selected_image(tree_item* item) const = 0;
    virtual void set_data(tree_item* item, void* data) = 0;
    virtual void* data(tree_item* item) const = 0;

    virtual void expand(tree_item* item) = 0;
    // Orders the children of item with compare (negative: the first goes before the second).
    // The comparison need not be consistent; the control must cope.
    virtual void sort_children(tree_item* item, const compare_fn& compare) = 0;

    virtual void select(tree_item* item) = 0;
    virtual tree_item* selected() const = 0;

    // The control asks this before drawing each node.
    virtual void set_draw_handler(draw_fn handler) = 0;
};

}  // namespace kvl::platform
