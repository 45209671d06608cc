#include <gtest/gtest.h>

#include "config/config.h"
#include "core/text.h"
#include "items/file_search.h"
#include "storage/memory_stream.h"
#include "support/fixtures.h"
#include "support/search_world.h"
#include "support/sha256.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

std::u16string image(const std::string& name) {
    return utf8_to_utf16(test::fixture_image(name).string());
}

const file_item* row_item(test::search_world& world, const std::u16string& caption) {
    for (int i = 0; i < world.list.count(); ++i)
        if (world.list.caption(world.list.row(i)) == caption)
            return static_cast<const file_item*>(world.list.data(world.list.row(i)));
    return nullptr;
}

TEST(Activation, VolumesGetTheirCommandsFirstAndTheNtfsTreeIsBuiltOnce) {
    test::test_ui ui;
    test::search_world world;
    const auto ntfs = world.add_source(image("demo-ntfs"));
    world.manager.activate(ntfs);
    // Added in this order, then the folder's control children sorted: commands first, "Lost files" last.
    const std::vector<std::u16string> captions = world.captions(ntfs);
    ASSERT_GE(captions.size(), 4u);
    EXPECT_EQ(std::vector<std::u16string>(captions.begin(), captions.begin() + 4),
              (std::vector<std::u16string>{u"< Search for missing NTFS files >", u"< Low-level file search >",
                                           u"<  Rescan >", u"Lost files"}));
    std::vector<std::u16string> shown;
    for (platform::tree_item* child : world.tree.children(ntfs->data.view_node))
        shown.push_back(world.tree.text(child));
    EXPECT_EQ(std::vector<std::u16string>(shown.begin(), shown.begin() + 3),
              (std::vector<std::u16string>{u"<  Rescan >", u"< Low-level file search >",
                                           u"< Search for missing NTFS files >"}));
    EXPECT_EQ(shown.back(), u"Lost files");
    const size_t nodes = world.manager.scan_results.get(image("demo-ntfs")).tree.size();
    EXPECT_GT(nodes, 30u);
    world.manager.scan_results.get(image("demo-ntfs")).tree[999999] = {};  // a marker a rebuild would clear
    world.manager.activate(ntfs);
    EXPECT_TRUE(world.manager.scan_results.get(image("demo-ntfs")).tree.count(999999));
    world.manager.activate(ntfs->children[2].get());  // "<  Rescan >" rebuilds it
    EXPECT_FALSE(world.manager.scan_results.get(image("demo-ntfs")).tree.count(999999));

    const auto fat = world.add_source(image("fat16"));
    world.manager.activate(fat);
    EXPECT_EQ(world.captions(fat).front(), u"< Search for missing FAT files >");
    EXPECT_EQ(world.captions(fat)[1], u"< Low-level file search >");
}

TEST(Activation, DiskImagesShowTheirPartitionsEveryTime) {
    test::test_ui ui;
    test::search_world world;
    const auto disk = world.add_source(image("part-volumes"));
    for (int i = 0; i < 2; ++i) {
        world.manager.activate(disk);
        EXPECT_EQ(world.captions(disk).size(), 4u);
        EXPECT_EQ(world.captions(disk).front(), u"< Search for partitions >");
    }
    world.manager.activate(disk->children[1].get());  // the NTFS partition lists its root
    EXPECT_NE(row_item(world, u"Lost files"), nullptr);
}

TEST(Activation, AClickDuringAnActivationIsIgnored) {
    test::test_ui ui;
    test::search_world world;
    const auto first = world.add_source(image("fat16"));
    const auto second = world.add_source(image("fat12"));
    int clicks = 0;
    ui.pump.on_pump = [&] {
        if (clicks++ == 0) world.manager.activate(second);
    };
    world.manager.activate(first);
    EXPECT_TRUE(second->children.empty());
    EXPECT_FALSE(world.manager.activation_running);
}

// A sparse file whose size claims 2^40 bytes: listed with that size, previewed up to the cap, and
// nothing is allocated in proportion to the size (the sanitizer build would fail on it).
TEST(ItemData, AHugeSparseFilePreviewsOnlyUpToTheCap) {
    test::test_ui ui;
    test::search_world world;
    app_config().items.at(u"file_recovery_max_size_mb").value = any_type(u"2");
    world.manager.activate(
        world.add_source(utf8_to_utf16(test::fixture_image("hostile/ntfs-sparse-1t").string())));
    const file_item* file = row_item(world, u"sparse.bin");
    ASSERT_NE(file, nullptr);
    EXPECT_EQ(world.manager.tree.list_view->sub_item(file->list_item, 5), u"1099511627776");
    memory_stream data;
    ASSERT_TRUE(world.manager.get_item_data(*file, data, true));
    EXPECT_EQ(data.size(), 2 * 1048576);
}

