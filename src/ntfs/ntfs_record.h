#pragma once

#include <cstdint>
#include <span>

#include "core/base.h"
#include "core/le_bytes.h"
#include "core/memory_block.h"
#include "storage/data_chunks.h"
#include "storage/disk_storage.h"

namespace kvl {

inline constexpr uint16_t MFT_RECORD_IN_USE = 0x01;
inline constexpr uint16_t MFT_RECORD_IS_DIRECTORY = 0x02;

// The 48 bits of a file reference that number the record; the top 16 are its sequence number.
inline constexpr uint64_t MFT_REFERENCE_MASK = 0x0000FFFFFFFFFFFFull;

// Bytes of an MFT record by the boot sector's clusters-per-record byte; 0 when the boot sector gives
// no usable size (records are 256 bytes to 64 KiB).
int32_t mft_record_size(const disk_storage& storage);
int32_t record_size_from_boot(int8_t clusters_per_record, int64_t cluster_size);
// The cluster size the boot sector states; 0 when it states none that a volume can have.
int32_t ntfs_cluster_size(const disk_storage& storage);

// Puts back the last two bytes of every 512-byte stretch of a record from its update sequence array.
// Reads and writes stay inside the record. Answers false when the array is not the record's (its
// count is not one per sector plus one, or it lies outside) or a sector's end does not carry the
// update sequence number: a torn or damaged record whose sector ends stay as they were read.
bool apply_fixups(std::span<uint8_t> record);

// One MFT record, fixups applied.
class ntfs_record : public base {
  public:
    bool assign_by_index(disk_storage& source, int64_t index, const data_chunks& mft);
    bool assign_by_offset(disk_storage& source, int64_t byte_offset);

    le_bytes bytes() const { return le_bytes(data.bytes()); }
    uint16_t flags() const { return bytes().u16(22); }

    int64_t offset = 0;
    // The record's number when it was read by number, else -1.
    int64_t record_index = -1;
    memory_block data;
    disk_storage* storage = nullptr;
    data_chunks mft_chunks;
};

}  // namespace kvl
