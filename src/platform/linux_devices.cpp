#include "platform/linux_devices.h"

#include <blkid/blkid.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "core/text.h"

namespace kvl::platform {

namespace fs = std::filesystem;

namespace {

constexpr const char* sys_block = "/sys/block";

bool starts_with_any(const std::string& name, std::initializer_list<const char*> prefixes) {
    return std::any_of(prefixes.begin(), prefixes.end(), [&](const char* p) { return name.starts_with(p); });
}

std::vector<std::string> sorted_entries(const fs::path& folder) {
    std::vector<std::string> names;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator(folder, error))
        names.push_back(entry.path().filename().string());
    std::sort(names.begin(), names.end(), natural_less);
    return names;
}

std::u16string device_label(const std::string& device) {
    blkid_probe probe = blkid_new_probe_from_filename(device.c_str());  // opens the device read-only
    if (!probe) return {};
    std::u16string label;
    blkid_probe_enable_superblocks(probe, 1);
    blkid_probe_set_superblocks_flags(probe, BLKID_SUBLKS_LABEL);
    const char* value = nullptr;
    if (blkid_do_safeprobe(probe) == 0 && blkid_probe_lookup_value(probe, "LABEL", &value, nullptr) == 0 &&
        value)
        label = utf8_to_utf16(value);
    blkid_free_probe(probe);
    return label;
}

void add_volume(const std::string& name, std::vector<volume_entry>& out) {
    const std::string device = "/dev/" + name;
    out.push_back({utf8_to_utf16(device), utf8_to_utf16(name), device_label(device)});
}

}  // namespace

namespace {

// "sdaa" follows "sdz": the letters after these prefixes count like a number in base 26.
std::string with_letter_index(const std::string& name) {
    for (const char* prefix : {"xvd", "sd", "vd", "hd"}) {
        const std::string p(prefix);
        if (!name.starts_with(p)) continue;
        size_t end = p.size();
        uint64_t index = 0;
        while (end < name.size() && name[end] >= 'a' && name[end] <= 'z' && end - p.size() < 6)
            index = index * 26 + static_cast<uint64_t>(name[end++] - 'a' + 1);
        if (end == p.size()) return name;
        return p + std::to_string(index) + "." + name.substr(end);
    }
    return name;
}

bool digit(char c) {
    return std::isdigit(static_cast<unsigned char>(c)) != 0;
}

}  // namespace

bool natural_less(const std::string& left, const std::string& right) {
    const std::string a = with_letter_index(left);
    const std::string b = with_letter_index(right);
    size_t i = 0, j = 0;
    while (i < a.size() && j < b.size()) {
        if (digit(a[i]) && digit(b[j])) {
            size_t ei = i, ej = j;
            while (ei < a.size() && digit(a[ei])) ++ei;
            while (ej < b.size() && digit(b[ej])) ++ej;
            const std::string na = a.substr(i, ei - i), nb = b.substr(j, ej - j);
            if (na.size() != nb.size()) return na.size() < nb.size();
            if (na != nb) return na < nb;
            i = ei;
            j = ej;
        } else {
            if (a[i] != b[j]) return a[i] < b[j];
            ++i;
            ++j;
        }
    }
    return a.size() - i < b.size() - j;
}

bool is_listed_disk(const std::string& name, bool loop_has_backing_file) {
    if (name.starts_with("loop")) return loop_has_backing_file;
    if (starts_with_any(name, {"ram", "zram", "dm-", "md", "sr", "fd"})) return false;
    if (name.starts_with("mmcblk"))
        return name.find("boot") == std::string::npos && name.find("rpmb") == std::string::npos;
    return starts_with_any(name, {"sd", "nvme", "vd", "xvd", "hd"});
}

std::vector<std::u16string> linux_devices::drives() {
    std::vector<std::u16string> out;
    for (const std::string& name : sorted_entries(sys_block)) {
        const bool backed = fs::exists(fs::path(sys_block) / name / "loop" / "backing_file");
        if (is_listed_disk(name, backed)) out.push_back(utf8_to_utf16("/dev/" + name));
    }
    return out;
}

std::vector<volume_entry> linux_devices::volumes() {
    std::vector<volume_entry> out;
    for (const std::string& disk : sorted_entries(sys_block)) {
        const fs::path folder = fs::path(sys_block) / disk;
        if (starts_with_any(disk, {"dm-", "md"})) {
            add_volume(disk, out);
            continue;
        }
        const bool backed = fs::exists(folder / "loop" / "backing_file");
        if (!is_listed_disk(disk, backed)) continue;
        for (const std::string& part : sorted_entries(folder))
            if (fs::exists(folder / part / "partition")) add_volume(part, out);
    }
    return out;
}

path_kind linux_devices::kind_of(const std::u16string& path) {
    struct stat st {};
    if (::stat(utf16_to_utf8(path).c_str(), &st) != 0) return path_kind::missing;
    if (!S_ISBLK(st.st_mode)) return path_kind::regular_file;
    const fs::path sys =
        "/sys/dev/block/" + std::to_string(major(st.st_rdev)) + ":" + std::to_string(minor(st.st_rdev));
    std::error_code error;
    if (fs::exists(sys / "partition", error)) return path_kind::volume;
    const std::string name = fs::canonical(sys, error).filename().string();
    return starts_with_any(name, {"dm-", "md"}) ? path_kind::volume : path_kind::whole_disk;
}

int32_t linux_devices::sector_size(const os_file& file, const std::u16string& path) {
    if (kind_of(path) == path_kind::regular_file) return 512;
    int size = 0;
    if (::ioctl(file.descriptor(), BLKSSZGET, &size) != 0 || size <= 0) return 0;
    return size;
}

int64_t linux_devices::drive_size(const os_file& file, const std::u16string&) {
    return file.size();
}

namespace {

storage_devices*& current() {
    static linux_devices system;
    static storage_devices* in_use = &system;
    return in_use;
}

}  // namespace

storage_devices& devices() {
    return *current();
}

scoped_devices::scoped_devices(storage_devices& replacement) : saved_(current()) {
    current() = &replacement;
}

scoped_devices::~scoped_devices() {
    current() = saved_;
}

}  // namespace kvl::platform
