#include "storage/disk_storage.h"

#include <algorithm>
#include <limits>

#include "core/le_bytes.h"
#include "core/text.h"
#include "platform/source_reader.h"
#include "platform/storage_devices.h"
#include "storage/data_chunks.h"
#include "storage/image_copy.h"

namespace kvl {

namespace {

// A run of decimal digits as a non-negative number; false for anything else or an overflow.
bool parse_count(std::u16string_view text, int64_t& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char16_t c : text) {
        if (c < u'0' || c > u'9') return false;
        value = value * 10 + (c - u'0');
    }
    return true;
}

bool is_drive_letter(const std::u16string& s) {
    return s.size() == 2 && s[1] == u':' &&
           ((s[0] >= u'A' && s[0] <= u'Z') || (s[0] >= u'a' && s[0] <= u'z'));
}

source_name drive_source(const std::u16string& source) {
    const size_t blank = source.find(u' ');
    int64_t number = 0;
    int64_t start = 0;
    if (!parse_count(source.substr(0, blank), number)) return {};
    if (blank != std::u16string::npos && !parse_count(source.substr(blank + 1), start)) return {};
    const std::vector<std::u16string> drives = platform::devices().drives();
    // A drive the system does not have opens nothing, which reports "Cannot open partition".
    std::u16string device =
        number < static_cast<int64_t>(drives.size()) ? drives[static_cast<size_t>(number)] : u"";
    return {true, device, STORAGE_KIND_DRIVE, start};
}

int32_t kind_of(const std::u16string& path) {
    switch (platform::devices().kind_of(path)) {
        case platform::path_kind::whole_disk:
            return STORAGE_KIND_DRIVE;
        case platform::path_kind::volume:
            return STORAGE_KIND_VOLUME;
        default:
            return STORAGE_KIND_FILE;
    }
}

// A sector size a boot sector may sensibly claim.
bool is_sector_size(uint32_t bytes) {
    return bytes >= 512 && bytes <= 4096 && (bytes & (bytes - 1)) == 0;
}

}  // namespace

source_name parse_source(const std::u16string& source) {
    if (source.empty()) return {};
    if (is_drive_letter(source)) return {true, source, STORAGE_KIND_VOLUME, 0};
    if (source[0] >= u'0' && source[0] <= u'9') {
        const source_name drive = drive_source(source);
        if (drive.valid) return drive;
    }
    // "path#S": a partition of a disk image, unless the whole text names an existing file.
    const size_t hash = source.rfind(u'#');
    int64_t start = 0;
    if (hash != std::u16string::npos && parse_count(source.substr(hash + 1), start) &&
        platform::devices().kind_of(source) == platform::path_kind::missing) {
        const std::u16string path = source.substr(0, hash);
        return {true, path, kind_of(path), start};
    }
    return {true, source, kind_of(source), 0};
}

std::u16string partition_source(const std::u16string& disk_source, uint64_t first_sector) {
    const bool drive_number = !disk_source.empty() && disk_source[0] >= u'0' && disk_source[0] <= u'9' &&
                              parse_source(disk_source).kind == STORAGE_KIND_DRIVE;
    return disk_source + (drive_number ? u" " : u"#") + decimal(static_cast<int64_t>(first_sector));
}

bool disk_storage::save_image(const std::u16string& file_name, platform::output_mode mode) {
    image_copy copy(*this, utf16_to_utf8(file_name));
    return copy.run(mode);
}

bool disk_storage::fail_open(const char16_t* message) {
    report_error("disk_storage::open", message);
    if (is_open()) file_stream::close();
    fs_type = -1;
    return false;
}

bool disk_storage::open(const std::u16string& text) {
    const source_name name = parse_source(text);
    if (!name.valid) return fail_open(u"Invalid source");
    unreadable_ = {};
    start_sector = name.start_sector;
    kind = name.kind;
    source = text;
    if (name.device.empty() || !file_stream::open(name.device, platform::open_access::read_only))
        return fail_open(u"Cannot open partition");
    base_offset = 0;
    sector_size = probe_sector_size();
    if (sector_size == 0) return fail_open(u"Cannot open partition");
    // The probe reads quietly; a boot sector that could not be read is still the user's to know.
    if (!unreadable_.empty())
        report_error("disk_storage::open",
                     u"The first sector cannot be read; it reads as zeros, so the source's kind and size may "
                     u"be unknown");
    if (__builtin_mul_overflow(start_sector, static_cast<int64_t>(sector_size), &base_offset))
        return fail_open(u"Cannot seek to partition");
    if (!seek_sector(0)) return fail_open(u"Cannot seek to partition");
    fs_type = detect_file_system();
    if (fs_type != FILE_SYSTEM_RAW) std::copy_n(boot_sector.begin(), boot_copy.size(), boot_copy.begin());
    if (fs_type >= FILE_SYSTEM_FAT12 && fs_type <= FILE_SYSTEM_FAT32)
        std::copy_n(boot_sector.begin(), fat_bpb.size(), fat_bpb.begin());
    total_sectors = detect_storage_size_sectors();
    if (total_sectors == 0) return fail_open(u"Storage is too small");
    alignment = sector_size;
    return true;
}

