#pragma once

#include <boost/regex.hpp>
#include <string>
#include <vector>

#include "core/base.h"
#include "core/memory_block.h"
#include "platform/list_control.h"

namespace kvl {

// The literal bytes a regular expression (Perl syntax) must begin with; "" when it has none or
// when an alternation, an option or a quantifier makes the beginning uncertain.
std::string regex_literal_prefix(const std::string& expression);

// One file-format definition of "formats.txt": description;extension;signature;offset;;;0;;group.
// The signature is hexadecimal bytes or "%" and a regular expression over the raw bytes.
class xfs_node : public base {
  public:
    // Parses one definition line; a line that cannot be parsed is reported and matches nothing.
    xfs_node& operator=(const std::u16string& line);
    // Decodes the signature text; false when the definition can never match.
    bool prepare_signature();
    // Whether data, taken as starting at a record boundary, holds this format's signature.
    bool matches(const uint8_t* data, int32_t length) const;
    // The byte every match has at the offset, or -1 when there is none: a cheap first test.
    int first_byte() const { return first_byte_; }

    bool selected = false;
    std::u16string description;
    std::u16string extension;
    std::u16string signature_text;
    int32_t offset = 0;
    std::u16string reserved_text_1;
    std::u16string reserved_text_2;
    int32_t reserved_number = 0;
    std::u16string reserved_text_3;
    std::u16string group;
    memory_block signature_bytes;
    boost::regex pattern;
    bool is_bytes = true;
    platform::list_row* dialog_row = nullptr;

  private:
    bool matches_pattern(const uint8_t* data, int32_t length) const;

    // Bytes every match of the expression begins with, when it begins with literals: a record that
    // lacks them is passed over without running the expression.
    std::string literal_prefix_;
    int first_byte_ = -1;
    // False until the line parsed and its signature decoded in full; such a format matches nothing.
    bool usable_ = false;
    mutable bool complexity_reported_ = false;
};

// The definitions in file order; a definition's index is the format's number.
class xfs_nodes : public base {
  public:
    bool load_from_file(const std::u16string& path);
    // Replaces the definitions with those of the text of a definitions file.
    void load_from_text(std::u16string text);
    // The numbers of the formats the ";"-separated extensions name; each unknown one is reported.
    void select(const std::u16string& list, std::vector<int>& out) const;

    std::vector<xfs_node> nodes;
};

}  // namespace kvl
