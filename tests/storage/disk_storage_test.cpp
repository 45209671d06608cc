#include "storage/disk_storage.h"

#include <gtest/gtest.h>

#include "support/fake_devices.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

// Boot sectors as the volumes' own formatters write them (only the fields the opening reads).
void fat32_boot(test::sparse_image& image, int64_t at, uint32_t total_sectors) {
    image.write(at, {0xEB, 0x58, 0x90});
    image.put(at + 11, 512, 2);
    image.put(at + 13, 8, 1);
    image.put(at + 19, 0, 2);  // the 16-bit count is 0 on FAT32
    image.put(at + 32, total_sectors, 4);
    image.put_text(at + 82, "FAT32   ");
    image.put(at + 510, 0xAA55, 2);
}

void fat_boot(test::sparse_image& image, int64_t at, const std::string& type, uint16_t total_sectors) {
    image.write(at, {0xEB, 0x3C, 0x90});
    image.put(at + 11, 512, 2);
    image.put(at + 19, total_sectors, 2);
    image.put_text(at + 54, type);
    image.put(at + 510, 0xAA55, 2);
}

void ntfs_boot(test::sparse_image& image, int64_t at, uint16_t bytes_per_sector, int64_t total_sectors) {
    image.write(at, {0xEB, 0x52, 0x90});
    image.put_text(at + 3, "NTFS    ");
    image.put(at + 11, bytes_per_sector, 2);
    image.put(at + 13, 8, 1);
    image.put(at + 40, static_cast<uint64_t>(total_sectors), 8);
    image.put(at + 510, 0xAA55, 2);
}

class DiskStorageTest : public ::testing::Test {
  protected:
    void TearDown() override {
        if (storage.is_open()) storage.close();
    }
    std::u16string path(const std::string& name) const { return dir.u16(name); }

    test::test_ui ui;
    test::temp_dir dir;
    test::fake_devices devices;
    disk_storage storage;
};

TEST_F(DiskStorageTest, PartitionOfADriveStartsAtItsSectorAndTakesTheFat32Count) {
    test::sparse_image disk(dir.file("disk0"), 64 << 20);
    fat32_boot(disk, 63 * 512, 100000);
    devices.add_drive(disk.path());
    ASSERT_TRUE(storage.open(u"0 63"));
    EXPECT_EQ(storage.base_offset, 32256);
    EXPECT_EQ(storage.kind, STORAGE_KIND_DRIVE);
    EXPECT_EQ(storage.start_sector, 63);
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_FAT32);
    EXPECT_EQ(storage.sector_size, 512);
    EXPECT_EQ(storage.alignment, 512);
    EXPECT_EQ(storage.total_sectors, 100000);
    EXPECT_EQ(storage.size(), 100000 * 512);
    EXPECT_EQ(storage.fat_bpb[13], 8);
    EXPECT_EQ(storage.boot_copy[82], 'F');
    uint8_t sector[512];
    ASSERT_TRUE(storage.seek_sector(0));
    ASSERT_TRUE(storage.read(sector, 512));
    EXPECT_EQ(sector[1], 0x58);  // position 0 is the partition's boot sector
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(DiskStorageTest, APartitionIsNeverLargerThanWhatTheDiskHolds) {
    test::sparse_image disk(dir.file("disk0"), 1 << 20);
    fat32_boot(disk, 63 * 512, 0xFFFFFFFF);
    devices.add_drive(disk.path());
    ASSERT_TRUE(storage.open(u"0 63"));
    EXPECT_EQ(storage.total_sectors, 2048 - 63);
}

TEST_F(DiskStorageTest, NtfsBootSectorOverridesTheSectorSize) {
    test::sparse_image disk(dir.file("disk0"), 8 << 20);
    ntfs_boot(disk, 64 * 512, 4096, 1500);
    devices.add_drive(disk.path());
    ASSERT_TRUE(storage.open(u"0 64"));
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_NTFS);
    EXPECT_EQ(storage.sector_size, 4096);
    EXPECT_EQ(storage.total_sectors, 1500);
    EXPECT_EQ(storage.alignment, 4096);
}

