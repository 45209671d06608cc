#pragma once

#include <cstdint>
#include <string>

#include "items/file_item.h"
#include "ntfs/ntfs_attributes.h"
#include "ntfs/ntfs_record.h"

// The texts of the item information: the item's fields, its MFT record's header and every
// attribute with its run list and decoded values. Every line ends in CR LF.
namespace kvl {

std::u16string item_info_text(const file_item& item, bool for_message_box);
std::u16string record_header_text(const ntfs_record& record);
std::u16string attributes_text(const ntfs_attributes& attributes, int32_t cluster_size);
std::u16string attribute_text(const attribute_item& item, int32_t cluster_size);

std::u16string attribute_type_name(uint32_t type);
std::u16string attribute_header_flags_text(uint16_t flags);
std::u16string resident_flags_text(uint8_t flags);
std::u16string mft_record_flags_text(uint8_t flags);
std::u16string guid_text(const le_bytes& bytes);

}  // namespace kvl
