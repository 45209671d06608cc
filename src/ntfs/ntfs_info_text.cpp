#include "ntfs/ntfs_info_text.h"

#include <cstdio>

#include "core/format.h"
#include "core/text.h"

namespace kvl {

namespace {

std::u16string line(const std::u16string& text) {
    return text + u"\r\n";
}
std::u16string field(const char16_t* label, int64_t value) {
    return line(label + decimal(value));
}
std::u16string field(const char16_t* label, const std::u16string& value) {
    return line(label + value);
}
std::u16string date(const le_bytes& value, uint64_t at) {
    return format_file_time(value.u64(at));
}

// A name of `units` UTF-16 units at an offset, ending early at a NUL; cut where its bytes end.
std::u16string name_at(const le_bytes& bytes, uint64_t offset, uint64_t units) {
    std::u16string name;
    for (uint64_t i = 0; i < units && bytes.fits(offset + 2 * i, 2); ++i) {
        const char16_t c = static_cast<char16_t>(bytes.u16(offset + 2 * i));
        if (c == 0) break;
        name.push_back(c);
    }
    return name;
}

std::u16string name_line(const std::u16string& name) {
    return line(u"name: \"" + name + u"\"");
}

std::u16string flag_names(uint32_t flags, std::initializer_list<std::pair<uint32_t, const char16_t*>> names) {
    std::u16string text;
    for (const auto& [mask, name] : names)
        if (flags & mask) text += std::u16string(name) + u" ";
    return text;
}

std::u16string run_block(const le_bytes& a, int32_t cluster_size) {
    const std::optional<run_list> runs = decode_runlist(cluster_size, a, nullptr);
    if (!runs) return line(u"Runlist decoding error");
    std::u16string text = line(u"-------------- runlist -------------");
    for (const run& r : *runs) {
        if (r.lcn == LCN_END) break;
        if (r.lcn == LCN_NOT_MAPPED) continue;
        text += line(decimal(r.lcn) + u" (" + decimal(r.length) + u")");
    }
    return text + line(u"------------------------------------");
}

std::u16string value_block(const le_bytes& a) {
    // Read at fixed offsets inside the record image the attribute lies in; what lies outside reads as 0.
    const le_bytes v = a.sub(a.u16(20), a.size() > a.u16(20) ? a.size() - a.u16(20) : 0);
    switch (attribute::type(a)) {
        case AT_STANDARD_INFORMATION: {
            std::u16string t = line(u"") + field(u"creation_time: ", date(v, 0)) +
                               field(u"last_data_change_time: ", date(v, 8)) +
                               field(u"last_mft_change_time: ", date(v, 16)) +
                               field(u"last_access_time: ", date(v, 24)) +
                               field(u"flags: ", attribute_flags_text(v.u32(32)));
            if (a.u32(16) >= 72)
                t += line(u"v3.0+ ") + field(u"maximum_versions: ", v.u32(36)) +
                     field(u"version_number: ", v.u32(40)) + field(u"class_id: ", v.u32(44)) +
                     field(u"owner_id: ", v.u32(48)) + field(u"security_id: ", v.u32(52)) +
                     field(u"quota_charged: ", v.i64(56)) + field(u"usn: ", v.i64(64));
            return t;
        }
        case 0x40:
            return line(u"") + field(u"object_id: ", guid_text(v.sub(0, 16))) +
                   field(u"birth_volume_id: ", guid_text(v.sub(16, 16))) +
                   field(u"birth_object_id: ", guid_text(v.sub(32, 16))) +
                   field(u"domain_id: ", guid_text(v.sub(48, 16)));
        case AT_FILE_NAME:
            return line(u"") + field(u"parent_file_refrence: ", v.u32(0) & 0xFFFFFF) +
                   field(u"created_date_time: ", date(v, 8)) +
                   field(u"last_changed_date_time: ", date(v, 16)) +
                   field(u"last_changed_file_record_date_time: ", date(v, 24)) +
                   field(u"last_access_date_time: ", date(v, 32)) + field(u"space_allocated: ", v.i64(40)) +
                   field(u"size_of_file: ", v.i64(48)) + field(u"flags: ", attribute_flags_text(v.u32(56))) +
                   field(u"filename_length: ", v.u8(64)) + field(u"filename_format: ", v.u8(65)) +
                   name_line(name_at(v, 66, v.u8(64)));
        default:
            return {};
    }
}

}  // namespace

std::u16string attribute_type_name(uint32_t type) {
    switch (type) {
        case 0x00:
            return u"AT_UNUSED";
        case 0x10:
            return u"AT_STANDARD_INFORMATION";
        case 0x20:
            return u"AT_ATTRIBUTE_LIST";
        case 0x30:
            return u"AT_FILENAME";
        case 0x40:
            return u"AT_OBJECT_ID";
        case 0x50:
            return u"AT_SECURITY_DESCRIPTOR";
        case 0x60:
            return u"AT_VOLUME_NAME";
        case 0x70:
            return u"AT_VOLUME_INFORMATION";
        case 0x80:
            return u"AT_DATA";
        case 0x90:
            return u"AT_INDEX_ROOT";
        case 0xA0:
            return u"AT_INDEX_ALLOCATION";
        case 0xB0:
            return u"AT_BITMAP";
        case 0xC0:
            return u"AT_REPARSE_POINT";
        case 0xD0:
            return u"AT_EA_INFORMATION";
        case 0xE0:
            return u"AT_EA";
        case 0xF0:
            return u"AT_PROPERTY_SET";
        case 0x100:
            return u"AT_LOGGED_UTILITY_STREAM";
        case 0xFFFFFFFF:
            return u"AT_END";
        default:
            return u"Unknown";
    }
}

std::u16string attribute_header_flags_text(uint16_t flags) {
    return flag_names(
        flags,
        {{0x0001, u"ATTR_IS_COMPRESSED"}, {0x4000, u"ATTR_IS_ENCRYPTED"}, {0x8000, u"ATTR_IS_SPARSE"}});
}

std::u16string resident_flags_text(uint8_t flags) {
    return flag_names(flags, {{0x01, u"RESIDENT_ATR_IS_INDEXED"}});
}

std::u16string mft_record_flags_text(uint8_t flags) {
    return flag_names(flags, {{0x01, u"MFT_RECORD_IN_USE"}, {0x02, u"MFT_RECORD_IS_DIRECTORY"}});
}

std::u16string guid_text(const le_bytes& bytes) {
    std::string text;
    char digits[3];
    for (uint64_t i = 0; i < 16; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", bytes.u8(i));
        text += digits;
        if (i == 3 || i == 5 || i == 7 || i == 9) text += '-';
    }
    return widen(text);
}

std::u16string item_info_text(const file_item& item, bool for_message_box) {
    return field(u"Type:\t\t\t", item_type_name(item.type)) +
           field(for_message_box ? u"Subtype:\t\t" : u"Subtype:\t\t\t", item_subtype_name(item.subtype)) +
           field(u"ID:\t\t\t", item.position) + field(u"ID2:\t\t\t", item.value2) +
           field(u"ID3:\t\t\t", item.value3) + field(u"Src:\t\t\t", item.source);
}

std::u16string record_header_text(const ntfs_record& record) {
    const le_bytes r = record.bytes();
    return field(u"magic=", r.i32(0)) + field(u"usa_ofs=", r.u16(4)) + field(u"usa_count=", r.u16(6)) +
           field(u"lcn=", r.i64(8)) + field(u"sequence_number=", r.u16(16)) +
           field(u"link_count=", r.u16(18)) + field(u"attrs_offset=", r.u16(20)) +
           field(u"flags=", mft_record_flags_text(r.u8(22))) + field(u"bytes_in_use=", r.u32(24)) +
           field(u"bytes_allocated=", r.u32(28)) + field(u"base_mft_record=", r.i64(32)) +
           field(u"next_attr_instance=", r.u16(40)) + line(u"XP+") + field(u"reserved=", r.u16(42)) +
           field(u"mft_record_number=", r.u32(44));
}

std::u16string attribute_text(const attribute_item& item, int32_t cluster_size) {
    std::u16string text;
    if (!item.list_entry.empty()) {
        const le_bytes& e = item.list_entry;
        text += field(u"type: ", attribute_type_name(e.u32(0))) + field(u"length: ", e.u16(4)) +
                field(u"name_length: ", e.u8(6)) + field(u"name_offset: ", e.u8(7)) +
                field(u"lowest_vcn: ", e.i64(8)) + field(u"mft_refrence: ", e.u32(16) & 0xFFFFFF) +
                field(u"instance: ", e.u16(24));
        const std::u16string name = name_at(e, e.u8(7), e.u8(6));
        if (!name.empty()) text += name_line(name);
        text += line(u"");
    }
    const le_bytes& a = item.header;
    if (a.empty()) return text + line(u"Failed to load additional info. rec_attribute not filled");
    text += field(u"type: ", attribute_type_name(a.u32(0))) + field(u"length: ", a.u32(4)) +
            line(a.u8(8) != 0 ? u"external " : u"internal ") + field(u"name_length: ", a.u8(9)) +
            field(u"name_offset: ", a.u16(10)) + field(u"flags: ", attribute_header_flags_text(a.u16(12))) +
            field(u"instance: ", a.u16(14));
    if (a.u8(8) != 0) {
        text += field(u"lowest_vcn: ", a.i64(16)) + field(u"highest_vcn: ", a.i64(24)) +
                field(u"mapping_pairs_offset: ", a.u16(32)) + field(u"compression_unit: ", a.u8(34)) +
                field(u"allocated_size: ", a.i64(40)) + field(u"data_size: ", a.i64(48)) +
                field(u"initialized_size: ", a.i64(56)) + field(u"compressed_size: ", a.i64(64)) +
                run_block(a, cluster_size);
    } else {
        text += field(u"value_length: ", a.u32(16)) + field(u"value_offset: ", a.u16(20)) +
                field(u"resident_flags: ", resident_flags_text(a.u8(22)));
    }
    const std::u16string name = attribute::name(a);
    if (!name.empty()) text += name_line(name);
    return text + value_block(a);
}

std::u16string attributes_text(const ntfs_attributes& attributes, int32_t cluster_size) {
    std::u16string text;
    for (const auto& item : attributes.items) text += attribute_text(*item, cluster_size) + line(u"");
    return text;
}

}  // namespace kvl
