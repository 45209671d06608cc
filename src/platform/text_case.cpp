#include "platform/text_case.h"

#include <locale.h>
#include <wctype.h>

namespace kvl::platform {

namespace {

// The C.UTF-8 locale's case tables, independent of the process's own locale setting.
locale_t case_locale() {
    static const locale_t loc = newlocale(LC_CTYPE_MASK, "C.UTF-8", static_cast<locale_t>(0));
    return loc;
}

char16_t upper(char16_t c) {
    if (c < 0x80) return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c;
    if (c >= 0xD800 && c <= 0xDFFF) return c;  // halves of a pair stay as they are
    const locale_t loc = case_locale();
    if (loc == static_cast<locale_t>(0)) return c;
    const wint_t u = towupper_l(static_cast<wint_t>(c), loc);
    return u <= 0xFFFF ? static_cast<char16_t>(u) : c;
}

}  // namespace

std::u16string to_upper(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) c = upper(c);
    return out;
}

int compare_no_case(std::u16string_view a, std::u16string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const char16_t x = upper(a[i]);
        const char16_t y = upper(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    return a.size() == b.size() ? 0 : (a.size() < b.size() ? -1 : 1);
}

}  // namespace kvl::platform
