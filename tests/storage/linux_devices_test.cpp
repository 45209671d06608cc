#include "platform/linux_devices.h"

#include <gtest/gtest.h>

#include <algorithm>

namespace kvl::platform {
namespace {

TEST(LinuxDevices, ListsWholeDisksButNotRamOpticalOrUnbackedLoops) {
    for (const char* name : {"sda", "sdab", "nvme0n1", "vda", "xvdb", "mmcblk0", "hda"})
        EXPECT_TRUE(is_listed_disk(name, false)) << name;
    for (const char* name :
         {"ram0", "zram0", "sr0", "dm-0", "md127", "mmcblk0boot0", "mmcblk0rpmb", "loop3", "fd0"})
        EXPECT_FALSE(is_listed_disk(name, false)) << name;
    EXPECT_TRUE(is_listed_disk("loop3", true));
}

TEST(LinuxDevices, NaturalOrderOfDeviceNames) {
    std::vector<std::string> names = {"sdaa", "nvme10n1", "sdb", "loop10", "sda", "nvme2n1", "loop2"};
    std::sort(names.begin(), names.end(), natural_less);
    EXPECT_EQ(names,
              (std::vector<std::string>{"loop2", "loop10", "nvme2n1", "nvme10n1", "sda", "sdb", "sdaa"}));
}

}  // namespace
}  // namespace kvl::platform
