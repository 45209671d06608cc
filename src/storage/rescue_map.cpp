#include "storage/rescue_map.h"

#include <algorithm>
#include <charconv>
#include <cinttypes>
#include <cstdio>
#include <limits>

#include "core/text.h"
#include "core/version.h"

namespace kvl {

namespace {

constexpr std::string_view area_statuses = "?*/-+";
constexpr std::string_view phase_statuses = "?*/-FG+";

// Within a line; CR makes maps written on Windows read as they were meant.
bool is_blank(char c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\f' || c == '\v';
}

// A line's words up to its comment ('#' at the start of a word); at most `most` + 1 are kept, enough
// to tell a line with too many.
int split_words(std::string_view line, std::string_view* words, int most) {
    int count = 0;
    size_t i = 0;
    while (count <= most) {
        while (i < line.size() && is_blank(line[i])) ++i;
        if (i == line.size() || line[i] == '#') break;
        const size_t start = i;
        while (i < line.size() && !is_blank(line[i])) ++i;
        words[count++] = line.substr(start, i - start);
    }
    return count;
}

enum class number_fault { none, not_a_number, negative, too_large };

// An integer as C++ writes one (decimal, 0x hexadecimal or 0 octal), as ddrescue reads its maps;
// no sign, since nothing in a map may be negative.
number_fault parse_number(std::string_view word, int64_t& value) {
    if (!word.empty() && word[0] == '-') return number_fault::negative;
    int base = 10;
    if (word.size() > 1 && word[0] == '0' && (word[1] == 'x' || word[1] == 'X')) {
        base = 16;
        word.remove_prefix(2);
    } else if (word.size() > 1 && word[0] == '0') {
        base = 8;
    }
    // from_chars would take a sign after the prefix; nothing but digits may follow it.
    if (word.empty() || word[0] == '+' || word[0] == '-') return number_fault::not_a_number;
    uint64_t parsed = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed, base);
    if (end != word.data() + word.size()) return number_fault::not_a_number;
    if (error == std::errc::result_out_of_range || parsed > uint64_t{std::numeric_limits<int64_t>::max()})
        return number_fault::too_large;
    if (error != std::errc()) return number_fault::not_a_number;
    value = static_cast<int64_t>(parsed);
    return number_fault::none;
}

std::u16string number_error(number_fault fault, const char16_t* what) {
    switch (fault) {
        case number_fault::negative:
            return std::u16string(what) + u" is negative";
        case number_fault::too_large:
            return std::u16string(what) + u" is too large";
        default:
            return std::u16string(what) + u" is not a number";
    }
}

// The pass is decimal whatever its leading zeros, and at least 1.
bool parse_pass(std::string_view word, int32_t& pass) {
    if (word.empty() || word[0] < '0' || word[0] > '9') return false;
    int32_t parsed = 0;
    const auto [end, error] = std::from_chars(word.data(), word.data() + word.size(), parsed);
    if (error != std::errc() || end != word.data() + word.size() || parsed < 1) return false;
    pass = parsed;
    return true;
}

bool is_one_of(std::string_view word, std::string_view allowed) {
    return word.size() == 1 && allowed.find(word[0]) != std::string_view::npos;
}

// Numbers as ddrescue writes them: upper-case hexadecimal of at least eight digits.
void append_hex(std::string& out, int64_t value) {
    char digits[24];
    const int n = std::snprintf(digits, sizeof digits, "0x%08" PRIX64, static_cast<uint64_t>(value));
    if (n > 0) out.append(digits, static_cast<size_t>(n));
}

}  // namespace

void rescue_map::reset(int64_t size) {
    areas_.clear();
    size_ = std::max<int64_t>(size, 0);
    if (size_ > 0) areas_.emplace(0, span_end{size_, area_status::non_tried});
    current_position = 0;
    current_status = '?';
    current_pass = 1;
}

namespace {

// The phase line: "position status [pass]". An empty text when it is sound, else what is wrong.
std::u16string read_status_line(const std::string_view* words, int count, int64_t& position, char& status,
                                int32_t& pass) {
    if (count < 2 || count > 3) return u"the status line holds a position, a status and a pass";
    if (const number_fault fault = parse_number(words[0], position); fault != number_fault::none)
        return number_error(fault, u"the position");
    if (!is_one_of(words[1], phase_statuses)) return u"the status is not one of ? * / - F G +";
    if (count == 3 && !parse_pass(words[2], pass))
        return u"the pass is not a decimal number from 1 to 2147483647";
    status = words[1][0];
    return {};
}

// An area line: "position size status", starting where the areas so far end.
template <typename Areas>
std::u16string read_area_line(const std::string_view* words, int count, int64_t& end, Areas& areas) {
    if (count != 3) return u"an area line holds a position, a size and a status";
    int64_t area_position = 0;
    int64_t area_size = 0;
    if (const number_fault fault = parse_number(words[0], area_position); fault != number_fault::none)
        return number_error(fault, u"the position");
    if (const number_fault fault = parse_number(words[1], area_size); fault != number_fault::none)
        return number_error(fault, u"the size");
    if (!is_one_of(words[2], area_statuses)) return u"the status is not one of ? * / - +";
    if (area_position != end)
        return end == 0 ? u"the first area does not start at 0"
                        : u"the area does not start where the previous one ended";
    if (area_size == 0) return u"the area is empty";
    int64_t area_end = 0;
    if (__builtin_add_overflow(area_position, area_size, &area_end))
        return u"the area ends past the largest possible position";
    const auto state = static_cast<area_status>(words[2][0]);
    // Neighbours of one status are one area, as mark() keeps them.
    if (!areas.empty() && std::prev(areas.end())->second.status == state)
        std::prev(areas.end())->second.end = area_end;
    else
        areas.emplace_hint(areas.end(), area_position, typename Areas::mapped_type{area_end, state});
    end = area_end;
    return {};
}

}  // namespace

