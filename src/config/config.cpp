#include "config/config.h"

#include <boost/algorithm/string/classification.hpp>
#include <boost/algorithm/string/split.hpp>
#include <limits>
#include <vector>

#include "core/text.h"
#include "platform/ui.h"
#include "storage/file_stream.h"

namespace kvl {

namespace {

using parts = std::vector<std::u16string>;

parts split(std::u16string_view text, const char16_t* separators, bool merge_runs) {
    parts out;
    boost::algorithm::split(
        out, text, boost::algorithm::is_any_of(std::u16string_view(separators)),
        merge_runs ? boost::algorithm::token_compress_on : boost::algorithm::token_compress_off);
    return out;
}

int digit_value(char16_t c, int radix) {
    int v = -1;
    if (c >= u'0' && c <= u'9') v = c - u'0';
    if (c >= u'a' && c <= u'f') v = c - u'a' + 10;
    if (c >= u'A' && c <= u'F') v = c - u'A' + 10;
    return v < radix ? v : -1;
}

void warn(const std::u16string& text) {
    platform::ui().boxes->show(u"Error", text, platform::box_icon::warning);
}

// A settings file is a few kilobytes; anything near this is not one.
constexpr int64_t max_file_size = 16 * 1024 * 1024;

}  // namespace

int32_t any_type::as_int() const {
    std::u16string_view s = text_;
    while (!s.empty() && s.front() == u' ') s.remove_prefix(1);
    bool negative = false;
    if (!s.empty() && (s.front() == u'-' || s.front() == u'+')) {
        negative = s.front() == u'-';
        s.remove_prefix(1);
    }
    int radix = 10;
    if (s.starts_with(u"0x") || s.starts_with(u"0X")) {
        radix = 16;
        s.remove_prefix(2);
    } else if (!s.empty() && (s.front() == u'$' || s.front() == u'x' || s.front() == u'X')) {
        radix = 16;
        s.remove_prefix(1);
    }
    if (s.empty()) return 0;
    int64_t value = 0;
    for (char16_t c : s) {
        const int d = digit_value(c, radix);
        if (d < 0) return 0;
        value = value * radix + d;
        if (value > static_cast<int64_t>(std::numeric_limits<int32_t>::max()) + 1) return 0;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<int32_t>::max()) return 0;
    return static_cast<int32_t>(value);
}

conf_item::conf_item(std::u16string_view line) {
    const parts sides = split(line, u"=", true);
    if (sides.size() < 2) return;
    const parts fields = split(trim_white(sides[0]), u"|", true);
    name = fields.size() > 0 ? trim_white(fields[0]) : u"";
    const std::u16string label = fields.size() > 1 ? trim_white(fields[1]) : u"";
    attributes = fields.size() > 2 ? trim_white(fields[2]) : u"";
    if (!label.empty()) {
        const parts halves = split(label, u":", true);
        const std::u16string after = halves.size() > 1 ? trim_white(halves[1]) : u"";
        if (!after.empty()) {
            group = trim_white(halves[0]);
            caption = after;
        } else {
            caption = trim_white(halves[0]);
        }
    }
    value = any_type(trim_white(sides[1]));
    for (const std::u16string& element : split(attributes, u",", false)) {
        const parts pair = split(element, u"`", false);
        if (pair.size() >= 2) choices.emplace(pair[0], pair[1]);
    }
}

std::u16string conf_item::line() const {
    return name + u"|" + group + u":" + caption + u"|" + attributes + u"=" + value.text();
}

bool conf_item::is_invisible() const {
    return attributes.find(u"inv") != std::u16string::npos;
}
bool conf_item::is_read_only() const {
    return attributes.find(u"ronly") != std::u16string::npos;
}
bool conf_item::is_choice_list() const {
    return attributes.find(u',') != std::u16string::npos;
}

bool config::parse(std::u16string text) {
    if (!text.empty() && text.front() == u'\xFEFF') text.erase(0, 1);
    if (const size_t nul = text.find(u'\0'); nul != std::u16string::npos) text.resize(nul);
    if (text.empty()) return false;
    std::erase(text, u'\n');
    items.clear();
    for (const std::u16string& raw : split(text, u"\r", false)) {
        const std::u16string line = trim_white(raw);
        if (line.empty()) continue;
        conf_item item(line);
        items.emplace(item.name, std::move(item));
    }
    return true;
}

bool config::load(const std::u16string& file_name) {
    path_ = file_name;
    // Read-only, so a settings file the user may not write (a system-wide install) still loads.
    std::vector<uint8_t> bytes;
    read_small_file(file_name, max_file_size, bytes);
    return parse(utf16le_decode(bytes));
}

bool config::save(const std::u16string& file_name) const {
    std::string bytes;
    utf16le_append(u"\xFEFF", bytes);
    for (const auto& [key, item] : items) utf16le_append(item.line() + u"\r\n", bytes);
    file_stream file;
    if (!file.create(file_name)) return false;
    const bool written =
        file.write(reinterpret_cast<const uint8_t*>(bytes.data()), static_cast<int32_t>(bytes.size()));
    file.close();
    return written;
}

any_type config::get(const std::u16string& name) const {
    if (items.empty()) {
        warn(u"Config not loaded");
        return {};
    }
    const auto found = items.find(name);
    if (found == items.end()) {
        warn(u"Config item " + name + u" not found");
        return {};
    }
    return found->second.value;
}

config& app_config() {
    static config store;
    return store;
}

}  // namespace kvl
