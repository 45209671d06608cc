#include "fat/fat_items.h"

#include <cstring>

#include "core/format.h"
#include "core/text.h"
#include "ntfs/ntfs_tree.h"
#include "platform/code_page.h"
#include "platform/ui.h"

namespace kvl {

namespace {

constexpr uint8_t long_name_attribute = 0x0F;
// Case flags of a short name (byte 12): base and extension stored upper case but shown lower.
constexpr uint8_t lower_case_base = 0x08;
constexpr uint8_t lower_case_extension = 0x10;

std::u16string long_name_part(const le_bytes& entry) {
    std::u16string part;
    for (const auto& [offset, units] : {std::pair<int, int>{1, 5}, {14, 6}, {28, 2}})
        for (int i = 0; i < units; ++i) part.push_back(static_cast<char16_t>(entry.u16(offset + 2 * i)));
    return part;
}

std::u16string lower_ascii(std::u16string text) {
    for (char16_t& c : text)
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    return text;
}

std::u16string short_name(const fat_node& node) {
    std::u16string base = trim_white(platform::ansi_to_utf16(std::span(node.raw).first(8)));
    std::u16string extension = trim_white(platform::ansi_to_utf16(std::span(node.raw).subspan(8, 3)));
    if (node.raw[12] & lower_case_base) base = lower_ascii(base);
    if (node.raw[12] & lower_case_extension) extension = lower_ascii(extension);
    return extension.empty() ? base : base + u"." + extension;
}

}  // namespace

void fat_items::parse(memory_stream& directory, uint32_t entry_offset) {
    nodes.clear();
    const auto bytes = directory.bytes();
    for (uint64_t at = entry_offset; at + 32 <= bytes.size(); at += 32) {
        fat_node node;
        std::memcpy(node.raw.data(), bytes.data() + at, 32);
        nodes.push_back(node);
    }
    std::vector<fat_node> kept;
    std::u16string accumulated;
    for (fat_node& node : nodes) {
        if (node.raw[11] == long_name_attribute) {
            // A long name has at most 20 parts; a longer run of parts is damage and starts afresh.
            if (accumulated.size() >= 20 * 13) accumulated.clear();
            accumulated = long_name_part(node.bytes()) + accumulated;
            continue;
        }
        if (!accumulated.empty()) {
            // A long name ends at its first NUL; the 0xFFFF padding after it is not part of it.
            node.name = accumulated.substr(0, accumulated.find(u'\0'));
            accumulated.clear();
        } else if (node.raw[0] == '.' && (node.raw[1] == '.' || node.raw[1] == ' ')) {
            continue;
        } else if (node.raw[0] == 0x00) {
            continue;
        } else {
            node.name = short_name(node);
        }
        kept.push_back(std::move(node));
    }
    nodes = std::move(kept);
}

std::u16string dos_date_time_text(uint16_t date, uint16_t time) {
    const platform::calendar_time t{1980 + (date >> 9), (date >> 5) & 15, date & 31, time >> 11,
                                    (time >> 5) & 63,   (time & 31) * 2,  0};
    static constexpr int days[] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > days[t.month - 1] || t.hour > 23 ||
        t.minute > 59 || t.second > 59)
        return {};
    const bool leap = (t.year % 4 == 0 && t.year % 100 != 0) || t.year % 400 == 0;
    if (t.month == 2 && t.day == 29 && !leap) return {};
    return format_date_time(t);
}

namespace {

void add_fat_item(kvl_file_item_manager& manager, const fat_node& node,
                  kvl_file_item_manager::handle parent) {
    platform::list_control& list = *manager.list_view;
    const bool folder = node.is_directory();
    const bool deleted = node.is_deleted();
    const le_bytes entry = node.bytes();
    file_item item;
    item.type = FILE_ITEM_TYPE_FILE;
    item.subtype = folder ? FILE_ITEM_SUBTYPE_FOLDER : FILE_ITEM_SUBTYPE_NONE;
    item.position = node.first_cluster();
    // The entry's size goes with a file's item, so its data is cut to exactly its bytes.
    item.value2 = folder ? 0 : node.file_size();
    item.source = parent->data.item.source;
    item.deleted = deleted;
    platform::list_row* row = manager.add_list_row(node.name, item);
    list.add_sub_item(row, folder ? u"" : format_size_kb(node.file_size()));
    list.add_sub_item(row, file_type_text(node.name, folder));
    list.add_sub_item(row, dos_date_time_text(entry.u16(16), entry.u16(14)));
    list.add_sub_item(row, dos_date_time_text(entry.u16(24), entry.u16(22)));
    list.add_sub_item(row, dos_date_time_text(entry.u16(18), 0));
    list.add_sub_item(row, decimal(node.file_size()));
    if (folder) {
        list.set_image(row, deleted ? IMAGE_DELETED_FOLDER : IMAGE_FOLDER);
        const auto child = manager.add_source_item(parent->data.item.source, node.name, parent);
        child->data.item.position = node.first_cluster();
        child->data.item.deleted = deleted;
        manager.add_placeholder(child);
        manager.set_images(child, deleted ? IMAGE_DELETED_FOLDER : IMAGE_FOLDER, IMAGE_FOLDER_SELECTED);
        static_cast<file_item*>(list.data(row))->tree_node = child;
    } else {
        manager.icons.deleted_look = deleted;
        const int image = manager.icons.icon_index(extension_of(node.name));
        list.set_image(row, image != -1 ? image : (deleted ? IMAGE_DELETED_FILE : IMAGE_FILE));
    }
}

}  // namespace

void list_fat_items(kvl_file_item_manager& manager, const fat_items& items,
                    kvl_file_item_manager::handle parent) {
    manager.cancel_requested = false;
    if (!manager.list_view || !parent) return;
    for (const fat_node& node : items.nodes) {
        add_fat_item(manager, node, parent);
        platform::ui().pump->process_pending();
        if (manager.cancel_requested) break;
    }
    manager.columns.sort_on_column(COLUMN_TYPE);
    manager.sort_children(parent);
}

}  // namespace kvl
