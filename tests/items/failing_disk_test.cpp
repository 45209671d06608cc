#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "core/text.h"
#include "ntfs/ntfs_attributes.h"
#include "ntfs/ntfs_record.h"
#include "support/failing_reads.h"
#include "support/fixtures.h"
#include "support/ntfs_walk.h"
#include "support/search_world.h"
#include "support/sha256.h"
#include "support/temp_dir.h"
#include "support/test_ui.h"

// A disk with bad sectors loses what lies in them and nothing else: listings, recovery and the
// tables behind them read on around the unreadable areas.
namespace kvl {
namespace {

namespace fs = std::filesystem;

// Opens the source, selects every row and recovers it, as a user would; every file written, by its
// path below the folder, with its bytes. What the opening logged is kept: Recover starts a new log.
std::map<std::string, std::vector<uint8_t>> recover_everything(
    const fs::path& image, const fs::path& out, const test::test_ui* ui = nullptr,
    std::vector<std::u16string>* opening_log = nullptr) {
    test::search_world world;
    const auto node = world.add_source(utf8_to_utf16(image.string()));
    world.manager.activate(node);
    if (ui && opening_log) *opening_log = ui->log_texts();
    for (int i = 0; i < world.list.count(); ++i) world.list.set_selected(world.list.row(i), true);
    world.files.folders = {utf8_to_utf16(out.string())};
    world.manager.recover();
    std::map<std::string, std::vector<uint8_t>> files;
    for (const auto& entry : fs::recursive_directory_iterator(out))
        if (entry.is_regular_file())
            files["/" + fs::relative(entry.path(), out).string()] = test::read_file(entry.path());
    return files;
}

::testing::AssertionResult logged(const std::vector<std::u16string>& lines, const std::u16string& text) {
    std::string all;
    for (const std::u16string& line : lines) {
        if (line.find(text) != std::u16string::npos) return ::testing::AssertionSuccess();
        all += utf16_to_utf8(line) + "\n";
    }
    return ::testing::AssertionFailure() << "not in the log:\n" << all;
}

// The storage offset of a byte of an NTFS file's data.
int64_t ntfs_data_offset(const fs::path& image, int64_t record_index, int64_t position) {
    test::ntfs_volume_view view(utf8_to_utf16(image.string()));
    ntfs_record record;
    ntfs_attributes attributes;
    data_chunks chunks;
    if (!record.assign_by_index(view.storage, record_index, view.volume.mft_chunks) ||
        !attributes.load(record, true) || !attributes.get_data_chunks(chunks))
        return -1;
    return chunks.vcn_to_lcn(position);
}

int64_t mft_record_offset(const fs::path& image, int64_t record_index) {
    test::ntfs_volume_view view(utf8_to_utf16(image.string()));
    return view.volume.mft_chunks.vcn_to_lcn(record_index * view.volume.record_size);
}

TEST(FailingDisk, NtfsLosesOnlyTheRecordsAndBytesInBadSectors) {
    test::test_ui ui;
    test::temp_dir dir;
    const fs::path image = test::fixture_image("ntfs-4k");
    const int64_t records = mft_record_offset(image, 72);     // records 72 to 75: two folders, two files
    const int64_t data = ntfs_data_offset(image, 260, 4096);  // inside /Fragmented/fragmented.bin
    ASSERT_GT(records, 0);
    ASSERT_GT(data, 0);
    test::failing_reads disk(image);
    disk.fail(records, 4096);
    disk.fail(data, 4096);
    std::vector<std::u16string> opening;
    const auto files = recover_everything(image, dir.path(), &ui, &opening);

    EXPECT_TRUE(logged(opening, u"MFT records 72 to 75 cannot be read"));
    EXPECT_TRUE(logged(
        ui.log_texts(),
        u"4096 bytes of the data lie in sectors that cannot be read and are zeros: bytes 4096 to 8191"));
    std::set<std::string> written;
    for (const auto& [path, bytes] : files) written.insert(test::sha256_hex(bytes));
    int checked = 0;
    for (const test::manifest_entry& entry : test::read_manifest("ntfs-4k.manifest.jsonl")) {
        const int64_t record = entry.mft_record.value_or(-1);
        if (entry.folder || entry.sha256.empty() || !entry.intact || record == 260 ||
            (record >= 72 && record <= 75))
            continue;
        EXPECT_TRUE(written.count(entry.sha256)) << entry.path;
        ++checked;
    }
    EXPECT_GT(checked, 20);
    // The file with the bad area: every other byte as it was, zeros in the gap.
    const fs::path whole = dir.file("whole");
    fs::create_directory(whole);
    std::vector<uint8_t> expected;
    {
        test::failing_reads healthy(image);
        expected = recover_everything(image, whole).at("/Fragmented/fragmented.bin");
    }
    ASSERT_GT(expected.size(), 8192u);
    std::fill_n(expected.begin() + 4096, 4096, 0);
    EXPECT_EQ(files.at("/Fragmented/fragmented.bin"), expected);
    // What the lost folders held is still there, under "Lost files".
    EXPECT_TRUE(files.count("/Lost files/notes.txt"));
    EXPECT_TRUE(files.count("/Lost files/budget.csv"));
}

TEST(FailingDisk, FatTableIsTakenFromItsCopyAndAFolderLosesOnlyItsBadCluster) {
    test::test_ui ui;
    test::temp_dir dir;
    const fs::path image = test::fixture_image("fat16");
    // 4 reserved sectors of 512 bytes, then the first FAT; "Big Folder" is clusters 61, 78 and 95
    // of 2048 bytes from sector 100.
    const int64_t fat = 4 * 512;
    const int64_t middle_cluster = (100 + (78 - 2) * 4) * 512;
    test::failing_reads disk(image);
    disk.fail(fat, 4096);
    disk.fail(middle_cluster, 2048);
    const auto files = recover_everything(image, dir.path());

    EXPECT_TRUE(
        logged(ui.log_texts(),
               u"4096 bytes of the FAT at 2048 cannot be read; they are taken from copy 2 of the FAT"));
    EXPECT_TRUE(logged(ui.log_texts(),
                       u"2048 bytes at " + decimal(middle_cluster) + u" cannot be read; read as zeros"));
    int in_big_folder = 0;
    for (const test::manifest_entry& entry : test::read_manifest("fat16.manifest.jsonl")) {
        if (entry.folder || entry.sha256.empty() || !entry.intact || entry.deleted) continue;
        const auto found = files.find(entry.path);
        if (entry.path.starts_with("/Big Folder/")) {
            in_big_folder += found != files.end() && test::sha256_hex(found->second) == entry.sha256;
            continue;
        }
        ASSERT_NE(found, files.end()) << entry.path;
        EXPECT_EQ(test::sha256_hex(found->second), entry.sha256) << entry.path;
    }
    // The entries of the first and the last cluster are there; those of the middle one are lost.
    EXPECT_GE(in_big_folder, 20);
    EXPECT_LT(in_big_folder, 40);
    EXPECT_TRUE(files.count("/Big Folder/Entry number 40 with a long name.txt"));
}

TEST(FailingDisk, ABadSectorIsTriedAsOftenAsTheSettingSaysAndReportedOnce) {
    test::test_ui ui;
    const fs::path image = test::fixture_image("fat12");
    test::failing_reads disk(image);
    disk.fail(8192, 512);
    disk_storage storage;
    storage.sector_retries = 2;
    ASSERT_TRUE(storage.open(utf8_to_utf16(image.string())));
    std::vector<uint8_t> block(65536);
    for (int pass = 0; pass < 3; ++pass) {
        ASSERT_TRUE(storage.seek(0, seek_from_start));
        ASSERT_TRUE(storage.read(block.data(), static_cast<int32_t>(block.size())));
    }
    storage.close();
    const std::vector<uint8_t> original = test::read_file(image);
    std::vector<uint8_t> expected(original.begin(), original.begin() + 65536);
    std::fill_n(expected.begin() + 8192, 512, 0);
    EXPECT_EQ(block, expected);
    // The first read fails whole, the six halvings down to the bad sector fail once each, the
    // sector itself fails 1 + 2 times; the later reads go around it.
    EXPECT_EQ(disk.failed, 1 + 6 + 3);
    const auto lines = ui.log_texts();
    EXPECT_EQ(std::count_if(
                  lines.begin(), lines.end(),
                  [](const std::u16string& l) { return l.find(u"cannot be read") != std::u16string::npos; }),
              1);
    EXPECT_TRUE(
        logged(ui.log_texts(), u"disk_storage::read=> 512 bytes at 8192 cannot be read; read as zeros"));
}

}  // namespace
}  // namespace kvl
