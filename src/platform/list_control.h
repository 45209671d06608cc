#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <string>

// A report-style list (the file list, the search results) as the core sees it.
namespace kvl::platform {

class list_row {
  public:
    virtual ~list_row() = default;

  protected:
    list_row() = default;
};

enum class column_alignment { left, right };

struct list_column {
    std::u16string caption;
    int width = 0;
    column_alignment alignment = column_alignment::left;
    uint32_t tag = 0;
};

class list_control {
  public:
    using compare_fn = boost::function<int(list_row*, list_row*)>;

    virtual ~list_control() = default;

    virtual list_row* add_row() = 0;
    virtual int count() const = 0;
    virtual list_row* row(int index) const = 0;
    // Removes every row; the items the rows point at are their owner's to release.
    virtual void clear() = 0;

    virtual void set_caption(list_row* row, const std::u16string& caption) = 0;
    virtual std::u16string caption(list_row* row) const = 0;
    virtual void add_sub_item(list_row* row, const std::u16string& text) = 0;
    virtual int sub_item_count(list_row* row) const = 0;
    // The text of sub-item index, or "" when the row has no such sub-item.
    virtual std::u16string sub_item(list_row* row, int index) const = 0;
    virtual void set_image(list_row* row, int image) = 0;
    virtual int image(list_row* row) const = 0;
    virtual void set_data(list_row* row, void* data) = 0;
    virtual void* data(list_row* row) const = 0;
    virtual void set_selected(list_row* row, bool selected) = 0;
    virtual bool selected(list_row* row) const = 0;

    // Orders the rows with compare (negative: the first goes before the second); the comparison
    // need not be consistent and the control must cope.
    virtual void sort(const compare_fn& compare) = 0;

    virtual void add_column(const list_column& column) = 0;
    virtual int column_count() const = 0;
    virtual list_column column(int index) const = 0;
    // Called with the column's index when the user clicks its header.
    virtual void set_column_click_handler(boost::function<void(int)> handler) = 0;
};

// The main window's status bar: one text panel.
class status_bar {
  public:
    virtual ~status_bar() = default;
    virtual void set_text(const std::u16string& text) = 0;
};

}  // namespace kvl::platform
