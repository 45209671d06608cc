#include "support/fake_devices.h"

#include <fcntl.h>
#include <unistd.h>

#include "core/text.h"

namespace kvl::test {

void fake_devices::add_drive(const std::filesystem::path& image, int32_t sector_size) {
    const std::u16string path = utf8_to_utf16(image.string());
    drives_.push_back(path);
    sector_sizes_[path] = sector_size;
    kinds_[path] = platform::path_kind::whole_disk;
}

void fake_devices::add_volume(const std::filesystem::path& image, const std::u16string& name,
                              const std::u16string& label) {
    const std::u16string path = utf8_to_utf16(image.string());
    volumes_.push_back({path, name, label});
    kinds_[path] = platform::path_kind::volume;
}

platform::path_kind fake_devices::kind_of(const std::u16string& path) {
    if (const auto found = kinds_.find(path); found != kinds_.end()) return found->second;
    return std::filesystem::exists(utf16_to_utf8(path)) ? platform::path_kind::regular_file
                                                        : platform::path_kind::missing;
}

int32_t fake_devices::sector_size(const platform::os_file&, const std::u16string& path) {
    const auto found = sector_sizes_.find(path);
    return found == sector_sizes_.end() ? 512 : found->second;
}

int64_t fake_devices::drive_size(const platform::os_file& file, const std::u16string&) {
    return refuse_drive_size ? -1 : file.size();
}

sparse_image::sparse_image(const std::filesystem::path& path, int64_t size) : path_(path) {
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    if (fd >= 0) {
        if (::ftruncate(fd, size) != 0) ::perror("ftruncate");
        ::close(fd);
    }
}

void sparse_image::write(int64_t offset, const std::vector<uint8_t>& bytes) {
    const int fd = ::open(path_.c_str(), O_RDWR);
    if (fd < 0) return;
    if (::pwrite(fd, bytes.data(), bytes.size(), offset) != static_cast<ssize_t>(bytes.size()))
        ::perror("pwrite");
    ::close(fd);
}

void sparse_image::put(int64_t offset, uint64_t value, int width) {
    std::vector<uint8_t> bytes(static_cast<size_t>(width));
    for (int i = 0; i < width; ++i) bytes[static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    write(offset, bytes);
}

void sparse_image::put_text(int64_t offset, const std::string& text) {
    write(offset, {text.begin(), text.end()});
}

}  // namespace kvl::test
