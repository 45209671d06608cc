#include "scan/partition_scan.h"

#include <charconv>
#include <cmath>

#include "core/text.h"
#include "ntfs/ntfs_record.h"

namespace kvl {

int32_t partition_scan_start(const std::u16string& text) {
    std::string number = utf16_to_utf8(trim_control(text));
    for (char& c : number)
        if (c == ',') c = '.';
    double value = 0;
    const auto [end, error] = std::from_chars(number.data(), number.data() + number.size(), value);
    if (number.empty() || error != std::errc() || end != number.data() + number.size() ||
        !std::isfinite(value) || value < 0 || value >= 100)
        return -1;
    return static_cast<int32_t>(value * 100);
}

bool partition_scan::check_ntfs(const le_bytes& record, int64_t disk_offset) {
    const int64_t total = record.i64(40);
    if (total < 0) return true;
    disk_storage second;
    second.silent = true;
    if (!disk) return false;
    second.sector_retries = disk->sector_retries;
    if (!second.open(disk->source)) return false;
    const int64_t cluster = int64_t{record.u16(11)} * record.u8(13);
    const int32_t size = record_size_from_boot(record.i8(0x40), cluster);
    int64_t mft = 0;
    std::vector<uint8_t> bytes(static_cast<size_t>(std::max(size, 5)));
    if (size > 0 && !__builtin_mul_overflow(record.i64(0x30), cluster, &mft) &&
        !__builtin_add_overflow(mft, disk_offset, &mft) && second.read_unaligned(mft, bytes.data(), size) &&
        le_bytes(bytes).equals(0, "FILE0"))
        add_hit({disk_offset / record_step, total, FOUND_NTFS});
    second.close();
    return true;
}

bool partition_scan::process_block(int64_t disk_position, int64_t, uint8_t* data, int32_t length) {
    const int32_t step = record_step;
    for (int64_t r = 0; r + step <= length; r += step) {
        const le_bytes record(data + r, static_cast<size_t>(length - r));
        const int64_t d = disk_position + r;
        if (record.u8(3) == 'N') {
            if (record.equals(4, "TFS") && record.equals(0, "\xEB\x52\x90") && !check_ntfs(record, d))
                return false;
            continue;
        }
        const bool jump = record.u8(0) == 0xEB && record.u8(2) == 0x90;
        if (!jump) continue;
        const int64_t small_count = record.u16(19) != 0 ? record.u16(19) : record.u32(32);
        if (record.equals(54, "FAT16")) add_hit({d / step, small_count, FOUND_FAT16});
        if (record.equals(54, "FAT12")) add_hit({d / step, small_count, FOUND_FAT12});
        if (record.equals(82, "FAT32")) add_hit({d / step, record.u32(32), FOUND_FAT32});
    }
    return true;
}

}  // namespace kvl
