#include "items/file_item.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <vector>

#include "core/text.h"

namespace kvl {

std::u16string file_item::to_text() const {
    return decimal(type) + u";" + decimal(subtype) + u";" + decimal(position) + u";" + decimal(value2) +
           u";" + decimal(value3) + u";" + source;
}

namespace {

// A signed decimal number; 0 for text that is not one.
int64_t parse_decimal(const std::u16string& text) {
    size_t i = 0;
    const bool negative = !text.empty() && text[0] == u'-';
    if (negative) i = 1;
    if (i >= text.size()) return 0;
    int64_t value = 0;
    for (; i < text.size(); ++i) {
        const int digit = text[i] - u'0';
        if (digit < 0 || digit > 9 || __builtin_mul_overflow(value, 10, &value) ||
            __builtin_add_overflow(value, negative ? -digit : digit, &value))
            return 0;
    }
    return value;
}

}  // namespace

void file_item::from_text(const std::u16string& text) {
    std::vector<std::u16string> fields;
    boost::algorithm::split(fields, text, boost::algorithm::is_any_of(u";"));
    fields.resize(std::max<size_t>(fields.size(), 6));
    type = static_cast<int32_t>(parse_decimal(fields[0]));
    subtype = static_cast<int32_t>(parse_decimal(fields[1]));
    position = parse_decimal(fields[2]);
    value2 = parse_decimal(fields[3]);
    value3 = parse_decimal(fields[4]);
    source = fields[5];
    list_item = nullptr;
}

std::u16string command_caption(int64_t command) {
    switch (command) {
        case COMMAND_MOUNT_IMAGE:
            return u"< Click here to mount image... >";
        case COMMAND_NTFS_LOST_RECORDS:
            return u"< Search for missing NTFS files >";
        case COMMAND_FAT_LOST_ENTRIES:
            return u"< Search for missing FAT files >";
        case COMMAND_LOW_LEVEL_SEARCH:
            return u"< Low-level file search >";
        case COMMAND_PARTITION_SEARCH:
            return u"< Search for partitions >";
        case COMMAND_RESCAN:
            return u"<  Rescan >";
        default:
            return u"Unknown command id";
    }
}

std::u16string item_type_name(int32_t type) {
    switch (type) {
        case FILE_ITEM_TYPE_GROUP:
            return u"FILE_ITEM_TYPE_GROUP";
        case FILE_ITEM_TYPE_SRC_ITEM:
            return u"FILE_ITEM_TYPE_SRC_ITEM";
        case FILE_ITEM_TYPE_COMMAND:
            return u"FILE_ITEM_TYPE_COMMAND";
        case FILE_ITEM_TYPE_FILE:
            return u"FILE_ITEM_TYPE_FILE";
        default:
            return u"Unknown item type";
    }
}

std::u16string item_subtype_name(int32_t subtype) {
    switch (subtype) {
        case FILE_ITEM_SUBTYPE_NONE:
            return u"FILE_ITEM_SUBTYPE_NONE";
        case FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER:
            return u"FILE_ITEM_SUBTYPE_FAT_SECOND_SCAN_FOLDER";
        case FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER:
            return u"FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER";
        case FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER:
            return u"FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER";
        case FILE_ITEM_SUBTYPE_FOLDER:
            return u"FILE_ITEM_SUBTYPE_FOLDER";
        case FILE_ITEM_SUBTYPE_LOST_FILES_FOLDER:
            return u"FILE_ITEM_SUBTYPE_LOST_FILES_FOLDER";
        default:
            return u"Unknown item subtype";
    }
}

std::u16string found_partition_kind_name(int32_t kind) {
    switch (kind) {
        case 0:
            return u"NTFS";
        case 1:
            return u"FAT12";
        case 2:
            return u"FAT16";
        case 3:
            return u"FAT32";
        default:
            return u"";
    }
}

}  // namespace kvl