TEST_F(DiskStorageTest, DriveNumbersAreWholeNumbers) {
    for (int i = 0; i < 13; ++i) {
        test::sparse_image disk(dir.file("disk" + std::to_string(i)), (i + 1) * 4096);
        devices.add_drive(disk.path());
    }
    ASSERT_TRUE(storage.open(u"12"));
    EXPECT_EQ(storage.path(), path("disk12"));
    EXPECT_EQ(storage.kind, STORAGE_KIND_DRIVE);
    EXPECT_EQ(storage.total_sectors, 13 * 8);  // a whole drive's size is the system's
}

TEST_F(DiskStorageTest, WholeDriveTakesTheDevicesSectorSize) {
    test::sparse_image disk(dir.file("disk0"), 1 << 20);
    devices.add_drive(disk.path(), 4096);
    ASSERT_TRUE(storage.open(u"0"));
    EXPECT_EQ(storage.sector_size, 4096);
    EXPECT_EQ(storage.total_sectors, 256);
    storage.close();
    devices.refuse_drive_size = true;
    EXPECT_TRUE(storage.open(u"0"));  // the failure value is not refused; its cause is reported
    EXPECT_EQ(storage.total_sectors, -1);
    EXPECT_EQ(storage.size(), -1);
    EXPECT_EQ(ui.log_texts().back(),
              u"disk_storage::detect_storage_size_sectors=> Cannot detect physical drive size");
}

TEST_F(DiskStorageTest, ImageFilesAndTheirPartitions) {
    test::sparse_image image(dir.file("volume.img"), 1 << 20);
    fat_boot(image, 0, "FAT16   ", 60000);  // more sectors than the file: an image is the file's size
    ASSERT_TRUE(storage.open(path("volume.img")));
    EXPECT_EQ(storage.kind, STORAGE_KIND_FILE);
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_FAT16);
    EXPECT_EQ(storage.total_sectors, 2048);
    EXPECT_FALSE(storage.is_disk_image());
    storage.close();

    test::sparse_image disk(dir.file("disk.img"), 4 << 20);
    disk.put(510, 0xAA55, 2);
    ntfs_boot(disk, 2048 * 512, 512, 4000);
    ASSERT_TRUE(storage.open(path("disk.img")));
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_RAW);
    EXPECT_TRUE(storage.is_disk_image());
    storage.close();
    ASSERT_TRUE(storage.open(path("disk.img") + u"#2048"));
    EXPECT_EQ(storage.path(), path("disk.img"));
    EXPECT_EQ(storage.base_offset, 2048 * 512);
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_NTFS);
    EXPECT_EQ(storage.total_sectors, 4000);  // a partition's size is its boot sector's
    EXPECT_FALSE(storage.is_disk_image());
    EXPECT_TRUE(ui.log.lines.empty());
}

TEST_F(DiskStorageTest, AFileWhoseNameEndsInHashDigitsIsThatFile) {
    test::sparse_image odd(dir.file("scan#12"), 4096);
    fat_boot(odd, 0, "FAT12   ", 8);
    ASSERT_TRUE(storage.open(path("scan#12")));
    EXPECT_EQ(storage.start_sector, 0);
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_FAT12);
}

TEST_F(DiskStorageTest, RelativePathStartingWithADigitIsAPath) {
    test::sparse_image image(dir.file("2024 backup.img"), 4096);
    const auto saved = std::filesystem::current_path();
    std::filesystem::current_path(dir.path());
    const bool opened = storage.open(u"2024 backup.img");
    std::filesystem::current_path(saved);
    ASSERT_TRUE(opened);
    EXPECT_EQ(storage.kind, STORAGE_KIND_FILE);
    EXPECT_EQ(storage.total_sectors, 8);
}

