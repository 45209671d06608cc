#include "ntfs/disk_storage_ntfs.h"

#include "core/message_log.h"
#include "core/text.h"

namespace kvl {

bool disk_storage_ntfs::assign_storage(disk_storage& volume) {
    storage = &volume;
    if (volume.fs_type != FILE_SYSTEM_NTFS) return false;
    cluster_size = ntfs_cluster_size(volume);
    const le_bytes boot(volume.boot_copy.data(), volume.boot_copy.size());
    record_size = cluster_size > 0 ? record_size_from_boot(boot.i8(64), cluster_size) : 0;
    // A boot sector that gives no cluster or record size cannot be read as a volume.
    if (cluster_size == 0 || record_size == 0 || mft_record_size(volume) == 0) {
        report_error("disk_storage_ntfs::assign_storage",
                     u"The boot sector gives no usable cluster or MFT record size");
        return false;
    }
    if (!open_record_(0, mft_record)) {
        report_error("disk_storage_ntfs::assign_storage", u"Cannot open $mft record");
        return false;
    }
    mft_attributes.load(mft_record, false);
    const size_t data = mft_attributes.find(AT_DATA, 0, u"dont_care");
    if (data == ntfs_attributes::npos) {
        report_error("disk_storage_ntfs::assign_storage", u"$mft::data attribute is not found");
        return false;
    }
    if (!mft_attributes.get_chunks(*mft_attributes.items[data], mft_chunks, cluster_size)) {
        report_error("disk_storage_ntfs::assign_storage", u"Cannot determine $mft::data chunks");
        return false;
    }
    // The MFT ends where its extents leave the volume or fall into a hole: a damaged run list
    // cannot make it longer than the volume.
    const int64_t end = volume.size();
    for (size_t i = 0; i < mft_chunks.chunks.size(); ++i) {
        const chunk_item& c = mft_chunks.chunks[i];
        if (c.offset < 0 || c.stored_length != 0 || end < 0 || c.offset > end || c.length > end - c.offset) {
            mft_chunks.chunks.resize(i);
            break;
        }
    }
    record_count = mft_chunks.total_length() / record_size;
    return true;
}

bool disk_storage_ntfs::open_record_(int32_t index, ntfs_record& record) {
    const le_bytes boot(storage->boot_copy.data(), storage->boot_copy.size());
    int64_t offset = 0;
    if (__builtin_mul_overflow(boot.i64(48), static_cast<int64_t>(cluster_size), &offset) || offset < 0 ||
        __builtin_add_overflow(offset, static_cast<int64_t>(index) * record_size, &offset))
        return false;
    record.offset = offset;
    record.storage = storage;
    record.mft_chunks = data_chunks();
    record.data.resize(record_size, 1);
    if (!storage->read_unaligned(offset, record.data.data(), record_size)) return false;
    if (!storage->unreadable_in(offset, record_size).empty() && !read_mirror_record(index, record))
        return false;
    if (!le_bytes(record.data.bytes()).equals(0, "FILE")) {
        report_error("disk_storage_ntfs::open_record_", u"Not valid signature");
        return false;
    }
    apply_fixups(record.data.bytes());
    return true;
}

// The first records of the MFT have a copy in $MFTMirr, which is where a damaged disk's $MFT record
// is taken from.
bool disk_storage_ntfs::read_mirror_record(int32_t index, ntfs_record& record) {
    const le_bytes boot(storage->boot_copy.data(), storage->boot_copy.size());
    int64_t offset = 0;
    if (__builtin_mul_overflow(boot.i64(56), static_cast<int64_t>(cluster_size), &offset) || offset < 0 ||
        __builtin_add_overflow(offset, static_cast<int64_t>(index) * record_size, &offset) ||
        !storage->read_unaligned(offset, record.data.data(), record_size) ||
        !storage->unreadable_in(offset, record_size).empty()) {
        report_error("disk_storage_ntfs::read_mirror_record",
                     u"MFT record " + decimal(index) + u" and its copy in $MFTMirr cannot be read");
        return false;
    }
    log_note(u"MFT record " + decimal(index) + u" cannot be read; its copy in $MFTMirr is used");
    return true;
}

}  // namespace kvl
