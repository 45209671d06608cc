#pragma once

#include <memory>
#include <string>
#include <vector>

#include "core/base.h"
#include "platform/tree_control.h"

namespace kvl {

// A tree of items that mirrors itself into a tree control. Every node owns its children; a node's
// control node points back at it through the control's data pointer. Hidden nodes live only here.
template <typename T>
class gui_tree : public base {
  public:
    struct node_data {
        T item;
        platform::tree_item* view_node = nullptr;
    };
    struct tree_node {
        node_data data;
        tree_node* parent = nullptr;
        std::vector<std::unique_ptr<tree_node>> children;
    };
    // A node, or null for none.
    using handle = tree_node*;

    gui_tree() = default;
    gui_tree(const gui_tree&) = delete;
    gui_tree& operator=(const gui_tree&) = delete;

    void bind_view(platform::tree_control* view) { tree_view_ = view; }
    platform::tree_control* view() const { return tree_view_; }
    handle root() { return &root_; }

    void clear() {
        if (tree_view_) tree_view_->remove_children(nullptr);
        root_.children.clear();
    }

    handle add_node(const std::u16string& caption, const T& item, handle parent, bool hidden) {
        if (!parent) parent = &root_;
        auto fresh = std::make_unique<tree_node>();
        fresh->data.item = item;
        fresh->parent = parent;
        handle made = fresh.get();
        if (!hidden && tree_view_) {
            made->data.view_node = tree_view_->add(parent->data.view_node, caption);
            tree_view_->set_data(made->data.view_node, made);
            if (parent->data.view_node) tree_view_->expand(parent->data.view_node);
        }
        parent->children.push_back(std::move(fresh));
        return made;
    }

    // A control child with empty text and no item under a node, so that the control shows the node
    // can be opened before its contents are read; a click on it finds no node data.
    void add_placeholder(handle parent) {
        if (tree_view_ && parent && parent->data.view_node) tree_view_->add(parent->data.view_node, u"");
    }

    handle get_node_data(platform::tree_item* view_node) const {
        void* data = view_node && tree_view_ ? tree_view_->data(view_node) : nullptr;
        if (!data) {
            report_error("gui_tree<T>::get_node_data", u"Node data does not exist");
            return nullptr;
        }
        return static_cast<handle>(data);
    }

    // Removes the node's control children; with_items also removes its child nodes. Nodes that
    // stay lose their control nodes, which are gone.
    void delete_children(handle node, bool with_items) {
        if (!node) return;
        if (tree_view_ && (node->data.view_node || node == &root_))
            tree_view_->remove_children(node->data.view_node);
        if (with_items) {
            node->children.clear();
        } else {
            for (auto& child : node->children) forget_views(*child);
        }
    }

  private:
    static void forget_views(tree_node& node) {
        node.data.view_node = nullptr;
        for (auto& child : node.children) forget_views(*child);
    }

    tree_node root_;
    platform::tree_control* tree_view_ = nullptr;
};

}  // namespace kvl
