#include "ntfs/ntfs_record.h"

#include "core/text.h"

namespace kvl {

namespace {

constexpr int32_t min_record_size = 256;
constexpr int32_t max_record_size = 65536;

bool is_file_record(const memory_block& data) {
    return le_bytes(data.bytes()).equals(0, "FILE");
}

}  // namespace

int32_t record_size_from_boot(int8_t clusters_per_record, int64_t cluster_size) {
    int64_t size = 0;
    if (clusters_per_record < 0) {
        if (-clusters_per_record < 8 || -clusters_per_record > 16) return 0;
        size = int64_t{1} << -clusters_per_record;
    } else {
        size = clusters_per_record * cluster_size;
    }
    return size >= min_record_size && size <= max_record_size ? static_cast<int32_t>(size) : 0;
}

int32_t ntfs_cluster_size(const disk_storage& storage) {
    const le_bytes boot(storage.boot_copy.data(), storage.boot_copy.size());
    const uint16_t bytes_per_sector = boot.u16(11);
    const uint8_t code = boot.u8(13);
    if (bytes_per_sector < 256 || bytes_per_sector > 4096 || (bytes_per_sector & (bytes_per_sector - 1)) != 0)
        return 0;
    // Above 0x80 the byte is a negative power of two (clusters of 128 sectors and more).
    if (code > 0x80 && 256 - code > 20) return 0;
    const int64_t sectors = code <= 0x80 ? code : int64_t{1} << (256 - code);
    const int64_t size = sectors * bytes_per_sector;
    return size > 0 && size <= (int64_t{2} << 20) ? static_cast<int32_t>(size) : 0;
}

// The boot sector's own cluster size, so records are sized alike however the storage's sector
// size was found.
int32_t mft_record_size(const disk_storage& storage) {
    const le_bytes boot(storage.boot_copy.data(), storage.boot_copy.size());
    return record_size_from_boot(boot.i8(64), ntfs_cluster_size(storage));
}

bool apply_fixups(std::span<uint8_t> record) {
    const le_bytes view(record);
    const uint16_t count = static_cast<uint16_t>(view.u16(6) - 1);
    const uint64_t array = view.u16(4) & ~1u;
    const int64_t in_use = view.i32(24);
    const uint16_t number = view.u16(array);
    bool sound =
        record.size() < 512 || (count == record.size() / 512 && view.fits(array, 2 * (uint64_t{count} + 1)));
    for (uint64_t i = 1, written = 0; written < count; ++i, ++written) {
        const uint64_t target = 512 * i - 2;
        if (!view.fits(array + 2 * i, 2) || !view.fits(target, 2)) return false;
        if (view.u16(target) != number) sound = false;
        const uint16_t saved = view.u16(array + 2 * i);
        store_u16(record, target, saved);
        if (static_cast<int64_t>(target) > in_use - 256) return sound;
    }
    return sound;
}

bool ntfs_record::assign_by_index(disk_storage& source, int64_t index, const data_chunks& mft) {
    storage = &source;
    mft_chunks = mft;
    const int32_t size = mft_record_size(source);
    if (size == 0 || index < 0 || index > INT64_MAX / size) {
        report_error("ntfs_record::assign_by_index", u"Record " + decimal(index) + u" cannot be addressed");
        return false;
    }
    data.resize(size, 1);
    if (data.size() != size || !stream::read_(source, index * size, data, mft_chunks)) return false;
    if (!is_file_record(data)) {
        report_error("ntfs_record::assign_by_index", u"Not valid signature");
        return false;
    }
    apply_fixups(data.bytes());
    offset = mft_chunks.vcn_to_lcn(index * size);
    record_index = index;
    return true;
}

bool ntfs_record::assign_by_offset(disk_storage& source, int64_t byte_offset) {
    storage = &source;
    mft_chunks = data_chunks();
    const int32_t size = mft_record_size(source);
    if (size == 0) {
        report_error("ntfs_record::assign_by_offset", u"The volume gives no usable record size");
        return false;
    }
    data.resize(size, 1);
    if (data.size() != size || !source.read_unaligned(byte_offset, data.data(), size)) return false;
    if (!is_file_record(data)) {
        report_error("ntfs_record::assign_by_offset", u"Not valid signature");
        return false;
    }
    apply_fixups(data.bytes());
    offset = byte_offset;
    record_index = -1;
    return true;
}

}  // namespace kvl
