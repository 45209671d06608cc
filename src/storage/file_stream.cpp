#include "storage/file_stream.h"

#include <unistd.h>

#include <cstring>

#include "core/text.h"

namespace kvl {

file_stream::~file_stream() {
    if (file_.is_open()) {
        report_error("~file_stream::file_stream", u"Handle is not closed");
        file_.close();
    }
}

bool file_stream::open(const std::u16string& path, platform::open_access access) {
    if (file_.is_open()) {
        report_error("file_stream::open", u"Please close previous handle first");
        return false;
    }
    path_ = path;
    if (!file_.open(utf16_to_utf8(path), access)) {
        report_error("file_stream::open", u"");
        path_.clear();
        return false;
    }
    return true;
}

bool file_stream::adopt(platform::os_file&& opened, const std::u16string& path) {
    if (file_.is_open()) {
        report_error("file_stream::adopt", u"Please close previous handle first");
        return false;
    }
    file_ = std::move(opened);
    path_ = path;
    return true;
}

void file_stream::close() {
    if (!file_.is_open()) {
        report_error("file_stream::close", u"Handle is already closed");
        return;
    }
    if (!file_.close()) report_error("file_stream::close", u"");
}

bool file_stream::flush() {
    if (file_.seek(0, SEEK_END) < 0) {
        report_error("file_stream::flush", u"");
        return false;
    }
    return true;
}

int64_t file_stream::get_pos() {
    const int64_t position = file_.seek(0, SEEK_CUR);
    if (position < 0) {
        report_error("file_stream::get_pos", u"");
        return -1;
    }
    return position - base_offset;
}

bool file_stream::seek(int64_t offset, int32_t mode) {
    if (!file_.is_open()) {
        report_error("file_stream::seek", u"Handle is not opened");
        return false;
    }
    int64_t absolute = 0;
    if (__builtin_add_overflow(offset, base_offset, &absolute)) {
        report_error("file_stream::seek",
                     u"Offset (signed __int64) " + decimal(offset) + u" is out of range");
        return false;
    }
    if (!is_aligned(absolute, alignment)) {
        report_error("file_stream::seek", u"Offset (signed __int64) " + decimal(offset) + u" is not " +
                                              decimal(alignment) + u" aligned");
        return false;
    }
    if (file_.seek(absolute, mode == seek_from_start ? SEEK_SET : SEEK_CUR) < 0) {
        report_error("file_stream::seek", u"");
        return false;
    }
    return true;
}

bool file_stream::read(uint8_t* data, int32_t size) {
    if (size < 0 || !is_aligned(size, alignment)) {
        report_error("file_stream::read",
                     u"Size " + decimal(size) + u" is not " + decimal(alignment) + u" aligned");
        return false;
    }
    const int64_t got = file_.read_full(data, size);
    if (got < 0) {
        report_error("file_stream::read", u"");
        return false;
    }
    // Past the end of a file the rest reads as zeros, never as what the buffer held before.
    if (got < size) std::memset(data + got, 0, static_cast<size_t>(size - got));
    return true;
}

bool file_stream::write(const uint8_t* data, int32_t size) {
    if (size < 0 || !file_.write_full(data, size)) {
        report_error("file_stream::write", u"");
        return false;
    }
    return true;
}

int64_t file_stream::size() {
    const int64_t bytes = file_.size();
    if (bytes < 0) report_error("file_stream::size", u"");
    return bytes;
}

bool read_small_file(const std::u16string& path, int64_t limit, std::vector<uint8_t>& bytes) {
    bytes.clear();
    file_stream file;
    if (!file.open(path, platform::open_access::read_only)) return false;
    const int64_t size = file.size();
    if (size > 0 && size <= limit) {
        bytes.resize(static_cast<size_t>(size));
        if (!file.seek(0, seek_from_start) || !file.read(bytes.data(), static_cast<int32_t>(size)))
            bytes.clear();
    }
    file.close();
    return true;
}

}  // namespace kvl
