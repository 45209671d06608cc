#include <gtest/gtest.h>

#include <map>
#include <set>

#include "config/config.h"
#include "core/text.h"
#include "ntfs/ntfs_tree.h"
#include "support/fixtures.h"
#include "support/ntfs_walk.h"
#include "support/sha256.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

void load_settings(bool deleted_only) {
    app_config().parse(std::u16string(u"ntfs.show_only_deleted=") + (deleted_only ? u"true" : u"false") +
                       u"\r\nntfs.cache_size=64\r\nntfs.std_scan_buf_size=64\r\n");
}

std::string base_name(const std::string& path) {
    return path.substr(path.rfind('/') + 1);
}

bool is_system_entry(const std::string& path) {
    return path.starts_with("/$");
}

class NtfsFixture : public ::testing::TestWithParam<std::string> {
  protected:
    std::u16string source() const { return utf8_to_utf16(test::fixture_image(GetParam()).string()); }
    std::vector<test::manifest_entry> manifest() const {
        return test::read_manifest(GetParam() + ".manifest.jsonl");
    }

    test::test_ui ui;
};

using listing = std::multimap<std::string, const test::listed_entry*>;

listing by_path_of(const std::vector<test::listed_entry>& listed) {
    listing out;
    for (const auto& entry : listed) out.emplace(entry.path, &entry);
    return out;
}

// Where a manifest entry shows: at its path as its own record (a deleted and a live file may share
// a name), or, deleted and with its folder's record gone, under "Lost files".
const test::listed_entry* find_listed(const listing& by_path, const test::manifest_entry& entry) {
    for (const std::string& path : {entry.path, "/Lost files/" + base_name(entry.path)}) {
        const auto [first, last] = by_path.equal_range(path);
        for (auto it = first; it != last; ++it)
            if (!entry.mft_record || it->second->item.position == *entry.mft_record) return it->second;
        if (!entry.deleted) break;
    }
    return nullptr;
}

TEST_P(NtfsFixture, ListingShowsExactlyTheManifest) {
    load_settings(false);
    test::ntfs_volume_view view(source());
    ASSERT_TRUE(view.build());
    const std::vector<test::listed_entry> listed = view.list_all();
    const listing by_path = by_path_of(listed);
    std::set<const test::listed_entry*> expected;
    std::map<int, std::vector<test::manifest_entry>> links;
    for (const test::manifest_entry& entry : manifest()) {
        if (entry.path == "/") continue;  // the volume itself
        if (entry.link_group) {
            links[*entry.link_group].push_back(entry);
            continue;
        }
        const test::listed_entry* shown = find_listed(by_path, entry);
        ASSERT_NE(shown, nullptr) << "not listed: " << entry.path;
        EXPECT_TRUE(expected.insert(shown).second) << "two manifest entries on one row: " << entry.path;
        EXPECT_EQ(shown->item.subtype == FILE_ITEM_SUBTYPE_FOLDER, entry.folder) << entry.path;
        EXPECT_EQ(shown->item.deleted, entry.deleted) << entry.path;
        if (!entry.folder) {
            EXPECT_EQ(shown->size, entry.size) << entry.path;
        }
    }
    // A file with several names is one record: it shows once, under one of its names.
    for (const auto& [group, names] : links) {
        int shown = 0;
        for (const test::manifest_entry& name : names) {
            const test::listed_entry* row = find_listed(by_path, name);
            if (!row) continue;
            ++shown;
            expected.insert(row);
            EXPECT_EQ(row->size, name.size) << name.path;
        }
        EXPECT_EQ(shown, 1) << "hard links of group " << group;
    }
    for (const auto& entry : listed) {
        if (is_system_entry(entry.path) || entry.path == "/Lost files") continue;
        EXPECT_TRUE(expected.count(&entry)) << "listed but not in the manifest: " << entry.path;
    }
}

TEST_P(NtfsFixture, EveryFileReadsBackByteForByte) {
    load_settings(false);
    test::ntfs_volume_view view(source());
    ASSERT_TRUE(view.build());
    const std::vector<test::listed_entry> listed = view.list_all();
    const listing by_path = by_path_of(listed);
    int checked = 0;
    for (const test::manifest_entry& entry : manifest()) {
        if (entry.folder || entry.sha256.empty() || (entry.deleted && !entry.intact)) continue;
        const test::listed_entry* found = find_listed(by_path, entry);
        if (!found) continue;  // a hard link not chosen as the shown name
        std::vector<uint8_t> data;
        ASSERT_TRUE(view.read_file(found->item.position, data)) << entry.path;
        EXPECT_EQ(static_cast<int64_t>(data.size()), entry.size) << entry.path;
        EXPECT_EQ(test::sha256_hex(data), entry.sha256) << entry.path;
        ++checked;
    }
    EXPECT_GT(checked, 0);
}

TEST_P(NtfsFixture, DeletedOnlyBuildShowsDeletedFilesAndTheFoldersLeadingToThem) {
    load_settings(true);
    test::ntfs_volume_view view(source());
    ASSERT_TRUE(view.build());
    const std::vector<test::listed_entry> listed = view.list_all();
    const listing by_path = by_path_of(listed);
    for (const test::manifest_entry& entry : manifest()) {
        if (!entry.deleted || entry.folder) continue;
        const test::listed_entry* shown = find_listed(by_path, entry);
        ASSERT_NE(shown, nullptr) << "deleted file not listed: " << entry.path;
    }
    for (const auto& entry : listed) {
        if (entry.item.subtype != FILE_ITEM_SUBTYPE_FOLDER) {
            EXPECT_TRUE(entry.item.deleted) << "a live file in the deleted-only build: " << entry.path;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Images, NtfsFixture, ::testing::Values("ntfs-4k", "ntfs-512", "demo-ntfs"));

}  // namespace
}  // namespace kvl
