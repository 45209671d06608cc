#include "storage/partition_table.h"

#include <set>
#include <vector>

#include "core/le_bytes.h"
#include "core/text.h"
#include "storage/disk_storage.h"

namespace kvl {

bool is_container_type(uint8_t type) {
    return type == 0x05 || type == 0x0F;
}

std::u16string partition_type_name(uint8_t type) {
    switch (type) {
        case 0x00:
            return u"Empty";
        case 0x01:
            return u"FAT12 (CHS)";
        case 0x04:
            return u"FAT16 [16-32 Mb] (CHS)";
        case 0x05:
            return u"EMP (CHS)";
        case 0x06:
            return u"FAT16 [32 Mb - 2 Gb] (CHS)";
        case 0x07:
            return u"NTFS";
        case 0x0B:
            return u"FAT32 (CHS)";
        case 0x0C:
            return u"FAT32 (LBA)";
        case 0x0E:
            return u"FAT16 [32 Mb - 2 Gb] (LBA)";
        case 0x0F:
            return u"EMP (LBA)";
        case 0x11:
            return u"Hidden FAT12 (CHS)";
        case 0x14:
            return u"Hidden FAT16 [16 Mb - 32 Mb] (CHS)";
        case 0x16:
            return u"Hidden FAT16 [32 Mb - 2 Gb] (CHS)";
        case 0x1B:
            return u"Hidden FAT32 (CHS)";
        case 0x1C:
            return u"Hidden FAT32 (LBA)";
        case 0x1E:
            return u"Hidden FAT16 [32 Mb - 2 Gb] (LBA)";
        case 0x42:
            return u"MMBR dynamical disk";
        default:
            return u"Unknown";
    }
}

namespace {

constexpr size_t table_offset = 446;
constexpr size_t entry_size = 16;

partition_entry entry_at(const le_bytes& sector, size_t slot) {
    const size_t at = table_offset + slot * entry_size;
    return {sector.u8(at), sector.u8(at + 4), sector.u32(at + 8), sector.u32(at + 12)};
}

}  // namespace

// Logical partitions are found by following each boot record's link entry, whose first sector is
// relative to the start of the extended partition, so free space between logical partitions does
// not hide the ones after it. The walk ends at the end of the list, at an empty link, and when a
// link leads back to a boot record already read.
bool disk_storage::get_partition_list(partition_list& list) {
    const int32_t s = sector_size;
    std::vector<uint8_t> sector(static_cast<size_t>(s));
    if (s < 512 || !seek(0, seek_from_start) || !read(sector.data(), s)) return false;
    const le_bytes mbr(sector);
    for (size_t slot = 0; slot < 4; ++slot) list[slot] = entry_at(mbr, slot);
    if (mbr.u16(510) != 0xAA55) {
        report_error("disk_storage::get_partition_list", u"Not valid MBR signature");
        return false;
    }
    const partition_entry* container = nullptr;
    for (size_t slot = 0; slot < 4 && !container; ++slot)
        if (is_container_type(list[slot].type)) container = &list[slot];
    if (!container) return true;

    const uint64_t extended_start = container->first_sector;
    uint64_t record = extended_start;
    std::set<uint64_t> visited;
    for (size_t k = 4; k + 1 < list.size(); ++k) {
        if (!visited.insert(record).second) {
            report_error("disk_storage::get_partition_list",
                         u"The chain of extended boot records comes back to sector " +
                             decimal(static_cast<int64_t>(record)) + u"; it ends there");
            return true;
        }
        std::fill(sector.begin(), sector.end(), 0);
        // An unreadable boot record ends the chain; the partitions found before it stay listed.
        if (record > static_cast<uint64_t>(INT64_MAX / s) || !seek_sector(static_cast<int64_t>(record)) ||
            !read(sector.data(), s)) {
            report_error("disk_storage::get_partition_list", u"The extended boot record at sector " +
                                                                 decimal(static_cast<int64_t>(record)) +
                                                                 u" cannot be read; the chain ends there");
            return true;
        }
        const le_bytes ebr(sector);
        list[k] = entry_at(ebr, 0);
        list[k + 1] = entry_at(ebr, 1);
        list[k].first_sector += record;
        if (list[k + 1].type == PARTITION_TYPE_EMPTY) return true;
        record = extended_start + list[k + 1].first_sector;
    }
    return true;
}

}  // namespace kvl
