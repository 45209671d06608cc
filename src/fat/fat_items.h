#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "core/le_bytes.h"
#include "items/kvl_file_item_manager.h"
#include "storage/memory_stream.h"

namespace kvl {

// One directory entry as read, and its name once decoded.
struct fat_node {
    std::array<uint8_t, 32> raw{};
    std::u16string name;

    le_bytes bytes() const { return le_bytes(raw.data(), raw.size()); }
    bool is_directory() const { return (raw[11] & 0x10) != 0; }
    bool is_deleted() const { return raw[0] == 0xE5; }
    // The first cluster, signed as the items carry it.
    int32_t first_cluster() const {
        return static_cast<int32_t>(uint32_t{bytes().u16(20)} << 16 | bytes().u16(26));
    }
    uint32_t file_size() const { return bytes().u32(28); }
};

// The entries of one directory, long names assembled, deleted entries kept, dot and free entries
// dropped.
class fat_items {
  public:
    void parse(memory_stream& directory, uint32_t entry_offset);
    std::vector<fat_node> nodes;
};

// "dd.mm.yyyy hh:mm:ss" of a DOS date and time, taken as they are (no time-zone shift); "" for a
// date the calendar has not.
std::u16string dos_date_time_text(uint16_t date, uint16_t time);

// Lists the entries into the file list, folders also as tree nodes under parent.
void list_fat_items(kvl_file_item_manager& manager, const fat_items& items,
                    kvl_file_item_manager::handle parent);

}  // namespace kvl
