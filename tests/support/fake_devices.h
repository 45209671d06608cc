#pragma once

#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "platform/storage_devices.h"

namespace kvl::test {

// Stands image files in for drives and volumes: drive N is the N-th path given, with the sector
// size given for it; any other existing path is a regular file.
class fake_devices final : public platform::storage_devices {
  public:
    fake_devices() : scope_(*this) {}

    void add_drive(const std::filesystem::path& image, int32_t sector_size = 512);
    void add_volume(const std::filesystem::path& image, const std::u16string& name,
                    const std::u16string& label);

    std::vector<std::u16string> drives() override { return drives_; }
    std::vector<platform::volume_entry> volumes() override { return volumes_; }
    platform::path_kind kind_of(const std::u16string& path) override;
    int32_t sector_size(const platform::os_file& file, const std::u16string& path) override;
    int64_t drive_size(const platform::os_file& file, const std::u16string& path) override;

    // Drive sizes the system cannot tell, as when a query fails.
    bool refuse_drive_size = false;

  private:
    std::vector<std::u16string> drives_;
    std::vector<platform::volume_entry> volumes_;
    std::map<std::u16string, int32_t> sector_sizes_;
    std::map<std::u16string, platform::path_kind> kinds_;
    platform::scoped_devices scope_;
};

// A sparse image file written piece by piece.
class sparse_image {
  public:
    sparse_image(const std::filesystem::path& path, int64_t size);
    void write(int64_t offset, const std::vector<uint8_t>& bytes);
    void put(int64_t offset, uint64_t value, int width);
    void put_text(int64_t offset, const std::string& text);
    const std::filesystem::path& path() const { return path_; }

  private:
    std::filesystem::path path_;
};

}  // namespace kvl::test