void disk_storage::close() {
    file_stream::close();
    fs_type = -1;
    unreadable_ = {};
}

int64_t disk_storage::byte_size() {
    return kind == STORAGE_KIND_FILE && start_sector == 0 && total_sectors >= 0 ? file_stream::size()
                                                                                : size();
}

bool disk_storage::read(uint8_t* data, int32_t size) {
    if (size < 0 || !is_aligned(size, alignment)) {
        report_error("disk_storage::read",
                     u"Size " + decimal(size) + u" is not " + decimal(alignment) + u" aligned");
        return false;
    }
    byte_ranges lost;
    read_salvaging(position_ + base_offset, data, size, lost);
    report_unreadable(lost);
    position_ += size;
    return true;
}

// Reads are positioned (pread), so the position is kept here rather than in the descriptor: a seek
// and a read cost one call each, as they did before reads went on through bad sectors.
bool disk_storage::seek(int64_t offset, int32_t mode) {
    int64_t target = offset;
    if (mode != seek_from_start && __builtin_add_overflow(position_, offset, &target)) return false;
    if (!file_stream::seek(target, seek_from_start)) return false;
    position_ = target;
    return true;
}

bool disk_storage::read_once(int64_t position, uint8_t* data, int32_t size) {
    const int64_t got = platform::reader().read_at(file(), position + base_offset, data, size);
    if (got < 0) return false;
    std::fill(data + got, data + size, 0);
    return true;
}

// Halves a failed read down to single sectors, so that the sectors around a bad one are still read.
void disk_storage::read_salvaging(int64_t at, uint8_t* data, int64_t length, byte_ranges& lost) {
    const int64_t unit = device_sector_;
    if (length <= unit) {
        read_sector(at, data, length, lost);
        return;
    }
    if (!unreadable_.intersects(at, length)) {
        const int64_t got = platform::reader().read_at(file(), at, data, length);
        if (got >= 0) {
            std::fill(data + got, data + length, 0);  // past the end of the source
            return;
        }
    }
    const int64_t half = (length / unit + 1) / 2 * unit;
    read_salvaging(at, data, half, lost);
    read_salvaging(at + half, data + half, length - half, lost);
}

void disk_storage::read_sector(int64_t at, uint8_t* data, int64_t length, byte_ranges& lost) {
    const int32_t attempts = 1 + std::clamp(sector_retries, 0, 64);
    for (int32_t attempt = 0; !unreadable_.intersects(at, length) && attempt < attempts; ++attempt) {
        const int64_t got = platform::reader().read_at(file(), at, data, length);
        if (got >= 0) {
            std::fill(data + got, data + length, 0);
            return;
        }
    }
    std::fill(data, data + length, 0);
    if (!unreadable_.intersects(at, length)) lost.add(at, length);
    unreadable_.add(at, length);
}

void disk_storage::report_unreadable(const byte_ranges& lost) {
    for (const byte_range& area : lost.all())
        report_error("disk_storage::read", decimal(area.length) + u" bytes at " +
                                               decimal(area.position - base_offset) +
                                               u" cannot be read; read as zeros");
}

std::vector<byte_range> disk_storage::unreadable_in(int64_t position, int64_t length) const {
    std::vector<byte_range> areas = unreadable_.within(position + base_offset, length);
    for (byte_range& area : areas) area.position -= base_offset;
    return areas;
}

