#include "core/memory_block.h"

#include <limits>
#include <new>

#include "core/text.h"

namespace kvl {

bool is_aligned(int64_t value, int32_t alignment) {
    return alignment > 0 && value % alignment == 0;
}

int32_t align_up(int32_t value, int32_t alignment) {
    if (alignment <= 0 || is_aligned(value, alignment)) return value;
    const int64_t up = (static_cast<int64_t>(value) / alignment + 1) * alignment;
    return up > std::numeric_limits<int32_t>::max() ? value : static_cast<int32_t>(up);
}

void memory_block::resize(int32_t size, int32_t alignment) {
    if (size < 0 || !is_aligned(size, alignment)) {
        report_error("memory_block::resize",
                     u"Size " + decimal(size) + u" is not " + decimal(alignment) + u" aligned");
        return;
    }
    data_.reset(new (std::nothrow) uint8_t[static_cast<size_t>(size) + (size == 0 ? 1 : 0)]());
    size_ = data_ ? size : 0;
}

void memory_block::destroy() {
    data_.reset();
    size_ = 0;
}

namespace {

int hex_digit(char16_t c) {
    if (c >= u'0' && c <= u'9') return c - u'0';
    if (c >= u'a' && c <= u'f') return c - u'a' + 10;
    if (c >= u'A' && c <= u'F') return c - u'A' + 10;
    return -1;
}

}  // namespace

int32_t memory_block::from_hex(std::u16string_view text) {
    std::u16string digits = trim_white(text);
    if (digits.size() <= 1) {
        resize(1, 1);
        return 0;
    }
    if (digits.starts_with(u"0x")) digits.erase(0, 2);
    const size_t limit = static_cast<size_t>(std::numeric_limits<int32_t>::max());
    resize(static_cast<int32_t>(std::min(digits.size() / 2, limit)), 1);
    int32_t converted = 0;
    for (; converted < size_; ++converted) {
        const int high = hex_digit(digits[2 * static_cast<size_t>(converted)]);
        const int low = hex_digit(digits[2 * static_cast<size_t>(converted) + 1]);
        if (high < 0 || low < 0) break;
        data_[static_cast<size_t>(converted)] = static_cast<uint8_t>(high * 16 + low);
    }
    return converted;
}

buffer::buffer(int64_t total, int32_t piece) : piece_(piece) {
    if (piece_ <= 0 || total <= 0) return;  // no pieces rather than a division by zero
    const int64_t full = total / piece_;
    if (full >= std::numeric_limits<int32_t>::max()) {
        report_error("buffer::buffer", u"Length " + decimal(total) + u" has too many pieces");
        return;
    }
    full_pieces_ = static_cast<int32_t>(full);
    remainder_ = static_cast<int32_t>(total - static_cast<int64_t>(piece_) * full_pieces_);
}

int32_t buffer::count() const {
    return full_pieces_ + (remainder_ != 0 ? 1 : 0);
}

int32_t buffer::operator[](int32_t index) const {
    if (index < 0 || index > count() - 1) {
        report_error("operator buffer::[]", u"Buffer index out of bounds");
        return 0;
    }
    if (index == count() - 1 && remainder_ != 0) return remainder_;
    return piece_;
}

}  // namespace kvl
