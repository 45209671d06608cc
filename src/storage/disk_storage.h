#pragma once

#include <array>
#include <string>
#include <vector>

#include "core/byte_ranges.h"
#include "platform/image_output.h"
#include "storage/data_chunks.h"
#include "storage/file_stream.h"
#include "storage/partition_table.h"

namespace kvl {

inline constexpr int32_t FILE_SYSTEM_RAW = 0;
inline constexpr int32_t FILE_SYSTEM_FAT12 = 1;
inline constexpr int32_t FILE_SYSTEM_FAT16 = 2;
inline constexpr int32_t FILE_SYSTEM_FAT32 = 3;
inline constexpr int32_t FILE_SYSTEM_NTFS = 4;

inline constexpr int32_t STORAGE_KIND_FILE = 0;
inline constexpr int32_t STORAGE_KIND_VOLUME = 1;
inline constexpr int32_t STORAGE_KIND_DRIVE = 2;

// What a source text names before anything is opened.
struct source_name {
    bool valid = false;
    std::u16string device;  // the file or device to open
    int32_t kind = STORAGE_KIND_FILE;
    int64_t start_sector = 0;
};

// Source texts: "C:" (a drive letter, which Linux does not have), "N" (physical drive N) or
// "N S" (drive N from sector S), a path of an image or block device, or such a path + "#" + S
// (the partition at sector S of a disk image).
source_name parse_source(const std::u16string& source);

// The source text of the volume at a sector of a drive ("N S") or of a disk image ("path#S").
std::u16string partition_source(const std::u16string& disk_source, uint64_t first_sector);

// A source opened for reading: its alignment is the sector size and position 0 is the first byte
// of the partition or volume. It is opened read-only and never written.
//
// Reads go on through bad sectors: a read that fails is tried again in smaller pieces down to
// single sectors, and what stays unreadable reads as zeros, is reported once and is remembered, so
// that a sector that failed is not read again while the source is open.
class disk_storage : public file_stream {
  public:
    bool open(const std::u16string& source);
    void close();
    // total_sectors x sector_size; -1 when the size is unknown.
    int64_t size() override;
    // Every byte of the source: for an image file its whole length, a last part sector included.
    int64_t byte_size();
    bool read(uint8_t* data, int32_t size) override;
    bool seek(int64_t offset, int32_t mode) override;
    int64_t get_pos() override { return position_; }
    // One attempt at the bytes at a position, with no retries and no zeros put in: false when the
    // read fails. For copying a failing disk, which chooses itself what to read again.
    bool read_once(int64_t position, uint8_t* data, int32_t size);

    // The parts of [position, position + length) found unreadable so far.
    std::vector<byte_range> unreadable_in(int64_t position, int64_t length) const;
    bool has_unreadable() const { return !unreadable_.empty(); }
    // The positions in the data of chunks that lie on unreadable bytes (a compressed unit counts
    // whole: it cannot be decoded without all of its bytes).
    byte_ranges unreadable_data(const data_chunks& chunks) const;
    // The size of the sectors the device reads, the smallest piece that can fail.
    int32_t device_sector_size() const { return device_sector_; }

    bool seek_sector(int64_t sector);
    int32_t detect_file_system() const;
    int64_t detect_storage_size_sectors();
    bool get_partition_list(partition_list& list);
    // An image whose first sector is a partition table rather than a volume's boot sector.
    bool is_disk_image() const;
    // Copies the whole storage into an image file (see image_copy), through bad sectors.
    bool save_image(const std::u16string& file_name, platform::output_mode mode);

    int64_t start_sector = 0;
    std::vector<uint8_t> boot_sector;
    std::array<uint8_t, 52> fat_bpb{};
    std::array<uint8_t, 84> boot_copy{};
    std::u16string source;
    int32_t kind = STORAGE_KIND_FILE;
    int32_t fs_type = -1;
    int32_t sector_size = 0;
    int64_t total_sectors = 0;
    // How many more times a sector that failed is read before it is given up.
    int32_t sector_retries = 1;

  private:
    void read_salvaging(int64_t at, uint8_t* data, int64_t length, byte_ranges& lost);
    void read_sector(int64_t at, uint8_t* data, int64_t length, byte_ranges& lost);
    void report_unreadable(const byte_ranges& lost);
    int32_t probe_sector_size();
    int64_t drive_geometry_sectors();
    bool fail_open(const char16_t* message);

    byte_ranges unreadable_;  // absolute offsets on the device
    int64_t position_ = 0;    // of the next read, from base_offset
    int32_t device_sector_ = 512;
};

}  // namespace kvl