byte_ranges disk_storage::unreadable_data(const data_chunks& chunks) const {
    byte_ranges zeros;
    int64_t data_position = 0;
    for (const chunk_item& chunk : chunks.chunks) {
        const int64_t length = std::max<int64_t>(chunk.length, 0);
        if (chunk.offset >= 0) {
            const bool unit = chunk.stored_length > 0;
            for (const byte_range& bad : unreadable_in(chunk.offset, unit ? chunk.stored_length : length)) {
                if (unit)
                    zeros.add(data_position, length);
                else
                    zeros.add(data_position + bad.position - chunk.offset, bad.length);
            }
        }
        if (__builtin_add_overflow(data_position, length, &data_position)) break;
    }
    return zeros;
}

int64_t disk_storage::size() {
    if (total_sectors < 0) return -1;
    int64_t bytes = 0;
    return __builtin_mul_overflow(total_sectors, static_cast<int64_t>(sector_size), &bytes) ? -1 : bytes;
}

// The kernel knows a device's logical sector size, and an image file has 512-byte sectors; the
// first sector is read here into boot_sector.
int32_t disk_storage::probe_sector_size() {
    const int32_t size = platform::devices().sector_size(file(), path());
    if (size <= 0) return 0;
    device_sector_ = size;
    boot_sector.assign(static_cast<size_t>(std::max(size, 512)), 0);
    alignment = size;
    scoped_silence quiet(*this);
    int64_t offset = 0;
    if (__builtin_mul_overflow(start_sector, static_cast<int64_t>(size), &offset)) return 0;
    if (!seek(offset, seek_from_start) || !read(boot_sector.data(), size)) return 0;
    return size;
}

bool disk_storage::seek_sector(int64_t sector) {
    int64_t offset = 0;
    if (__builtin_mul_overflow(sector, static_cast<int64_t>(sector_size), &offset)) {
        report_error("disk_storage::seek_sector", u"Sector " + decimal(sector) + u" is out of range");
        return false;
    }
    return seek(offset, seek_from_start);
}

int32_t disk_storage::detect_file_system() const {
    const le_bytes first(boot_sector);
    if (first.equals(3, "NTFS")) return FILE_SYSTEM_NTFS;
    if (first.equals(54, "FAT12")) return FILE_SYSTEM_FAT12;
    if (first.equals(54, "FAT16")) return FILE_SYSTEM_FAT16;
    if (first.equals(82, "FAT32")) return FILE_SYSTEM_FAT32;
    return FILE_SYSTEM_RAW;
}

int64_t disk_storage::detect_storage_size_sectors() {
    const le_bytes boot(boot_sector);
    if (kind == STORAGE_KIND_DRIVE && start_sector == 0) {
        const int64_t sectors = drive_geometry_sectors();
        if (sectors < 0)
            report_error("disk_storage::detect_storage_size_sectors", u"Cannot detect physical drive size");
        return sectors;
    }
    if (kind == STORAGE_KIND_FILE && start_sector == 0) {
        const int64_t bytes = file_stream::size();
        return bytes < 0 ? -1 : bytes / sector_size;
    }
    // A volume or partition: the sizes its own boot sector states. A bytes-per-sector field that no
    // volume can have (0, 3, 65535) leaves the device's sector size in force.
    int64_t sectors = -1;
    if (fs_type >= FILE_SYSTEM_FAT12 && fs_type <= FILE_SYSTEM_FAT32)
        sectors = boot.u16(19) != 0 ? boot.u16(19) : boot.u32(32);
    else if (fs_type == FILE_SYSTEM_NTFS)
        sectors = boot.i64(40);
    if (sectors < 0) {
        report_error("disk_storage::detect_storage_size_sectors", u"Cannot detect partition size");
        return -1;
    }
    if (is_sector_size(boot.u16(11))) sector_size = boot.u16(11);
    // A boot sector may claim more than the device or image holds: the size is what is there.
    const int64_t bytes = file_stream::size();
    if (bytes >= 0 && sectors > (bytes - std::min(bytes, base_offset)) / sector_size)
        sectors = (bytes - std::min(bytes, base_offset)) / sector_size;
    return sectors;
}

int64_t disk_storage::drive_geometry_sectors() {
    const int32_t size = platform::devices().sector_size(file(), path());
    const int64_t bytes = platform::devices().drive_size(file(), path());
    if (size <= 0 || bytes < 0) return -1;
    sector_size = size;
    return bytes / size;
}

bool disk_storage::is_disk_image() const {
    const le_bytes first(boot_sector);
    return kind == STORAGE_KIND_FILE && start_sector == 0 && fs_type == FILE_SYSTEM_RAW &&
           first.u16(510) == 0xAA55;
}

}  // namespace kvl
