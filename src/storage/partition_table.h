#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kvl {

// One entry of the MBR or of an extended boot record; first_sector is absolute from the start of
// the disk once the list is filled.
struct partition_entry {
    uint8_t boot_indicator = 0;
    uint8_t type = 0;
    uint64_t first_sector = 0;
    uint32_t sectors = 0;
};

// Entries 0-3 are the primary slots, 4 and up the logical partitions in chain order.
using partition_list = std::array<partition_entry, 20>;

inline constexpr uint8_t PARTITION_TYPE_EMPTY = 0x00;

// The extended partitions whose chain of boot records holds logical partitions.
bool is_container_type(uint8_t type);
std::u16string partition_type_name(uint8_t type);

}  // namespace kvl
