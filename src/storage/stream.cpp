#include "storage/stream.h"

#include <cstring>
#include <limits>

#include "core/text.h"

namespace kvl {

bool stream::read_block(memory_block& block) {
    return read(block.data(), block.size());
}

bool stream::read_unaligned(int64_t position, uint8_t* dest, int32_t length) {
    const int32_t a = alignment;
    if (length < 0 || position < 0 || a <= 0) {
        report_error("stream::read_unaligned",
                     u"Range " + decimal(position) + u" + " + decimal(length) + u" is not valid");
        return false;
    }
    const int64_t start = (position / a) * a;
    if (!seek(start, seek_from_start)) return false;
    int64_t n = length / a;
    if (length % a != 0) ++n;
    if (position != start) ++n;
    if (n * a > std::numeric_limits<int32_t>::max()) {
        report_error("stream::read_unaligned", u"Length " + decimal(length) + u" is too large");
        return false;
    }
    scratch_.resize(static_cast<int32_t>(n * a), 1);
    if (scratch_.size() != n * a || !read_block(scratch_)) return false;
    if (length > 0) std::memcpy(dest, scratch_.data() + (position - start), static_cast<size_t>(length));
    return true;
}

}  // namespace kvl
