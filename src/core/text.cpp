#include "core/text.h"

#include <algorithm>

namespace kvl {

std::u16string widen(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
    return out;
}

namespace {

constexpr char32_t replacement = 0xFFFD;

// Decodes one UTF-8 sequence at text[i], advancing i; malformed input yields U+FFFD for one byte.
char32_t next_code_point(std::string_view text, size_t& i) {
    const auto byte = [&](size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    size_t extra = 0;
    char32_t cp = 0;
    if (lead < 0x80) {
        ++i;
        return lead;
    } else if ((lead & 0xE0) == 0xC0) {
        extra = 1;
        cp = lead & 0x1F;
    } else if ((lead & 0xF0) == 0xE0) {
        extra = 2;
        cp = lead & 0x0F;
    } else if ((lead & 0xF8) == 0xF0) {
        extra = 3;
        cp = lead & 0x07;
    } else {
        ++i;
        return replacement;
    }
    if (i + extra >= text.size()) {
        ++i;
        return replacement;
    }
    for (size_t k = 1; k <= extra; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
            ++i;
            return replacement;
        }
        cp = (cp << 6) | (byte(i + k) & 0x3F);
    }
    static constexpr char32_t minimum[] = {0, 0x80, 0x800, 0x10000};
    if (cp < minimum[extra] || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) {
        ++i;
        return replacement;
    }
    i += extra + 1;
    return cp;
}

void append_utf8(char32_t cp, std::string& out) {
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

}  // namespace

std::u16string utf8_to_utf16(std::string_view text) {
    std::u16string out;
    out.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        const char32_t cp = next_code_point(text, i);
        if (cp >= 0x10000) {
            out.push_back(static_cast<char16_t>(0xD800 + ((cp - 0x10000) >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + ((cp - 0x10000) & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(cp));
        }
    }
    return out;
}

std::string utf16_to_utf8(std::u16string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        char32_t cp = text[i];
        const bool high = cp >= 0xD800 && cp <= 0xDBFF;
        if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
            cp = 0x10000 + ((cp - 0xD800) << 10) + (text[i + 1] - 0xDC00);
            ++i;
        } else if (cp >= 0xD800 && cp <= 0xDFFF) {
            cp = replacement;  // an unpaired surrogate has no UTF-8 form
        }
        append_utf8(cp, out);
    }
    return out;
}

std::u16string utf16le_decode(std::span<const uint8_t> bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(bytes[2 * i] | (bytes[2 * i + 1] << 8));
    return out;
}

void utf16le_append(std::u16string_view text, std::string& out) {
    for (char16_t c : text) {
        out.push_back(static_cast<char>(c & 0xFF));
        out.push_back(static_cast<char>(c >> 8));
    }
}

std::u16string decimal(int64_t value) {
    return widen(std::to_string(value));
}

bool is_white(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

namespace {

template <typename Pred>
std::u16string trim_by(std::u16string_view text, Pred drop) {
    size_t first = 0;
    size_t last = text.size();
    while (first < last && drop(text[first])) ++first;
    while (last > first && drop(text[last - 1])) --last;
    return std::u16string(text.substr(first, last - first));
}

}  // namespace

std::u16string trim_white(std::u16string_view text) {
    return trim_by(text, is_white);
}

std::u16string trim_control(std::u16string_view text) {
    return trim_by(text, [](char16_t c) { return c <= u' '; });
}

std::u16string ascii_upper(std::u16string_view text) {
    std::u16string out(text);
    std::transform(out.begin(), out.end(), out.begin(),
                   [](char16_t c) { return (c >= u'a' && c <= u'z') ? static_cast<char16_t>(c - 32) : c; });
    return out;
}

}  // namespace kvl
