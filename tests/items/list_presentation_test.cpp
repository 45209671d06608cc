#include <gtest/gtest.h>

#include "core/text.h"
#include "items/file_types.h"
#include "items/kvl_file_item_manager.h"
#include "platform/memory_controls.h"
#include "scan/xfs_nodes.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

class FileListTest : public ::testing::Test {
  protected:
    void SetUp() override { items.bind(&tree, &list, &status); }

    // A row as the listings write it: caption, size text, type, three dates, byte count.
    platform::list_row* row(const std::u16string& name, int64_t bytes,
                            int32_t subtype = FILE_ITEM_SUBTYPE_NONE, const std::u16string& modified = u"",
                            int image = 35) {
        file_item item;
        item.type = FILE_ITEM_TYPE_FILE;
        item.subtype = subtype;
        platform::list_row* r = items.add_list_row(name, item);
        const bool folder = subtype == FILE_ITEM_SUBTYPE_FOLDER;
        for (const std::u16string& text :
             {folder ? std::u16string() : std::u16string(u"x KB"), file_type_text(name, folder),
              std::u16string(), modified, std::u16string(), decimal(bytes)})
            list.add_sub_item(r, text);
        list.set_image(r, image);
        return r;
    }
    std::vector<std::u16string> order() const {
        std::vector<std::u16string> out;
        for (int i = 0; i < list.count(); ++i) out.push_back(list.caption(list.row(i)));
        return out;
    }

    test::test_ui ui;
    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    kvl_file_item_manager items;
};

TEST_F(FileListTest, ColumnsCarryTheirCodesAlignmentAndWidth) {
    ASSERT_EQ(list.column_count(), 7);
    const struct {
        const char16_t* caption;
        int width;
        platform::column_alignment alignment;
        uint32_t tag;
    } expected[] = {
        {u"File Name", 270, platform::column_alignment::left, column_tag(0, 250, 250)},
        {u"Size", 80, platform::column_alignment::right, column_tag(2, 6, 250)},
        {u"Type", 100, platform::column_alignment::left, column_tag(0, 250, 0)},
        {u"Date Created", 120, platform::column_alignment::left, column_tag(5, 250, 250)},
        {u"Date Modified", 120, platform::column_alignment::left, column_tag(5, 250, 250)},
        {u"Date Accessed", 120, platform::column_alignment::left, column_tag(5, 250, 250)},
        {u"~full_size", 0, platform::column_alignment::right, column_tag(1, 250, 250)},
    };
    for (int i = 0; i < 7; ++i) {
        EXPECT_EQ(list.column(i).caption, expected[i].caption);
        EXPECT_EQ(list.column(i).width, expected[i].width);
        EXPECT_EQ(list.column(i).alignment, expected[i].alignment);
        EXPECT_EQ(list.column(i).tag, expected[i].tag);
    }
    EXPECT_EQ(column_tag(2, 6, 250), 0xFA060002u);
    EXPECT_EQ(items.columns.sort_column(), 6);  // the last column added
}

TEST_F(FileListTest, HeaderClicksOnAnEmptyListChangeNothing) {
    list.click_column(0);
    EXPECT_EQ(items.columns.sort_column(), 6);
    EXPECT_FALSE(items.columns.descending());
}

TEST_F(FileListTest, SizeSortsByTheHiddenByteCountAndClickingAgainReverses) {
    row(u"b.bin", 2000);
    row(u"a.bin", 1500);
    row(u"c.bin", 1999);
    list.click_column(1);
    EXPECT_EQ(order(), (std::vector<std::u16string>{u"a.bin", u"c.bin", u"b.bin"}));
    list.click_column(1);
    EXPECT_TRUE(items.columns.descending());
    EXPECT_EQ(order(), (std::vector<std::u16string>{u"b.bin", u"c.bin", u"a.bin"}));
    list.click_column(0);
    EXPECT_FALSE(items.columns.descending());
    EXPECT_EQ(order(), (std::vector<std::u16string>{u"a.bin", u"b.bin", u"c.bin"}));
}

TEST_F(FileListTest, TypeColumnTiesOnNameAndFoldersComeFirstAscending) {
    row(u"zeta.txt", 1);
    row(u"Docs", 0, FILE_ITEM_SUBTYPE_FOLDER, u"", 33);
    row(u"alpha.txt", 1);
    row(u"image.jpg", 1);
    row(u"Lost files", 0, FILE_ITEM_SUBTYPE_FOLDER, u"", IMAGE_LAST_IN_ORDER);
    items.columns.sort_on_column(COLUMN_TYPE);
    EXPECT_EQ(order(),
              (std::vector<std::u16string>{u"Docs", u"Lost files", u"image.jpg", u"alpha.txt", u"zeta.txt"}));
    list.click_column(COLUMN_TYPE);
    EXPECT_EQ(order().back(), u"Docs");  // descending puts the folders last
}

