#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "core/base.h"
#include "core/le_bytes.h"
#include "ntfs/ntfs_record.h"
#include "storage/data_chunks.h"
#include "storage/memory_stream.h"

namespace kvl {

inline constexpr uint32_t AT_STANDARD_INFORMATION = 0x10;
inline constexpr uint32_t AT_ATTRIBUTE_LIST = 0x20;
inline constexpr uint32_t AT_FILE_NAME = 0x30;
inline constexpr uint32_t AT_DATA = 0x80;
inline constexpr uint32_t AT_END = 0xFFFFFFFF;

// Attribute header flags.
inline constexpr uint16_t ATTR_IS_COMPRESSED = 0x0001;

// Run-list elements: first cluster in the value, first cluster on the volume (or one of the special
// values below) and length in clusters.
inline constexpr int64_t LCN_HOLE = -1;
inline constexpr int64_t LCN_NOT_MAPPED = -2;
inline constexpr int64_t LCN_END = -3;

struct run {
    int64_t vcn = 0;
    int64_t lcn = 0;
    int64_t length = 0;
    bool operator==(const run&) const = default;
};
using run_list = std::vector<run>;

// Fields of an attribute header, read from its bytes.
namespace attribute {
inline uint32_t type(const le_bytes& a) {
    return a.u32(0);
}
inline uint32_t length(const le_bytes& a) {
    return a.u32(4);
}
inline bool is_resident(const le_bytes& a) {
    return a.u8(8) == 0;
}
inline uint16_t instance(const le_bytes& a) {
    return a.u16(14);
}
inline int64_t lowest_vcn(const le_bytes& a) {
    return is_resident(a) ? 0 : a.i64(16);
}
inline int64_t highest_vcn(const le_bytes& a) {
    return a.i64(24);
}
inline int64_t data_size(const le_bytes& a) {
    return a.i64(48);
}
inline int64_t initialized_size(const le_bytes& a) {
    return a.i64(56);
}
std::u16string name(const le_bytes& a);
// A resident attribute's value, or nothing when it does not lie inside the attribute.
le_bytes value(const le_bytes& a);
}  // namespace attribute

// Walks the attributes of a record in order, each one whole inside the record and inside the bytes
// in use; the callback gets the attribute's position and bytes and answers whether to go on.
// Answers false when the attributes break off before the end marker (a damaged record).
template <typename Callback>
bool walk_attributes(const le_bytes& record, Callback&& callback) {
    int64_t remaining = record.i32(24);
    uint64_t position = record.u16(20);
    while (remaining > 0 && record.fits(position, 16)) {
        const le_bytes header = record.sub(position, record.size() - position);
        if (attribute::type(header) == AT_END) return true;
        const uint32_t length = attribute::length(header);
        if (length < 16 || length > remaining || !record.fits(position, length)) return false;
        if (!callback(static_cast<uint32_t>(position), record.sub(position, length))) return true;
        remaining -= length;
        position += length;
    }
    return record.fits(position, 4) && record.u32(position) == AT_END;
}

// What is wrong with a record's structure, or "" for a sound one: bytes in use past the record,
// attributes that break off, file names reaching past their values.
std::u16string record_damage(const le_bytes& record);

// The value of the first resident attribute of a type, or nothing.
le_bytes find_resident_attribute(const le_bytes& record, uint32_t type);
le_bytes find_attribute_by_position(const le_bytes& record, uint32_t n);

std::optional<run_list> decode_runlist(int32_t cluster_size, const le_bytes& attribute,
                                       const run_list* previous);
std::optional<run_list> merge_runlists(const run_list& previous, const run_list& fresh);
bool runs_to_chunks(const le_bytes& first, const run_list& runs, data_chunks& out, int32_t cluster_size);
// Patches that put the restored sector-end bytes of a record back into a resident value read raw.
void resident_patches(const le_bytes& record, uint64_t value_start, uint64_t value_length, data_chunks& out);

// One attribute of a loaded record, found directly or through its $ATTRIBUTE_LIST.
struct attribute_item {
    le_bytes header;  // empty when a list entry named no attribute
    le_bytes record;  // the record bytes it lies in
    uint64_t position = 0;
    int64_t record_offset = 0;  // where that record lies on the storage
    le_bytes list_entry;        // empty for an attribute of the loaded record itself
    memory_stream* list_stream = nullptr;
    std::shared_ptr<const std::vector<uint8_t>> holder;  // the extension record that holds the attribute
};

// The attributes of one MFT record. Valid only while the record it was loaded from lives unchanged.
class ntfs_attributes : public base {
  public:
    static constexpr size_t npos = static_cast<size_t>(-1);

    bool load(ntfs_record& source, bool follow_lists);
    // The first attribute of the type with that lowest VCN (0: any) and name ("dont_care": any).
    size_t find(uint32_t type, int64_t lowest_vcn, const std::u16string& name) const;
    bool get_chunks(const attribute_item& item, data_chunks& out, int32_t cluster_size);
    // The extents of the unnamed $DATA across all its extents, cut at the file's size.
    bool get_data_chunks(data_chunks& out);
    // Copies the unnamed $DATA into destination; cap in mebibytes, -1 for none.
    bool read_data(stream& destination, int32_t cap_mb);

    ntfs_record* record = nullptr;
    std::vector<std::unique_ptr<attribute_item>> items;
    std::vector<std::unique_ptr<memory_stream>> list_streams;

  private:
    void follow_list(const attribute_item& list);
    int32_t cluster_size() const;
    // The record's number: as read, else as its header states.
    int64_t record_number() const;
};

}  // namespace kvl
