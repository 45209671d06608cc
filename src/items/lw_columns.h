#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <string>

#include "platform/list_control.h"

namespace kvl {

// How a column's texts compare.
inline constexpr int COLUMN_TEXT = 0;
inline constexpr int COLUMN_INTEGER = 1;
inline constexpr int COLUMN_SIZE = 2;  // sorts through the column its code names
inline constexpr int COLUMN_DATE = 5;
inline constexpr int NO_COLUMN = 250;

// The codes packed into a column's tag: value type (bits 0-7), the column that sorts in its place
// (bits 16-23) and the column that breaks ties (bits 24-31).
uint32_t column_tag(int value_type, int sort_column_code, int tie_column);

// The column set of a report list: columns with their value types, header clicks and the row
// comparison.
class lw_columns {
  public:
    using comparator_fn = boost::function<int(platform::list_row*, platform::list_row*)>;

    void bind(platform::list_control* list);
    void add_column(const std::u16string& caption, int value_type, int width, int sort_column_code,
                    int tie_column);
    void set_comparator(comparator_fn comparator) { comparator_ = std::move(comparator); }
    void sort_on_column(int index);

    void on_column_click(int column);
    int on_compare(platform::list_row* a, platform::list_row* b) const;
    int compare(platform::list_row* a, platform::list_row* b, int column) const;

    int sort_column() const { return sort_column_; }
    bool descending() const { return descending_; }

  private:
    void sort();
    int compare_at(platform::list_row* a, platform::list_row* b, int column, int depth) const;
    int compare_values(const std::u16string& a, const std::u16string& b, int value_type) const;

    platform::list_control* list_view_ = nullptr;
    int sort_column_ = -1;
    bool descending_ = false;
    comparator_fn comparator_;
};

}  // namespace kvl
