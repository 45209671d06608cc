#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/os_file.h"

// What the system knows about drives and volumes: which exist, their labels, sector sizes and sizes.
// Behind one interface so tests can stand image files in for drives.
namespace kvl::platform {

// A partition or volume block device (partitions, device-mapper, md).
struct volume_entry {
    std::u16string device_path;  // "/dev/sda1"
    std::u16string name;         // "sda1"
    std::u16string label;        // empty when unknown
};

enum class path_kind { missing, regular_file, whole_disk, volume };

class storage_devices {
  public:
    virtual ~storage_devices() = default;
    // Whole-disk devices in a stable order; drive number N is entry N.
    virtual std::vector<std::u16string> drives() = 0;
    virtual std::vector<volume_entry> volumes() = 0;
    virtual path_kind kind_of(const std::u16string& path) = 0;
    // The logical sector size of an open device; 512 for a regular file.
    virtual int32_t sector_size(const os_file& file, const std::u16string& path) = 0;
    // The size in bytes of an open whole drive; -1 when the system cannot tell.
    virtual int64_t drive_size(const os_file& file, const std::u16string& path) = 0;
};

// The devices in use: the system's unless a scope installs others.
storage_devices& devices();

class scoped_devices {
  public:
    explicit scoped_devices(storage_devices& replacement);
    ~scoped_devices();
    scoped_devices(const scoped_devices&) = delete;
    scoped_devices& operator=(const scoped_devices&) = delete;

  private:
    storage_devices* saved_;
};

}  // namespace kvl::platform
