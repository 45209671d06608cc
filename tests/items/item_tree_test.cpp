#include <gtest/gtest.h>

#include "items/kvl_file_item_manager.h"
#include "platform/memory_controls.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

class ItemTreeTest : public ::testing::Test {
  protected:
    void SetUp() override { items.bind(&tree, &list, &status); }
    std::vector<std::u16string> texts(platform::tree_item* parent) const {
        std::vector<std::u16string> out;
        for (platform::tree_item* child : tree.children(parent)) out.push_back(tree.text(child));
        return out;
    }
    file_item file_at(int64_t position) const {
        file_item item;
        item.type = FILE_ITEM_TYPE_FILE;
        item.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
        item.position = position;
        return item;
    }

    test::test_ui ui;
    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    kvl_file_item_manager items;
};

TEST_F(ItemTreeTest, NodesMirrorIntoTheControlAndHiddenOnesDoNot) {
    const auto group = items.add_group_item(u"[ Disk Images ]", nullptr);
    EXPECT_FALSE(tree.expanded(group->data.view_node));
    const auto image = items.add_source_item(u"/x/disk.img", u"disk.img", group);
    EXPECT_TRUE(tree.expanded(group->data.view_node));  // a child under a visible node shows it
    EXPECT_EQ(image->data.item.type, FILE_ITEM_TYPE_SRC_ITEM);
    EXPECT_EQ(image->data.item.position, 0);
    const auto command = items.add_command_item(COMMAND_LOW_LEVEL_SEARCH, image);
    EXPECT_EQ(command->data.item.source, u"/x/disk.img");  // commands take their parent's source
    EXPECT_EQ(command->data.item.position, COMMAND_LOW_LEVEL_SEARCH);
    const auto hit = items.add_node(u".jpg 0", file_at(4096), command, true);

    EXPECT_EQ(tree.children(nullptr).size(), 1u);
    EXPECT_EQ(texts(image->data.view_node), std::vector<std::u16string>{u"< Low-level file search >"});
    EXPECT_EQ(hit->data.view_node, nullptr);
    EXPECT_TRUE(tree.children(command->data.view_node).empty());
    ASSERT_EQ(command->children.size(), 1u);  // the item tree keeps the hidden hit
    EXPECT_EQ(items.get_node_data(image->data.view_node), image);
}

TEST_F(ItemTreeTest, ControlNodeWithoutDataIsReported) {
    platform::tree_item* stray = tree.add(nullptr, u"stray");
    EXPECT_EQ(items.get_node_data(stray), nullptr);
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{u"gui_tree<T>::get_node_data=> Node data does not exist"});
}

TEST_F(ItemTreeTest, DeleteChildrenWithAndWithoutItems) {
    const auto folder = items.add_source_item(u"s", u"folder", nullptr);
    const auto child = items.add_source_item(u"s", u"child", folder);
    items.add_source_item(u"s", u"grandchild", child);
    tree.select(child->data.view_node);

    items.delete_children(folder, false);  // the items stay, their control nodes go
    EXPECT_TRUE(tree.children(folder->data.view_node).empty());
    ASSERT_EQ(folder->children.size(), 1u);
    EXPECT_EQ(folder->children[0]->data.view_node, nullptr);
    EXPECT_EQ(folder->children[0]->children[0]->data.view_node, nullptr);
    EXPECT_EQ(tree.selected(), nullptr);

    items.delete_children(folder, true);
    EXPECT_TRUE(folder->children.empty());
    items.clear();
    EXPECT_TRUE(tree.children(nullptr).empty());
    EXPECT_TRUE(items.root()->children.empty());
}

TEST_F(ItemTreeTest, ChildrenSortGroupsAndCommandsFirstImage39LastThenByTextIgnoringCase) {
    const auto volume = items.add_source_item(u"v", u"volume", nullptr);
    const auto found = items.add_source_item(u"v", u"4096", volume);
    items.set_images(found, IMAGE_LAST_IN_ORDER, IMAGE_LAST_IN_ORDER);
    items.add_source_item(u"v", u"beta", volume);
    items.add_command_item(COMMAND_RESCAN, volume);
    items.add_source_item(u"v", u"Alpha", volume);
    items.add_command_item(COMMAND_FAT_LOST_ENTRIES, volume);
    items.add_source_item(u"v", u"ALPHA2", volume);
    items.sort_children(volume);
    EXPECT_EQ(texts(volume->data.view_node),
              (std::vector<std::u16string>{u"<  Rescan >", u"< Search for missing FAT files >", u"Alpha",
                                           u"ALPHA2", u"beta", u"4096"}));
}

TEST_F(ItemTreeTest, CommandsDrawNavyRescanBoldGroupsGrey) {
    const auto group = items.add_group_item(u"[ Physical Drives ]", nullptr);
    const auto drive = items.add_source_item(u"0", u"Hard Drive 1", group);
    const auto search = items.add_command_item(COMMAND_PARTITION_SEARCH, drive);
    const auto rescan = items.add_command_item(COMMAND_RESCAN, search);
    const platform::draw_style navy{true, 0x000080, false, 0};
    EXPECT_EQ(tree.draw(search->data.view_node, false), navy);
    EXPECT_EQ(tree.draw(search->data.view_node, true), platform::draw_style{});
    EXPECT_EQ(tree.draw(rescan->data.view_node, false), (platform::draw_style{true, 0x000080, true, 0}));
    EXPECT_EQ(tree.draw(rescan->data.view_node, true), (platform::draw_style{false, 0, true, 0}));
    EXPECT_EQ(tree.draw(group->data.view_node, false), (platform::draw_style{true, 0x757575, false, 9}));
    EXPECT_EQ(tree.draw(group->data.view_node, true), (platform::draw_style{false, 0, false, 9}));
    EXPECT_EQ(tree.draw(drive->data.view_node, false), platform::draw_style{});
}

TEST_F(ItemTreeTest, EmptyingTheListDeletesTheRowsItems) {
    items.list_items.push_back(std::make_unique<file_item>());
    list.set_data(list.add_row(), items.list_items.back().get());
    items.empty_list();
    EXPECT_EQ(list.count(), 0);
    EXPECT_TRUE(items.list_items.empty());
}

}  // namespace
}  // namespace kvl
