#include "platform/image_output.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <fstream>
#include <vector>

#include "core/text.h"
#include "platform/output_folder.h"

namespace kvl::platform {

namespace {

std::u16string quoted(const std::string& path) {
    return u"\"" + utf8_to_utf16(path) + u"\"";
}

std::string folder_of(const std::string& path) {
    const size_t slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// What a path's bytes lie on: the files whose data it is (itself, or the files behind a loop
// device) and the block devices it covers. Writing one of them changes another when both are the
// same file, when both devices lie on one disk, or when a file lies in a file system on a device
// the other covers.
struct storage_of {
    std::vector<struct stat> files;
    std::vector<dev_t> devices;
};

// The file behind a loop device, if it is one whose file can still be found.
bool loop_backing(dev_t device, struct stat& backing) {
    const std::string sys = "/sys/dev/block/" + std::to_string(major(device)) + ":" +
                            std::to_string(minor(device)) + "/loop/backing_file";
    std::ifstream in(sys);
    std::string path;
    return std::getline(in, path) && !path.empty() && ::stat(path.c_str(), &backing) == 0 &&
           S_ISREG(backing.st_mode);
}

void add_storage(const struct stat& st, storage_of& out, int depth) {
    if (S_ISREG(st.st_mode)) {
        out.files.push_back(st);
        return;
    }
    if (!S_ISBLK(st.st_mode)) return;
    out.devices.push_back(st.st_rdev);
    struct stat backing {};
    if (depth < 8 && loop_backing(st.st_rdev, backing)) add_storage(backing, out, depth + 1);
}

// The devices a file's bytes are stored on: its file system's device, and through a file system
// kept in a loop-mounted file, the devices that file is stored on.
std::vector<dev_t> holders_of(const struct stat& file) {
    std::vector<dev_t> holders = {file.st_dev};
    struct stat backing {};
    for (int depth = 0; depth < 8 && loop_backing(holders.back(), backing); ++depth)
        holders.push_back(backing.st_dev);
    return holders;
}

bool file_on_device(const struct stat& file, dev_t device) {
    for (const dev_t holder : holders_of(file))
        if (on_same_disk(holder, device)) return true;
    return false;
}

bool overlaps(const storage_of& written, const storage_of& read) {
    for (const struct stat& a : written.files)
        for (const struct stat& b : read.files)
            if (a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
    for (const dev_t a : written.devices)
        for (const dev_t b : read.devices)
            if (on_same_disk(a, b)) return true;
    for (const struct stat& file : written.files)
        for (const dev_t device : read.devices)
            if (file_on_device(file, device)) return true;
    for (const dev_t device : written.devices)
        for (const struct stat& file : read.files)
            if (file_on_device(file, device)) return true;
    return false;
}

bool touches(const struct stat& out, const struct stat& source, const std::string& path,
             std::u16string& why) {
    if (out.st_dev == source.st_dev && out.st_ino == source.st_ino) {
        why = quoted(path) + u" is the source itself; an image is never written over its source";
        return true;
    }
    storage_of written;
    storage_of read;
    add_storage(out, written, 0);
    add_storage(source, read, 0);
    if (!overlaps(written, read)) return false;
    why = quoted(path) +
          u" shares its storage with the source (the same disk, a file in a volume on it, or a file "
          u"behind a loop device); an image is never written over its source";
    return true;
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
    // A new file: its bytes will lie where its folder's file system keeps them.
    struct stat folder {};
    if (::stat(folder_of(path).c_str(), &folder) != 0) return false;
    folder.st_mode = S_IFREG;
    folder.st_ino = 0;
    return touches(folder, from, path, why);
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
