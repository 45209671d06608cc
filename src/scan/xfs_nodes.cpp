#include "scan/xfs_nodes.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <cctype>
#include <cstring>
#include <limits>

#include "core/text.h"
#include "platform/code_page.h"
#include "storage/file_stream.h"

namespace kvl {

namespace {

std::vector<std::u16string> split(std::u16string_view text, const char16_t* separators, bool merge_runs) {
    std::vector<std::u16string> parts;
    boost::algorithm::split(
        parts, text, boost::algorithm::is_any_of(std::u16string_view(separators)),
        merge_runs ? boost::algorithm::token_compress_on : boost::algorithm::token_compress_off);
    return parts;
}

// The platform's string-to-integer reading: optional sign, decimal digits, or hexadecimal after
// "$" or "0x". False for anything else or a value outside 32 bits.
bool parse_int(const std::u16string& text, int32_t& value) {
    std::u16string_view s = text;
    bool negative = false;
    if (!s.empty() && (s[0] == u'-' || s[0] == u'+')) {
        negative = s[0] == u'-';
        s.remove_prefix(1);
    }
    int radix = 10;
    if (s.starts_with(u"$")) {
        radix = 16;
        s.remove_prefix(1);
    } else if (s.starts_with(u"0x") || s.starts_with(u"0X")) {
        radix = 16;
        s.remove_prefix(2);
    }
    if (s.empty()) return false;
    int64_t v = 0;
    for (char16_t c : s) {
        int d = -1;
        if (c >= u'0' && c <= u'9')
            d = c - u'0';
        else if (radix == 16 && c >= u'a' && c <= u'f')
            d = c - u'a' + 10;
        else if (radix == 16 && c >= u'A' && c <= u'F')
            d = c - u'A' + 10;
        if (d < 0) return false;
        v = v * radix + d;
        if (v > int64_t{1} << 32) return false;
    }
    if (negative) v = -v;
    if (v < std::numeric_limits<int32_t>::min() || v > std::numeric_limits<int32_t>::max()) return false;
    value = static_cast<int32_t>(v);
    return true;
}

// Definitions files are a few kilobytes; a bigger file is not one.
constexpr int64_t max_file_size = 16 * 1024 * 1024;

}  // namespace

std::string regex_literal_prefix(const std::string& expression) {
    int depth = 0;
    bool in_class = false;
    for (size_t i = 0; i < expression.size(); ++i) {
        const char c = expression[i];
        if (c == '\\') {
            ++i;
        } else if (in_class) {
            in_class = c != ']';
        } else if (c == '[') {
            in_class = true;
        } else if (c == '(') {
            ++depth;
        } else if (c == ')') {
            --depth;
        } else if (c == '|' && depth == 0) {
            return {};  // an alternation at the top: no common beginning is known
        }
    }
    const auto hex = [](char h) { return std::isxdigit(static_cast<unsigned char>(h)) != 0; };
    std::string prefix;
    size_t i = 0;
    while (i < expression.size()) {
        size_t next = i;
        char literal = 0;
        const char c = expression[i];
        if (c == '\\' && i + 3 < expression.size() && expression[i + 1] == 'x' && hex(expression[i + 2]) &&
            hex(expression[i + 3])) {
            literal = static_cast<char>(std::stoi(expression.substr(i + 2, 2), nullptr, 16));
            next = i + 4;
        } else if (c == '\\' && i + 1 < expression.size() &&
                   std::ispunct(static_cast<unsigned char>(expression[i + 1])) &&
                   !std::strchr("<>`'", expression[i + 1])) {
            literal = expression[i + 1];
            next = i + 2;
        } else if (std::isalnum(static_cast<unsigned char>(c)) || c == ' ' || c == '%' || c == '!' ||
                   c == '<' || c == '>' || c == '=' || c == '/' || c == '_' || c == '-' || c == ',' ||
                   c == ':' || c == ';' || c == '@' || c == '&' || c == '#' || c == '\'' || c == '"' ||
                   c == '~' || c == '`') {
            literal = c;
            next = i + 1;
        } else {
            break;
        }
        // A quantifier after the literal makes it optional or repeated: the prefix ends before it.
        if (next < expression.size() && std::strchr("?*+{", expression[next])) break;
        prefix.push_back(literal);
        i = next;
    }
    return prefix;
}

xfs_node& xfs_node::operator=(const std::u16string& line) {
    usable_ = false;
    selected = false;
    const std::vector<std::u16string> fields = split(line, u";", false);
    const std::u16string where = u"Cannot decomplie string \"" + line + u"\"";
    if (fields.size() < 9) {
        report_error("operator xfs_node::=", where);
        return *this;
    }
    description = trim_control(fields[0]);
    extension = trim_control(fields[1]);
    signature_text = trim_control(fields[2]);
    const std::u16string offset_text = trim_control(fields[3]);
    offset = 0;
    if (!offset_text.empty() && !parse_int(offset_text, offset)) {
        report_error("operator xfs_node::=", where + u"\r\nInvalid int value \"" + fields[3] + u"\"");
        return *this;
    }
    reserved_text_1 = trim_control(fields[4]);
    reserved_text_2 = trim_control(fields[5]);
    const std::u16string number_text = trim_control(fields[6]);
    reserved_number = 0;
    if (!number_text.empty() && !parse_int(number_text, reserved_number)) {
        report_error("operator xfs_node::=", where + u"\r\nInvalid int value \"" + fields[6] + u"\"");
        return *this;
    }
    reserved_text_3 = trim_control(fields[7]);
    group = trim_control(fields[8]);
    selected = true;
    usable_ = offset >= 0;
    return *this;
}

bool xfs_node::prepare_signature() {
    if (!usable_) return false;
    if (signature_text.starts_with(u"%")) {
        is_bytes = false;
        const std::string expression = platform::utf16_to_ansi(std::u16string_view(signature_text).substr(1));
        try {
            pattern.assign(expression, boost::regex::perl | boost::regex::mod_s);
            literal_prefix_ = regex_literal_prefix(expression);
            first_byte_ = literal_prefix_.empty() ? -1 : static_cast<uint8_t>(literal_prefix_[0]);
        } catch (const std::exception& error) {
            report_error("xfs_nodes::load_from_file", u"Invalid regular expression \"" +
                                                          signature_text.substr(1) + u"\": " +
                                                          utf8_to_utf16(error.what()));
            usable_ = false;
        }
        return usable_;
    }
    is_bytes = true;
    // Bytes the hexadecimal text leaves undefined (one digit only, or a stop at a non-digit) would
    // match whatever lies there: such a format matches nothing instead.
    std::u16string digits = trim_white(signature_text);
    if (digits.starts_with(u"0x")) digits.erase(0, 2);
    const int32_t converted = signature_bytes.from_hex(signature_text);
    usable_ = converted > 0 && converted == static_cast<int32_t>(digits.size() / 2);
    first_byte_ = usable_ ? signature_bytes.data()[0] : -1;
    return usable_;
}

bool xfs_node::matches(const uint8_t* data, int32_t length) const {
    if (!usable_ || length < offset) return false;
    if (!is_bytes) return matches_pattern(data, length);
    const int32_t size = signature_bytes.size();
    if (length - offset < size) return false;
    return std::memcmp(data + offset, signature_bytes.data(), static_cast<size_t>(size)) == 0;
}

// The whole record matching offset full stops, the expression and ".*" is the expression matching
// a prefix of the data from the offset on: an anchored search costs only the expression's own work.
bool xfs_node::matches_pattern(const uint8_t* data, int32_t length) const {
    const char* begin = reinterpret_cast<const char*>(data);
    if (!literal_prefix_.empty() &&
        (static_cast<size_t>(length - offset) < literal_prefix_.size() ||
         std::memcmp(begin + offset, literal_prefix_.data(), literal_prefix_.size()) != 0))
        return false;
    auto flags = boost::match_continuous;
    if (offset > 0) flags |= boost::match_prev_avail;
    try {
        return boost::regex_search(begin + offset, begin + length, pattern, flags);
    } catch (const std::exception&) {
        // The expression backtracks past the library's limit on these bytes: no match, told once.
        if (!complexity_reported_) {
            complexity_reported_ = true;
            report_error("xfs_node::matches", u"The signature of " + extension +
                                                  u" is too complex to match; it is skipped where it fails");
        }
        return false;
    }
}

bool xfs_nodes::load_from_file(const std::u16string& path) {
    // Read-only, so the definitions of a system-wide install load as well.
    std::vector<uint8_t> bytes;
    if (!read_small_file(path, max_file_size, bytes)) {
        report_error("xfs_nodes::load_from_file", u"Cannot load file with file format info (" + path + u")");
        return false;
    }
    load_from_text(utf16le_decode(bytes));
    return true;
}

void xfs_nodes::load_from_text(std::u16string text) {
    if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
    nodes.clear();
    for (const std::u16string& line : split(text, u"\r\n", true)) {
        if (line.empty()) continue;
        nodes.emplace_back();
        nodes.back() = line;
    }
    for (xfs_node& node : nodes) node.prepare_signature();
}

void xfs_nodes::select(const std::u16string& list, std::vector<int>& out) const {
    out.clear();
    for (const std::u16string& name : split(list, u";", true)) {
        if (name.empty()) continue;
        const auto found =
            std::find_if(nodes.begin(), nodes.end(), [&](const xfs_node& n) { return n.extension == name; });
        if (found == nodes.end())
            report_error("xfs_nodes::select", u"Format " + name + u" not found.");
        else
            out.push_back(static_cast<int>(found - nodes.begin()));
    }
}

}  // namespace kvl
