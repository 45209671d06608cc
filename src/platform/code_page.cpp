#include "platform/code_page.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>

#include "core/text.h"

namespace kvl::platform {

namespace {

constexpr const char* code_page = "WINDOWS-1252";

// One conversion descriptor per direction, opened once; iconv_open only fails when the C library
// lacks the code page, and then the callers fall back to the Latin-1 mapping below.
class converter {
  public:
    converter(const char* to, const char* from) : cd_(iconv_open(to, from)) {}
    ~converter() {
        if (ok()) iconv_close(cd_);
    }
    converter(const converter&) = delete;
    converter& operator=(const converter&) = delete;
    bool ok() const { return cd_ != reinterpret_cast<iconv_t>(-1); }
    iconv_t get() const { return cd_; }

  private:
    iconv_t cd_;
};

// Converts one unit of input; false when iconv refuses it (an unmapped character).
bool convert_one(iconv_t cd, const char* in, size_t in_size, std::string& out) {
    char buffer[16];
    char* in_ptr = const_cast<char*>(in);
    char* out_ptr = buffer;
    size_t out_left = sizeof buffer;
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    if (iconv(cd, &in_ptr, &in_size, &out_ptr, &out_left) == static_cast<size_t>(-1)) return false;
    out.append(buffer, sizeof buffer - out_left);
    return true;
}

// The five bytes the code page leaves undefined; the system maps them to the same code points.
bool is_undefined_byte(char16_t c) {
    return c == 0x81 || c == 0x8D || c == 0x8F || c == 0x90 || c == 0x9D;
}

}  // namespace

std::u16string ansi_to_utf16(std::span<const uint8_t> bytes) {
    static converter to_utf16("UTF-16LE", code_page);
    std::string utf16le;
    for (uint8_t b : bytes) {
        if (b == 0) break;
        const char c = static_cast<char>(b);
        if (!to_utf16.ok() || !convert_one(to_utf16.get(), &c, 1, utf16le)) {
            utf16le.push_back(static_cast<char>(b));
            utf16le.push_back('\0');
        }
    }
    return utf16le_decode({reinterpret_cast<const uint8_t*>(utf16le.data()), utf16le.size()});
}

std::string utf16_to_ansi(std::u16string_view text) {
    static converter to_ansi(code_page, "UTF-16LE");
    std::string out;
    for (char16_t c : text) {
        const char unit[2] = {static_cast<char>(c & 0xFF), static_cast<char>(c >> 8)};
        if (!to_ansi.ok() || !convert_one(to_ansi.get(), unit, 2, out))
            out.push_back(is_undefined_byte(c) ? static_cast<char>(c) : '?');
    }
    return out;
}

}  // namespace kvl::platform
