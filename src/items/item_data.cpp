#include "config/config.h"
#include "core/message_log.h"
#include "core/text.h"
#include "fat/disk_storage_fat.h"
#include "items/file_item_manager.h"
#include "ntfs/copy_chunks.h"
#include "ntfs/disk_storage_ntfs.h"

namespace kvl {

namespace {

// The size cap of a preview, in bytes (widened: a cap above 2047 MiB stays a cap).
int64_t preview_cap() {
    return int64_t{app_config().get(u"file_recovery_max_size_mb").as_int()} * 1048576;
}

// False when the record cannot be read; `whole` tells whether the extents cover all of the data.
bool ntfs_chunks(disk_storage& storage, const file_item& item, data_chunks& chunks, bool& whole) {
    disk_storage_ntfs volume;
    volume.assign_storage(storage);
    ntfs_record record;
    ntfs_attributes attributes;
    if (!record.assign_by_index(storage, item.position, volume.mft_chunks) || !attributes.load(record, true))
        return false;
    whole = attributes.get_data_chunks(chunks);
    return true;
}

// A FAT file is exactly its entry's size: the size bounds the clusters taken (which lets the
// automatic algorithm take a deleted file's clusters) and cuts the last one.
bool fat_chunks(disk_storage& storage, const file_item& item, bool apply_cap, data_chunks& chunks,
                bool& whole) {
    disk_storage_fat volume;
    if (!volume.assign_storage(storage) || !volume.load_fat(300)) return false;
    if (item.value2 <= 0) return true;  // an empty file has no clusters
    uint32_t limit = NO_CLUSTER_LIMIT;
    if (apply_cap)
        limit = static_cast<uint32_t>(
            std::min<int64_t>(preview_cap() / volume.cluster_size(), NO_CLUSTER_LIMIT - 1));
    const int32_t algorithm = app_config().get(u"fat.recover_algorithm").as_int();
    if (!volume.get_item_chunks(static_cast<uint32_t>(item.position), chunks, item.value2, limit, algorithm,
                                {}))
        return false;
    truncate_chunks(chunks, item.value2);
    const int64_t found = chunks.total_length();
    if (limit == NO_CLUSTER_LIMIT && found < item.value2) {
        log_error("file_item_manager::get_item_data",
                  u"The cluster chain from cluster " + decimal(item.position) + u" ends after " +
                      decimal(found) + u" of the file's " + decimal(item.value2) + u" bytes");
        whole = false;
    }
    return true;
}

// Extents that reach past the end of the volume read as zeros there: the data is not whole.
bool within_volume(disk_storage& storage, const data_chunks& chunks) {
    const int64_t end = storage.size();
    for (const chunk_item& c : chunks.chunks) {
        const int64_t stored = c.stored_length > 0 ? c.stored_length : c.length;
        if (c.offset >= 0 && end >= 0 && (c.offset > end || stored > end - c.offset)) {
            log_error("file_item_manager::get_item_data",
                      u"Part of the data lies beyond the end of the volume (at byte " + decimal(c.offset) +
                          u"); it reads as zeros");
            return false;
        }
    }
    return true;
}

// Tells which bytes of the data lie in sectors that cannot be read (they were written as zeros);
// false when there are any.
bool report_zeros(const byte_ranges& zeros) {
    if (zeros.empty()) return true;
    const std::vector<byte_range> ranges = zeros.all();
    std::u16string list;
    for (size_t i = 0; i < ranges.size() && i < 8; ++i)
        list += (i ? u", " : u"") + decimal(ranges[i].position) + u" to " + decimal(ranges[i].end() - 1);
    if (ranges.size() > 8)
        list += u" and " + decimal(static_cast<int64_t>(ranges.size() - 8)) + u" more ranges";
    log_error("file_item_manager::get_item_data",
              decimal(zeros.total()) +
                  u" bytes of the data lie in sectors that cannot be read and are zeros: bytes " + list);
    return false;
}

}  // namespace

bool file_item_manager::get_item_data(const file_item& item, stream& destination, bool apply_cap) {
    destination.flush();
    data_target_ = &destination;
    target_failed_ = false;
    const bool has_data =
        item.type == FILE_ITEM_TYPE_FILE &&
        (item.subtype == FILE_ITEM_SUBTYPE_NONE || item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER ||
         item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER);
    if (!has_data) return false;
    disk_storage source;
    source.sector_retries = app_config().get(u"storage.sector_retries").as_int();
    if (!source.open(item.source)) return false;
    bool delivered = false;
    if (item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER) {
        ntfs_record record;
        ntfs_attributes attributes;
        const int32_t cap = apply_cap ? app_config().get(u"file_recovery_max_size_mb").as_int() : -1;
        delivered = record.assign_by_offset(source, item.position) && attributes.load(record, false) &&
                    attributes.read_data(destination, cap);
        if (source.has_unreadable()) {
            log_error("file_item_manager::get_item_data",
                      u"Some of the data lies in sectors that cannot be read; it is written as zeros");
            delivered = false;
        }
    } else {
        data_chunks chunks;
        bool found = false;
        bool whole = true;
        if (item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER) {
            chunks = data_chunks(item.position, item.value2);
            found = true;
        } else if (source.fs_type == FILE_SYSTEM_NTFS) {
            found = ntfs_chunks(source, item, chunks, whole);
        } else if (source.fs_type >= FILE_SYSTEM_FAT12 && source.fs_type <= FILE_SYSTEM_FAT32) {
            found = fat_chunks(source, item, apply_cap, chunks, whole);
        }
        if (found && apply_cap) truncate_chunks(chunks, preview_cap());
        if (found && item.subtype != FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER)
            whole = within_volume(source, chunks) && whole;
        const int32_t piece = app_config().get(u"file_recovery_buf_size").as_int();
        if (found && piece <= 0) {
            report_error("file_item_manager::get_item_data",
                         u"The setting file_recovery_buf_size must be at least 1");
        } else if (found) {
            delivered = copy_chunks(source, chunks, piece,
                                    [this](int64_t, int64_t, const uint8_t* data, int32_t length) {
                                        if (data_target_->write(data, length)) return true;
                                        target_failed_ = true;
                                        return false;
                                    }) &&
                        whole;
            if (source.has_unreadable())
                delivered = report_zeros(source.unreadable_data(chunks)) && delivered;
        }
    }
    source.close();
    return delivered && !target_failed_;
}

}  // namespace kvl