TEST_F(FileListTest, IntegerAndDateColumnsAnswerTheSameWhicheverRowComesFirst) {
    platform::list_row* empty = row(u"a", 0);
    platform::list_row* full = row(u"b", 5);
    platform::list_row* refused = row(u"c", 7, FILE_ITEM_SUBTYPE_NONE, u"00.00.000?");
    platform::list_row* dated = row(u"d", 9, FILE_ITEM_SUBTYPE_NONE, u"01.02.2024 10:00:00");
    list.set_caption(empty, u"a");
    items.columns.set_comparator({});
    // "~full_size" of an empty text answers 1 both ways.
    const auto blank = list.add_row();
    for (int i = 0; i < 6; ++i) list.add_sub_item(blank, u"");
    EXPECT_EQ(items.columns.compare(blank, full, 6), 1);
    EXPECT_EQ(items.columns.compare(full, blank, 6), 1);
    EXPECT_EQ(items.columns.compare(empty, full, 6), -1);
    EXPECT_EQ(items.columns.compare(full, empty, 6), 1);
    EXPECT_EQ(items.columns.compare(full, full, 6), 1);  // equal values answer 1 too
    EXPECT_EQ(items.columns.compare(refused, dated, 4), -1);
    EXPECT_EQ(items.columns.compare(dated, refused, 4), -1);
    platform::list_row* later = row(u"e", 9, FILE_ITEM_SUBTYPE_NONE, u"01.02.2024 10:00:01");
    items.columns.set_comparator({});
    EXPECT_EQ(items.columns.compare(dated, later, 4), -1);
    EXPECT_EQ(items.columns.compare(later, dated, 4), 1);
}

TEST(FileTypeText, FallbacksAndTheProvidersDescription) {
    EXPECT_EQ(file_type_text(u"Docs", true), u"Folder");
    EXPECT_EQ(file_type_text(u"README", false), u"File");
    EXPECT_EQ(file_type_text(u"a.xyz", false), u"File \".XYZ\"");
    EXPECT_EQ(file_type_text(u"\u0444\u0430\u0439\u043b.\u0434\u043e\u043a", false),
              u"File \".\u0414\u041e\u041a\"");
    EXPECT_EQ(file_type_text(u"dir.d\\name", false), u"File");
    platform::memory_file_types types;
    types.descriptions[u".txt"] = u"Plain text document";
    platform::scoped_file_types scope(types);
    EXPECT_EQ(file_type_text(u"notes.txt", false), u"Plain text document");
    EXPECT_EQ(file_type_text(u"notes.TXT", false), u"File \".TXT\"");
}

TEST(IconCache, OneImagePerExtensionAndLookAndThePaleRule) {
    platform::memory_file_types types;
    platform::icon16 icon;
    icon.color[0] = 0x204060;
    icon.opaque[0] = true;
    icon.color[1] = 0xFFFFFF;  // transparent: becomes black
    types.icons[u".jpg"] = icon;
    platform::scoped_file_types scope(types);
    platform::memory_image_list images(40);
    icon_cache cache;
    cache.bind_image_list(&images);
    EXPECT_EQ(cache.icon_index(u".jpg"), 40);
    EXPECT_EQ(cache.icon_index(u".jpg"), 40);
    cache.deleted_look = true;
    EXPECT_EQ(cache.icon_index(u".jpg"), 41);
    cache.deleted_look = false;
    EXPECT_EQ(cache.icon_index(u".jpg"), 40);
    EXPECT_EQ(cache.icon_index(u".none"), -1);
    EXPECT_EQ(cache.icon_index(u".none"), -1);
    EXPECT_EQ(types.icon_lookups, 4);  // two for .jpg, failed lookups are not cached
    ASSERT_EQ(images.added.size(), 2u);
    EXPECT_EQ(images.added[0], icon);
    EXPECT_EQ(images.added[1].color[0],
              ((0x20 + 255) / 2u) << 16 | ((0x40 + 255) / 2u) << 8 | (0x60 + 255) / 2u);
    EXPECT_EQ(images.added[1].color[1], 0u);
}

TEST_F(FileListTest, FoundFilesAreNumberedInTreeOrder) {
    xfs_nodes formats;
    formats.load_from_text(u"JPEG image;.jpg;FFD8FF;0;;;0;;Images\r\nPNG image;.png;89504E47;0;;;0;;Images");
    const auto command = items.add_command_item(COMMAND_LOW_LEVEL_SEARCH, nullptr);
    const auto folder = items.add_source_item(u"src", u".png (2)", command);
    for (int64_t offset : {8192, 512}) {
        file_item hit;
        hit.type = FILE_ITEM_TYPE_FILE;
        hit.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
        hit.position = offset;
        hit.value2 = 4194304;
        hit.value3 = 1;
        hit.source = u"src";
        items.add_node(u".png", hit, folder, true);
    }
    items.list_found_files(folder, formats);
    ASSERT_EQ(list.count(), 2);
    platform::list_row* first = list.row(0);
    EXPECT_EQ(list.caption(first), u"PNG image 1.png");
    EXPECT_EQ(list.caption(list.row(1)), u"PNG image 2.png");
    EXPECT_EQ(list.sub_item(first, 0), u"4 096 KB");
    EXPECT_EQ(list.sub_item(first, 1), u"File \".PNG\"");
    EXPECT_EQ(list.sub_item(first, 5), u"4194304");
    EXPECT_EQ(list.image(first), IMAGE_UNKNOWN_FOUND_FILE);
    const auto* item = static_cast<const file_item*>(list.data(first));
    EXPECT_EQ(item->position, 8192);
    EXPECT_EQ(item->list_item, first);
    EXPECT_EQ(items.list_items.size(), 2u);
}

TEST_F(FileListTest, EscFromThePumpStopsTheFillBeforeTheNextRow) {
    xfs_nodes formats;
    formats.load_from_text(u"JPEG image;.jpg;FFD8FF;0;;;0;;Images");
    const auto folder = items.add_source_item(u"src", u".jpg", nullptr);
    for (int i = 0; i < 10; ++i) {
        file_item hit;
        hit.value3 = 0;
        items.add_node(u".jpg", hit, folder, true);
    }
    ui.pump.on_pump = [&] {
        if (list.count() == 3) items.cancel_requested = true;
    };
    items.list_found_files(folder, formats);
    EXPECT_EQ(list.count(), 3);
}

}  // namespace
}  // namespace kvl
