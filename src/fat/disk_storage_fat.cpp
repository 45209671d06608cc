#include "fat/disk_storage_fat.h"

#include <algorithm>
#include <iterator>
#include <limits>
#include <map>
#include <vector>

#include "core/message_log.h"
#include "core/text.h"

namespace kvl {

namespace {

bool is_fat(int32_t fs_type) {
    return fs_type >= FILE_SYSTEM_FAT12 && fs_type <= FILE_SYSTEM_FAT32;
}

// Clusters of FAT volumes are at most 256 KiB; a boot sector claiming more is damaged.
constexpr int32_t max_cluster_size = 256 * 1024;

}  // namespace

bool disk_storage_fat::assign_storage(disk_storage& volume) {
    if (!is_fat(volume.fs_type)) return false;
    const le_bytes boot(volume.fat_bpb.data(), volume.fat_bpb.size());
    const int32_t bps = boot.u16(11);
    const int32_t spc = boot.u8(13);
    if (bps == 0 || spc == 0 || bps * spc > max_cluster_size) {
        report_error("disk_storage_fat::assign_storage", u"The boot sector gives no usable cluster size (" +
                                                             decimal(bps) + u" bytes per sector, " +
                                                             decimal(spc) + u" sectors per cluster)");
        return false;
    }
    storage = &volume;
    boot_ = boot;
    bytes_per_sector_ = bps;
    sectors_per_cluster_ = spc;
    if (volume.fs_type == FILE_SYSTEM_FAT32)
        first_data_sector_ = int64_t{boot.u32(36)} * boot.u8(16) + boot.u16(14);
    else
        first_data_sector_ =
            int64_t{boot.u16(17)} * 32 / bps + int64_t{boot.u16(22)} * boot.u8(16) + boot.u16(14);
    const int64_t size = volume.size();
    // Reserved sectors, tables or a root folder that reach past the volume leave no data to read: a
    // damaged boot sector, whose "root folder" would be whatever bytes follow.
    if (size >= 0 && first_data_sector_ >= size / bps) {
        report_error("disk_storage_fat::assign_storage",
                     u"The boot sector places the data area past the end of the volume");
        storage = nullptr;
        return false;
    }
    highest_cluster_ = size >= cluster_size() ? offset_to_cluster(size - cluster_size()) : -1;
    table_.resize(1, 1);
    return true;
}

bool disk_storage_fat::load_fat(int32_t sectors_per_read) {
    if (!storage) return false;
    const int64_t sectors = storage->fs_type == FILE_SYSTEM_FAT32 ? boot_.u32(36) : boot_.u16(22);
    // Entries past the volume's last cluster are never read: a damaged size field cannot make the
    // table larger than the volume needs.
    const int64_t needed = (std::max<int64_t>(highest_cluster_, 0) + 2) * 4 + bytes_per_sector_;
    const int64_t bytes =
        std::min({sectors * bytes_per_sector_, needed, int64_t{std::numeric_limits<int32_t>::max() / 2}});
    table_.resize(align_up(static_cast<int32_t>(bytes), bytes_per_sector_), 1);
    const int64_t first = int64_t{boot_.u16(14)} * bytes_per_sector_;
    if (!storage->seek(first, seek_from_start) ||
        !read_in_pieces(*storage, table_.data(), table_.size(), sectors_per_read * bytes_per_sector_))
        return false;
    if (storage->has_unreadable()) mend_from_copies(first, sectors * bytes_per_sector_);
    return true;
}

// A part of the table that cannot be read is taken from the first other copy of the FAT that can
// be read there; without one, the chains through it are lost.
void disk_storage_fat::mend_from_copies(int64_t first, int64_t table_bytes) {
    const int32_t copies = boot_.u8(16);
    for (const byte_range& bad : storage->unreadable_in(first, table_.size())) {
        std::vector<uint8_t> bytes(static_cast<size_t>(bad.length));
        int32_t copy = 1;
        for (; copy < copies; ++copy) {
            const int64_t at = bad.position + copy * table_bytes;
            if (at + bad.length <= storage->size() &&
                storage->read_unaligned(at, bytes.data(), static_cast<int32_t>(bad.length)) &&
                storage->unreadable_in(at, bad.length).empty())
                break;
        }
        const std::u16string where = decimal(bad.length) + u" bytes of the FAT at " + decimal(bad.position);
        if (copy >= copies) {
            report_error("disk_storage_fat::load_fat",
                         where + u" cannot be read in any copy; cluster chains through them are lost");
            continue;
        }
        std::copy(bytes.begin(), bytes.end(), table_.data() + (bad.position - first));
        log_note(where + u" cannot be read; they are taken from copy " + decimal(copy + 1) + u" of the FAT");
    }
}

int64_t disk_storage_fat::fat_entry_count() const {
    switch (storage ? storage->fs_type : -1) {
        case FILE_SYSTEM_FAT12:
            return static_cast<int64_t>(static_cast<double>(table_.size()) * 2 / 3);
        case FILE_SYSTEM_FAT16:
            return table_.size() / 2;
        case FILE_SYSTEM_FAT32:
            return table_.size() / 4;
        default:
            return 0;
    }
}

int32_t disk_storage_fat::get_fat_entry(uint32_t cluster) const {
    if (!storage || cluster > highest_cluster_) return -1;
    const le_bytes table(table_.bytes());
    switch (storage->fs_type) {
        case FILE_SYSTEM_FAT12: {
            const uint64_t at = (uint64_t{cluster} * 3) / 2;
            if (!table.fits(at, 2)) return -1;
            const uint16_t value = table.u16(at);
            return (cluster & 1) ? value >> 4 : value & 0xFFF;
        }
        case FILE_SYSTEM_FAT16:
            return table.fits(uint64_t{cluster} * 2, 2) ? table.u16(uint64_t{cluster} * 2) : -1;
        case FILE_SYSTEM_FAT32:
            // The top four bits are reserved; a chain is the low 28.
            return table.fits(uint64_t{cluster} * 4, 4)
                       ? static_cast<int32_t>(table.u32(uint64_t{cluster} * 4) & 0x0FFFFFFF)
                       : -1;
        default:
            return -1;
    }
}

int64_t disk_storage_fat::cluster_to_offset(int64_t cluster) const {
    return ((cluster - 2) * sectors_per_cluster_ + first_data_sector_) * bytes_per_sector_;
}

int64_t disk_storage_fat::offset_to_cluster(int64_t offset) const {
    return (offset / bytes_per_sector_ - first_data_sector_) / sectors_per_cluster_ + 2;
}

int32_t disk_storage_fat::offset_in_cluster(int64_t offset) const {
    return static_cast<int32_t>(offset - cluster_to_offset(offset_to_cluster(offset)));
}

int64_t disk_storage_fat::root_region_offset() const {
    return (int64_t{boot_.u16(14)} + int64_t{boot_.u8(16)} * boot_.u16(22)) * bytes_per_sector_;
}

int64_t disk_storage_fat::root_region_length() const {
    return int64_t{boot_.u16(17)} * 32;
}

bool disk_storage_fat::is_end_mark(int32_t entry) const {
    switch (storage->fs_type) {
        case FILE_SYSTEM_FAT12:
            return entry == 0xFFF;
        case FILE_SYSTEM_FAT16:
            return entry == 0xFFFF;
        default:
            return entry == 0x0FFFFFFF;
    }
}

uint32_t disk_storage_fat::next_cluster(uint32_t cluster, int32_t algorithm, bool& end) const {
    if (algorithm == FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN) {
        const int32_t entry = get_fat_entry(cluster);
        if (is_end_mark(entry)) end = true;
        return entry == 0 ? cluster + 1 : static_cast<uint32_t>(entry);
    }
    if (algorithm == FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION) {
        for (int64_t c = int64_t{cluster} + 1; c <= highest_cluster_; ++c)
            if (get_fat_entry(static_cast<uint32_t>(c)) == 0) return static_cast<uint32_t>(c);
        end = true;
        return cluster;
    }
    return cluster + 1;
}

bool disk_storage_fat::get_item_chunks(uint32_t start, data_chunks& out, int64_t item_size, uint32_t limit,
                                       int32_t algorithm, const cluster_check& check) {
    out.chunks.clear();
    const int64_t cs = cluster_size();
    const int64_t wanted = cs > 0 && item_size > 0 ? (item_size + cs - 1) / cs : 0;
    if (algorithm == FAT_RECOVER_ALGORITHM_AUTO)
        algorithm = get_fat_entry(start) != 0 ? FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN
                                              : FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION;
    if (algorithm != FAT_RECOVER_ALGORITHM_FOLLOW_CHAIN && wanted == 0 && limit == NO_CLUSTER_LIMIT) {
        report_error(
            "disk_storage_fat::get_item_chunks",
            algorithm == FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION
                ? u" FAT_RECOVER_ALGORITHM_USE_FAT_0_ITERATION : item_size_clusters и max_size_clusters не "
                  u"заданы"
                : u" FAT_RECOVER_ALGORITHM_NOT_USE_FAT : item_size_clusters и max_size_clusters не заданы");
        return false;
    }
    // A chain that loops, or points back into itself, ends after as many steps as the volume has clusters.
    const int64_t steps = std::max<int64_t>(highest_cluster_ - 1, 0);
    std::vector<uint8_t> buffer;
    int64_t c = start;
    for (uint32_t count = 0; c >= 2 && c <= highest_cluster_ && count < limit && count < steps;) {
        if (check) {
            buffer.assign(static_cast<size_t>(cs), 0);
            if (storage->seek(cluster_to_offset(c), seek_from_start))
                storage->read(buffer.data(), static_cast<int32_t>(cs));
            if (!check(buffer.data(), static_cast<int32_t>(cs))) break;
        }
        out.add_chunk({cluster_to_offset(c), cs, 0});
        ++count;
        bool end = false;
        c = next_cluster(static_cast<uint32_t>(c), algorithm, end);
        if (end || (wanted != 0 && count >= wanted)) break;
    }
    merge_extents(out);
    cut_at_repeat(out, start);
    return true;
}

void disk_storage_fat::cut_at_repeat(data_chunks& out, uint32_t start) {
    std::map<int64_t, int64_t> taken;  // extent start -> end
    for (size_t i = 0; i < out.chunks.size(); ++i) {
        const int64_t begin = out.chunks[i].offset;
        const int64_t end = begin + out.chunks[i].length;
        auto after = taken.lower_bound(begin);
        const bool overlaps = (after != taken.end() && after->first < end) ||
                              (after != taken.begin() && std::prev(after)->second > begin);
        if (overlaps) {
            report_error("disk_storage_fat::get_item_chunks",
                         u"The cluster chain from cluster " + decimal(start) +
                             u" comes back to a cluster it passed; it is cut there");
            out.chunks.resize(i);
            return;
        }
        taken.emplace(begin, end);
    }
}

void disk_storage_fat::merge_extents(data_chunks& out) {
    out.progress.start(u"Analyzing chunks", static_cast<int64_t>(out.chunks.size()));
    std::vector<chunk_item> merged;
    for (size_t i = 0; i < out.chunks.size(); ++i) {
        const chunk_item& next = out.chunks[i];
        if (!merged.empty() && merged.back().stored_length == 0 && next.stored_length == 0 &&
            merged.back().offset + merged.back().length == next.offset)
            merged.back().length += next.length;
        else
            merged.push_back(next);
        out.progress.step(1);
        if (out.progress.cancelled) {
            merged.insert(merged.end(), out.chunks.begin() + static_cast<std::ptrdiff_t>(i) + 1,
                          out.chunks.end());
            break;
        }
    }
    out.chunks = std::move(merged);
}

}  // namespace kvl
