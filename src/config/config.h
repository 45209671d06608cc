#pragma once

#include <map>
#include <string>

#include "core/base.h"

namespace kvl {

// The value of one setting: a text, read as text, integer or boolean at the moment of use.
class any_type {
  public:
    any_type() = default;
    explicit any_type(std::u16string text) : text_(std::move(text)) {}

    const std::u16string& text() const { return text_; }
    // Signed 32-bit; 0 when empty, invalid or out of range. "$", "x" and "0x" introduce hexadecimal.
    int32_t as_int() const;
    // True exactly for the text "true".
    bool as_bool() const { return text_ == u"true"; }

  private:
    std::u16string text_;
};

// One setting line: name|group:caption|attributes=value.
class conf_item {
  public:
    conf_item() = default;
    explicit conf_item(std::u16string_view line);

    std::u16string line() const;
    // Hidden from the Options dialog.
    bool is_invisible() const;
    bool is_read_only() const;
    bool is_choice_list() const;

    std::map<std::u16string, std::u16string> choices;
    std::u16string name;
    any_type value;
    std::u16string group;
    std::u16string caption;
    std::u16string attributes;
};

// The settings store, loaded from "settings.ini" (UTF-16LE, one setting per line). There are no
// built-in defaults: a key the file lacks reads as empty after a warning.
class config : public base {
  public:
    bool load(const std::u16string& file_name);
    bool save(const std::u16string& file_name) const;
    any_type get(const std::u16string& name) const;

    // Parses the text of a settings file, replacing the items; false when the text is empty.
    bool parse(std::u16string text);

    const std::u16string& path() const { return path_; }

    std::map<std::u16string, conf_item> items;
    std::map<std::u16string, conf_item> edit_items;

  private:
    std::u16string path_;
};

// The process-wide store every operation reads its settings from.
config& app_config();

}  // namespace kvl
