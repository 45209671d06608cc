#pragma once

#include "platform/storage_devices.h"

// Drives and volumes from /sys/block, labels from libblkid, sizes and sector sizes from the kernel.
namespace kvl::platform {

class linux_devices final : public storage_devices {
  public:
    std::vector<std::u16string> drives() override;
    std::vector<volume_entry> volumes() override;
    path_kind kind_of(const std::u16string& path) override;
    int32_t sector_size(const os_file& file, const std::u16string& path) override;
    int64_t drive_size(const os_file& file, const std::u16string& path) override;
};

// Whether a /sys/block entry is a whole disk the program lists as a physical drive.
bool is_listed_disk(const std::string& name, bool loop_has_backing_file);
// Orders device names so that "sdb" < "sdaa" and "nvme2n1" < "nvme10n1".
bool natural_less(const std::string& a, const std::string& b);

}  // namespace kvl::platform