TEST(ItemData, PreviewsAreCappedRecoveriesAreWhole) {
    test::test_ui ui;
    test::search_world world;
    app_config().items.at(u"file_recovery_max_size_mb").value = any_type(u"0");
    world.manager.activate(world.add_source(image("fat16")));
    const file_item* folder = row_item(world, u"DOCS");
    ASSERT_NE(folder, nullptr);
    memory_stream data;
    EXPECT_FALSE(world.manager.get_item_data(*folder, data, false));
    world.manager.activate(static_cast<kvl_file_item_manager::handle>(folder->tree_node));
    const file_item* file = row_item(world, u"MEMO.TXT");
    ASSERT_NE(file, nullptr);
    ASSERT_TRUE(world.manager.get_item_data(*file, data, true));
    EXPECT_EQ(data.size(), 0);  // a cap of 0 MiB
    ASSERT_TRUE(world.manager.get_item_data(*file, data, false));
    EXPECT_EQ(data.size(), file->value2);

    file_item hit;
    hit.type = FILE_ITEM_TYPE_FILE;
    hit.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
    hit.source = image("fat16");
    hit.position = 1048576 + 3;
    hit.value2 = 5000;
    ASSERT_TRUE(world.manager.get_item_data(hit, data, false));
    const std::vector<uint8_t> whole = test::read_file(test::fixture_image("fat16"));
    EXPECT_TRUE(std::equal(data.bytes().begin(), data.bytes().end(), whole.begin() + 1048576 + 3));
    EXPECT_EQ(data.size(), 5000);
}

TEST(FileSearch, MaskTable) {
    const struct {
        const char16_t* name;
        const char16_t* mask;
        bool match;
    } cases[] = {{u"Notes.TXT", u"*.txt", true}, {u"a.txt.bak", u"*.txt", true},
                 {u"axxb", u"a*b", true},        {u"abxb", u"a*b", true},
                 {u"ab.doc", u"??.doc", true},   {u"abc.doc", u"??.doc", false},
                 {u"anything", u"*", true},      {u"", u"?", true},
                 {u"short", u"shorter", false}};
    for (const auto& c : cases) EXPECT_EQ(mask_matches(c.name, c.mask), c.match) << utf16_to_utf8(c.name);
    // The whole name takes part, however long.
    EXPECT_FALSE(mask_matches(std::u16string(300, u'a') + u".jpg", std::u16string(300, u'a') + u".png"));
    EXPECT_TRUE(mask_matches(std::u16string(300, u'a') + u".jpg", std::u16string(300, u'a') + u".jpg"));
}

TEST(FileSearch, SizeBoundaryAndDescriptions) {
    search_params more;
    more.use_size = true;
    more.comparison = 1;
    EXPECT_FALSE(size_matches(10485760, more));
    EXPECT_TRUE(size_matches(10485761, more));
    search_params less = more;
    less.comparison = 0;
    EXPECT_TRUE(size_matches(10485760, less));
    more.size = 4096;  // beyond 32 bits when scaled: stays a positive limit
    EXPECT_TRUE(size_matches(int64_t{1} << 40, more));
    EXPECT_FALSE(size_matches(int64_t{1} << 31, more));

    search_params all;
    EXPECT_EQ(describe_search(all), u"Searching for all files");
    search_params both;
    both.mask = u"*.jpg";
    both.use_size = true;
    both.comparison = 1;
    both.size = 1;
    EXPECT_EQ(describe_search(both), u"Search for files with mask: *.jpg size more than 1");
}

TEST(FileSearch, ResultsListAndRecoverFromIt) {
    test::test_ui ui;
    test::temp_dir dir;
    test::search_world world;
    platform::memory_list_control results;
    world.manager.bind_results(&results);
    platform::scripted_search_dialog search;
    world.manager.search_dialog = &search;
    world.manager.activate(world.add_source(image("fat16")));
    for (int i = 0; i < world.list.count(); ++i) world.list.set_selected(world.list.row(i), true);
    platform::search_answer answer;
    answer.mask = u"*.txt";
    search.answers = {answer};
    world.manager.find();
    ASSERT_GT(results.count(), 2);
    EXPECT_TRUE(world.manager.results_label.starts_with(u"Search for files with mask: *.txt  => Found "));
    for (int i = 0; i < results.count(); ++i) {
        EXPECT_TRUE(mask_matches(results.caption(results.row(i)), u"*.txt"));
        results.set_selected(results.row(i), true);
    }
    for (int i = 0; i < world.list.count(); ++i) world.list.set_selected(world.list.row(i), false);
    world.files.folders = {dir.u16("")};
    world.manager.recover();
    int written = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir.path()))
        written += entry.is_regular_file();
    EXPECT_EQ(written, results.count());
    EXPECT_EQ(world.status.text, u"");
}

}  // namespace
}  // namespace kvl

namespace kvl {
namespace {

// The child that shows a folder can be opened is only a control node: a click on it lists nothing
// (before, it was a source item at position 0, and listed the volume's root inside the folder).
TEST(Activation, AFoldersPlaceholderHoldsNoItem) {
    for (const char* fixture : {"fat16", "ntfs-4k"}) {
        test::test_ui ui;
        test::search_world world;
        const auto volume = world.add_source(image(fixture));
        world.manager.activate(volume);
        platform::tree_item* folder = nullptr;
        for (platform::tree_item* child : world.tree.children(volume->data.view_node))
            if (world.tree.text(child) == u"DOCS" || world.tree.text(child) == u"Documents") folder = child;
        ASSERT_NE(folder, nullptr) << fixture;
        const auto placeholders = world.tree.children(folder);
        ASSERT_EQ(placeholders.size(), 1u) << fixture;
        EXPECT_EQ(world.tree.text(placeholders[0]), u"");
        const int rows = world.list.count();
        world.tree.select(placeholders[0]);
        world.manager.activate_selected();
        EXPECT_EQ(world.list.count(), rows) << fixture;
        EXPECT_EQ(ui.log_texts().back(), u"gui_tree<T>::get_node_data=> Node data does not exist") << fixture;
    }
}

}  // namespace
}  // namespace kvl