TEST_F(DiskStorageTest, RefusalsLeaveTheStorageClosed) {
    test::sparse_image empty(dir.file("empty.img"), 0);
    test::sparse_image blank(dir.file("blank"), 1 << 20);
    devices.add_drive(blank.path());
    const struct {
        std::u16string source;
        std::vector<std::u16string> lines;
    } cases[] = {
        {u"", {u"disk_storage::open=> Invalid source"}},
        {path("missing.img"),
         {u"file_stream::open=> No such file or directory", u"disk_storage::open=> Cannot open partition"}},
        {u"7", {u"disk_storage::open=> Cannot open partition"}},
        {path("empty.img"), {u"disk_storage::open=> Storage is too small"}},
    };
    for (const auto& c : cases) {
        ui.log.clear();
        EXPECT_FALSE(storage.open(c.source));
        EXPECT_EQ(ui.log_texts(), c.lines);
        EXPECT_FALSE(storage.is_open());
        EXPECT_EQ(storage.fs_type, -1);
    }
    ui.log.clear();
    EXPECT_TRUE(storage.open(u"0 63"));  // a partition without a file system opens with an unknown size
    EXPECT_EQ(storage.total_sectors, -1);
    EXPECT_EQ(ui.log_texts(),
              std::vector<std::u16string>{
                  u"disk_storage::detect_storage_size_sectors=> Cannot detect partition size"});
}

TEST_F(DiskStorageTest, OpeningAnOpenStorageIsRefused) {
    test::sparse_image image(dir.file("a.img"), 4096);
    ASSERT_TRUE(storage.open(path("a.img")));
    EXPECT_FALSE(storage.open(path("a.img")));
    EXPECT_EQ(ui.log_texts(),
              (std::vector<std::u16string>{u"file_stream::open=> Please close previous handle first",
                                           u"disk_storage::open=> Cannot open partition"}));
}

TEST_F(DiskStorageTest, ABootSectorClaimingAnImpossibleSectorSizeKeepsTheDevicesOne) {
    test::sparse_image disk(dir.file("disk0"), 8 << 20);
    ntfs_boot(disk, 64 * 512, 0, 1500);
    devices.add_drive(disk.path());
    ASSERT_TRUE(storage.open(u"0 64"));
    EXPECT_EQ(storage.sector_size, 512);
    EXPECT_EQ(storage.alignment, 512);
}

TEST_F(DiskStorageTest, ReusedStorageOpensAnImageAfterA4096ByteDrive) {
    test::sparse_image disk(dir.file("disk0"), 1 << 20);
    devices.add_drive(disk.path(), 4096);
    test::sparse_image image(dir.file("small.img"), 512 * 3);
    fat_boot(image, 0, "FAT12   ", 3);
    ASSERT_TRUE(storage.open(u"0"));
    storage.close();
    ASSERT_TRUE(storage.open(path("small.img")));
    EXPECT_EQ(storage.sector_size, 512);
    EXPECT_EQ(storage.fs_type, FILE_SYSTEM_FAT12);
    EXPECT_EQ(storage.total_sectors, 3);
}

TEST(ParseSource, FormsOfTheSourceText) {
    test::fake_devices devices;
    EXPECT_FALSE(parse_source(u"").valid);
    EXPECT_EQ(parse_source(u"C:").kind, STORAGE_KIND_VOLUME);
    EXPECT_EQ(parse_source(u"3 2048").start_sector, 2048);
    EXPECT_EQ(parse_source(u"3 2048").kind, STORAGE_KIND_DRIVE);
    EXPECT_EQ(parse_source(u"3 -5").kind, STORAGE_KIND_FILE);  // not a drive text: taken as a path
    EXPECT_EQ(parse_source(u"/images/disk.img#63").start_sector, 63);
    EXPECT_EQ(parse_source(u"/images/disk.img#63").device, u"/images/disk.img");
    EXPECT_EQ(parse_source(u"/images/disk.img#x").device, u"/images/disk.img#x");
}

}  // namespace
}  // namespace kvl
