#include "items/lw_columns.h"

#include <tuple>

#include "core/format.h"

namespace kvl {

uint32_t column_tag(int value_type, int sort_column_code, int tie_column) {
    return static_cast<uint32_t>(value_type & 0xFF) | static_cast<uint32_t>(sort_column_code & 0xFF) << 16 |
           static_cast<uint32_t>(tie_column & 0xFF) << 24;
}

namespace {

int value_type_of(uint32_t tag) {
    return static_cast<int>(tag & 0xFF);
}
int sort_code_of(uint32_t tag) {
    return static_cast<int>(tag >> 16 & 0xFF);
}
int tie_code_of(uint32_t tag) {
    return static_cast<int>(tag >> 24 & 0xFF);
}

// Letters a-z fold to A-Z; every other unit compares by its code.
int compare_text(const std::u16string& a, const std::u16string& b) {
    const auto fold = [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; };
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        if (fold(a[i]) != fold(b[i])) return fold(a[i]) < fold(b[i]) ? -1 : 1;
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

bool parse_int64(const std::u16string& text, int64_t& value) {
    size_t i = text.starts_with(u"-") ? 1 : 0;
    if (i >= text.size()) return false;
    int64_t v = 0;
    for (; i < text.size(); ++i) {
        if (text[i] < u'0' || text[i] > u'9' || __builtin_mul_overflow(v, 10, &v) ||
            __builtin_add_overflow(v, text[i] - u'0', &v))
            return false;
    }
    value = text.starts_with(u"-") ? -v : v;
    return true;
}

}  // namespace

void lw_columns::bind(platform::list_control* list) {
    list_view_ = list;
    descending_ = false;
    if (list) list->set_column_click_handler([this](int column) { on_column_click(column); });
}

void lw_columns::add_column(const std::u16string& caption, int value_type, int width, int sort_column_code,
                            int tie_column) {
    if (!list_view_) return;
    const bool right = value_type == COLUMN_INTEGER || value_type == COLUMN_SIZE;
    list_view_->add_column({caption, width,
                            right ? platform::column_alignment::right : platform::column_alignment::left,
                            column_tag(value_type, sort_column_code, tie_column)});
    sort_column_ = list_view_->column_count() - 1;
}

void lw_columns::sort() {
    if (list_view_)
        list_view_->sort([this](platform::list_row* a, platform::list_row* b) { return on_compare(a, b); });
}

void lw_columns::sort_on_column(int index) {
    descending_ = false;
    sort_column_ = index;
    sort();
}

void lw_columns::on_column_click(int column) {
    if (!list_view_ || list_view_->count() == 0) return;
    if (column == sort_column_) {
        descending_ = !descending_;
    } else {
        sort_column_ = column;
        descending_ = false;
    }
    sort();
}

int lw_columns::on_compare(platform::list_row* a, platform::list_row* b) const {
    const int r = compare(a, b, sort_column_);
    return descending_ ? -r : r;
}

int lw_columns::compare_values(const std::u16string& a, const std::u16string& b, int value_type) const {
    switch (value_type) {
        case COLUMN_TEXT:
            return compare_text(a, b);
        case COLUMN_INTEGER: {
            if (a.empty() || b.empty()) return 1;
            int64_t x = 0, y = 0;
            if (!parse_int64(a, x) || !parse_int64(b, y)) return -1;
            return x < y ? -1 : 1;
        }
        case COLUMN_DATE: {
            platform::calendar_time x{}, y{};
            if (!parse_date_time(a, x) || !parse_date_time(b, y)) return -1;
            const auto key = [](const platform::calendar_time& t) {
                return std::tie(t.year, t.month, t.day, t.hour, t.minute, t.second);
            };
            return key(x) < key(y) ? -1 : 1;
        }
        default:
            return 0;
    }
}

int lw_columns::compare(platform::list_row* a, platform::list_row* b, int column) const {
    return compare_at(a, b, column, 0);
}

// Columns name other columns to sort and break ties by; a depth bound keeps a set whose codes
// form a cycle from recursing without end.
int lw_columns::compare_at(platform::list_row* a, platform::list_row* b, int column, int depth) const {
    if (!list_view_ || column < 0 || column >= list_view_->column_count() || depth > 8) return 0;
    const uint32_t tag = list_view_->column(column).tag;
    const auto text = [&](platform::list_row* row) {
        return column == 0 ? list_view_->caption(row) : list_view_->sub_item(row, column - 1);
    };
    int r = sort_code_of(tag) != NO_COLUMN ? compare_at(a, b, sort_code_of(tag), depth + 1)
                                           : compare_values(text(a), text(b), value_type_of(tag));
    if (r == 0 && tie_code_of(tag) != NO_COLUMN) r = compare_at(a, b, tie_code_of(tag), depth + 1);
    if (comparator_) {
        if (const int answer = comparator_(a, b); answer != 0) r = answer;
    }
    return r;
}

}  // namespace kvl
