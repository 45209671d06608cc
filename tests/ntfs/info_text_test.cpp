#include "ntfs/ntfs_info_text.h"

#include <gtest/gtest.h>

#include "support/byte_builder.h"

namespace kvl {
namespace {

TEST(InfoText, NamesFlagsAndGuids) {
    EXPECT_EQ(attribute_type_name(0x110), u"Unknown");
    EXPECT_EQ(attribute_type_name(0xFFFFFFFF), u"AT_END");
    EXPECT_EQ(attribute_header_flags_text(0x8001), u"ATTR_IS_COMPRESSED ATTR_IS_SPARSE ");
    EXPECT_EQ(attribute_header_flags_text(0x0002), u"");
    EXPECT_EQ(mft_record_flags_text(0x03), u"MFT_RECORD_IN_USE MFT_RECORD_IS_DIRECTORY ");
    const uint8_t bytes[16] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77,
                               0x88, 0x99, 0xAA, 0xBB, 0xCC, 0xDD, 0xEE, 0xFF};
    EXPECT_EQ(guid_text(le_bytes(bytes, 16)), u"00112233-4455-6677-8899-AABBCCDDEEFF");
}

TEST(InfoText, ItemTextDiffersOnlyInTheTabsAfterSubtype) {
    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.position = 64;
    item.source = u"/images/disk.img";
    EXPECT_EQ(item_info_text(item, false),
              u"Type:\t\t\tFILE_ITEM_TYPE_FILE\r\nSubtype:\t\t\tFILE_ITEM_SUBTYPE_NONE\r\nID:\t\t\t64\r\nID2:"
              u"\t\t\t0\r\n"
              u"ID3:\t\t\t0\r\nSrc:\t\t\t/images/disk.img\r\n");
    std::u16string box = item_info_text(item, true);
    EXPECT_EQ(box.replace(box.find(u"Subtype:\t\t"), 10, u"Subtype:\t\t\t"), item_info_text(item, false));
}

TEST(InfoText, UnnamedResidentDataAndARunListWithAHole) {
    std::vector<uint8_t> resident(32);
    test::put(resident, 0, 0x80, 4);
    test::put(resident, 4, 32, 4);
    test::put(resident, 16, 4, 4);
    test::put(resident, 20, 24, 2);
    attribute_item item;
    item.header = le_bytes(resident);
    EXPECT_EQ(attribute_text(item, 4096),
              u"type: AT_DATA\r\nlength: 32\r\ninternal \r\nname_length: 0\r\nname_offset: 0\r\nflags: "
              u"\r\ninstance: 0\r\n"
              u"value_length: 4\r\nvalue_offset: 24\r\nresident_flags: \r\n");
    const std::vector<uint8_t> runs =
        test::nonresident_attribute(AT_DATA, 0, 0, {0x11, 0x04, 0x10, 0x01, 0x10, 0x11, 0x02, 0x20, 0x00});
    item.header = le_bytes(runs);
    const std::u16string text = attribute_text(item, 4096);
    EXPECT_NE(text.find(u"-------------- runlist -------------\r\n16 (4)\r\n-1 (16)\r\n48 "
                        u"(2)\r\n------------------------------------\r\n"),
              std::u16string::npos);
    item.header = {};
    EXPECT_EQ(attribute_text(item, 4096), u"Failed to load additional info. rec_attribute not filled\r\n");
}

}  // namespace
}  // namespace kvl