bool rescue_map::parse(std::string_view text, std::u16string& error) {
    std::map<int64_t, span_end> areas;
    int64_t end = 0;
    bool have_status = false;
    int64_t position = 0;
    char status = '?';
    int32_t pass = 1;
    int64_t line_number = 0;
    for (size_t start = 0; start < text.size();) {
        const size_t newline = std::min(text.find('\n', start), text.size());
        const std::string_view line = text.substr(start, newline - start);
        start = newline + 1;
        ++line_number;
        std::string_view words[4];
        const int count = split_words(line, words, 3);
        if (count == 0) continue;
        const std::u16string fault = have_status ? read_area_line(words, count, end, areas)
                                                 : read_status_line(words, count, position, status, pass);
        if (!fault.empty()) {
            error = u"line " + decimal(line_number) + u": " + fault;
            return false;
        }
        have_status = true;
    }
    if (!have_status) {
        error = u"line " + decimal(std::max<int64_t>(line_number, 1)) + u": the status line is missing";
        return false;
    }
    areas_.swap(areas);
    size_ = end;
    current_position = position;
    current_status = status;
    current_pass = pass;
    return true;
}

std::string rescue_map::text(std::string_view command_line) const {
    std::string out = std::string("# Mapfile. Created by Korvalen ") + version_text + "\n# Command line: ";
    // A line break in the command would end the comment and corrupt the map.
    for (const char c : command_line) out += c == '\n' || c == '\r' ? ' ' : c;
    out += "\n# current_pos  current_status  current_pass\n";
    // Fields set by hand to what no map can hold are written as a fresh copy's.
    append_hex(out, std::max<int64_t>(current_position, 0));
    out += "     ";
    out += phase_statuses.find(current_status) != std::string_view::npos ? current_status : '?';
    out += "               " + std::to_string(std::max<int32_t>(current_pass, 1)) + "\n";
    out += "#      pos        size  status\n";
    for (const auto& [position, span] : areas_) {
        append_hex(out, position);
        out += "  ";
        append_hex(out, span.end - position);
        out += "  ";
        out += static_cast<char>(span.status);
        out += '\n';
    }
    return out;
}

void rescue_map::mark(int64_t position, int64_t size, area_status status) {
    if (size <= 0) return;
    int64_t end = 0;
    if (__builtin_add_overflow(position, size, &end)) end = std::numeric_limits<int64_t>::max();
    position = std::max<int64_t>(position, 0);
    end = std::min(end, size_);
    if (position >= end) return;

    // Split the areas holding the first byte and the byte past the last, so whole areas lie inside.
    auto split_at = [this](int64_t at) {
        if (at >= size_) return;
        auto holder = std::prev(areas_.upper_bound(at));
        if (holder->first == at) return;
        const span_end tail = holder->second;
        holder->second.end = at;
        areas_.emplace_hint(std::next(holder), at, tail);
    };
    split_at(position);
    split_at(end);
    auto next = areas_.erase(areas_.lower_bound(position), areas_.lower_bound(end));
    auto placed = areas_.emplace_hint(next, position, span_end{end, status});

    if (next != areas_.end() && next->second.status == status) {
        placed->second.end = next->second.end;
        areas_.erase(next);
    }
    if (placed != areas_.begin()) {
        const auto before = std::prev(placed);
        if (before->second.status == status) {
            before->second.end = placed->second.end;
            areas_.erase(placed);
        }
    }
}

void rescue_map::fit(int64_t size) {
    size = std::max<int64_t>(size, 0);
    if (size > size_) {
        if (!areas_.empty() && std::prev(areas_.end())->second.status == area_status::non_tried)
            std::prev(areas_.end())->second.end = size;
        else
            areas_.emplace_hint(areas_.end(), size_, span_end{size, area_status::non_tried});
    } else if (size < size_) {
        areas_.erase(areas_.lower_bound(size), areas_.end());
        if (!areas_.empty()) std::prev(areas_.end())->second.end = size;
    }
    size_ = size;
}

std::optional<map_area> rescue_map::find(int64_t from, area_status status) const {
    auto it = areas_.upper_bound(from);
    if (it != areas_.begin()) --it;
    for (; it != areas_.end(); ++it) {
        if (it->second.status != status || it->second.end <= from) continue;
        const int64_t first = std::max(it->first, from);
        return map_area{first, it->second.end - first, status};
    }
    return std::nullopt;
}

std::vector<map_area> rescue_map::areas() const {
    std::vector<map_area> list;
    list.reserve(areas_.size());
    for (const auto& [position, span] : areas_) list.push_back({position, span.end - position, span.status});
    return list;
}

int64_t rescue_map::bytes_with(area_status status) const {
    int64_t total = 0;
    for (const auto& [position, span] : areas_)
        if (span.status == status) total += span.end - position;
    return total;
}

}  // namespace kvl
