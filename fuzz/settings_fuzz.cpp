// "settings.ini": the bytes as the UTF-16LE text of a settings file, every setting read back in
// each of its forms.
#include <string>

#include "config/config.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    std::u16string text(size / 2, u'\0');
    for (size_t i = 0; i < text.size(); ++i)
        text[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    kvl::config settings;
    if (!settings.parse(text)) return 0;
    for (const auto& [name, item] : settings.items) {
        settings.get(name).as_int();
        item.value.as_bool();
        item.is_invisible();
        item.is_read_only();
        item.is_choice_list();
        const kvl::conf_item again(item.line());
        again.value.as_int();
    }
    return 0;
}
