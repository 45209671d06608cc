#include "platform/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/text.h"
#include "platform/output_folder.h"

namespace kvl::platform {

namespace {

std::u16string quoted(const std::string& path) { return u"\"" + utf8_to_utf16(path) + u"\""; }

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// A file written in the file system on `device` lands on the source's disk when the source is a
// device of that disk.
bool in_volume_on_source(dev_t device, const struct stat& source, const std::string& path, std::u16string& why) {
    if (!S_ISBLK(source.st_mode) || !on_same_disk(device, source.st_rdev)) return false;
    why = quoted(path) + u" lies in a volume on the source's disk; writing there could overwrite what is to be recovered";
    return true;
}

bool touches(const struct stat& out, const struct stat& source, const std::string& path, std::u16string& why) {
    if (out.st_dev == source.st_dev && out.st_ino == source.st_ino) {
        why = quoted(path) + u" is the source itself; an image is never written over its source";
        return true;
    }
    if (!S_ISBLK(out.st_mode)) return in_volume_on_source(out.st_dev, source, path, why);
    if (S_ISBLK(source.st_mode) && on_same_disk(out.st_rdev, source.st_rdev)) {
        why = quoted(path) + u" is a device on the source's disk; an image is never written over its source";
        return true;
    }
    if (!S_ISBLK(source.st_mode) && on_same_disk(out.st_rdev, source.st_dev)) {
        why = quoted(path) + u" holds the file system the source lies in; an image is never written over its source";
        return true;
    }
    return false;
}

}  // namespace

bool output_touches_source(const std::string& path, const os_file& source, std::u16string& why) {
    struct stat from {};
    if (::fstat(source.descriptor(), &from) != 0) {
        why = u"The source cannot be examined: " + utf8_to_utf16(std::strerror(errno));
        return true;
    }
    struct stat out {};
    if (::stat(path.c_str(), &out) == 0) return touches(out, from, path, why);
    struct stat folder {};
    return ::stat(folder_of(path).c_str(), &folder) == 0 && in_volume_on_source(folder.st_dev, from, path, why);
}

bool open_image_output(const std::string& path, const os_file& source, output_mode mode, os_file& output,
                       std::u16string& why) {
    struct stat standing {};
    const bool exists = ::lstat(path.c_str(), &standing) == 0;
    if (output_touches_source(path, source, why)) return false;
    if (exists && S_ISLNK(standing.st_mode)) {
        why = quoted(path) + u" is a symbolic link; it is not followed";
        return false;
    }
    if (exists && mode == output_mode::create_new) {
        why = quoted(path) + u" already exists and is not replaced";
        return false;
    }
    if (!output.open_output(path, !exists)) {
        why = quoted(path) + u" cannot be opened for writing: " + utf8_to_utf16(std::strerror(errno));
        return false;
    }
    // What was opened is checked again: something else may have been put at the path meanwhile.
    struct stat opened {};
    struct stat from {};
    if (::fstat(output.descriptor(), &opened) != 0 || ::fstat(source.descriptor(), &from) != 0 ||
        touches(opened, from, path, why)) {
        output.close();
        if (!exists) ::unlink(path.c_str());
        if (why.empty()) why = quoted(path) + u" cannot be examined";
        return false;
    }
    if (mode == output_mode::replace && S_ISREG(opened.st_mode) && !output.truncate(0)) {
        why = quoted(path) + u" cannot be emptied: " + utf8_to_utf16(std::strerror(errno));
        output.close();
        return false;
    }
    return true;
}

}  // namespace kvl::platform
