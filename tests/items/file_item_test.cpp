#include "items/file_item.h"

#include <gtest/gtest.h>

namespace kvl {
namespace {

TEST(FileItem, TextFormRoundTrip) {
    const file_item fresh;
    EXPECT_EQ(fresh.to_text(), u"-1;0;-1;0;0;");
    file_item back;
    back.type = 9;
    back.from_text(fresh.to_text());
    EXPECT_EQ(back.type, -1);
    EXPECT_EQ(back.subtype, 0);
    EXPECT_EQ(back.position, -1);
    EXPECT_EQ(back.source, u"");

    file_item hit;
    hit.type = FILE_ITEM_TYPE_FILE;
    hit.subtype = FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER;
    hit.position = 5'000'000'000;
    hit.value2 = 4194304;
    hit.value3 = -2;
    hit.source = u"/images/disk.img#2048";
    file_item parsed;
    parsed.from_text(hit.to_text());
    EXPECT_EQ(parsed.to_text(), hit.to_text());
    EXPECT_EQ(parsed.position, 5'000'000'000);
    EXPECT_EQ(parsed.value3, -2);
}

TEST(FileItem, SourceIsCutAtItsFirstSemicolon) {
    file_item item;
    item.from_text(u"3;0;17;0;0;/media/a;b.img");
    EXPECT_EQ(item.source, u"/media/a");
    item.from_text(u"3;0");  // missing fields keep their defaults
    EXPECT_EQ(item.position, 0);
}

TEST(FileItem, VocabularyTexts) {
    EXPECT_EQ(command_caption(COMMAND_RESCAN), u"<  Rescan >");
    EXPECT_EQ(command_caption(COMMAND_PARTITION_SEARCH), u"< Search for partitions >");
    EXPECT_EQ(command_caption(6), u"Unknown command id");
    EXPECT_EQ(item_type_name(FILE_ITEM_TYPE_SRC_ITEM), u"FILE_ITEM_TYPE_SRC_ITEM");
    EXPECT_EQ(item_type_name(7), u"Unknown item type");
    EXPECT_EQ(item_subtype_name(FILE_ITEM_SUBTYPE_LOST_FILES_FOLDER), u"FILE_ITEM_SUBTYPE_LOST_FILES_FOLDER");
    EXPECT_EQ(item_subtype_name(-1), u"Unknown item subtype");
    EXPECT_EQ(found_partition_kind_name(0), u"NTFS");
    EXPECT_EQ(found_partition_kind_name(4), u"");
}

}  // namespace
}  // namespace kvl
