#include <gtest/gtest.h>

#include <map>
#include <set>

#include "core/text.h"
#include "fat/fat_directory.h"
#include "ntfs/copy_chunks.h"
#include "platform/memory_controls.h"
#include "support/fixtures.h"
#include "support/sha256.h"
#include "support/test_ui.h"

namespace kvl {
namespace {

struct listed {
    std::string path;
    file_item item;
    std::u16string size_text;
    std::u16string modified;
};

// A FAT image listed folder by folder through the in-memory controls.
class fat_view {
  public:
    explicit fat_view(const std::string& fixture) {
        manager.bind(&tree, &list, &status);
        const std::u16string source = utf8_to_utf16(test::fixture_image(fixture).string());
        root = manager.add_source_item(source, u"volume", nullptr);
        opened = storage.open(source) && volume.assign_storage(storage) && volume.load_fat(300);
    }
    ~fat_view() {
        if (storage.is_open()) storage.close();
    }
    void walk(kvl_file_item_manager::handle node, const std::string& prefix, int depth,
              std::vector<listed>& out) {
        fat_items items;
        read_fat_directory(volume, node->data.item, false, items);
        manager.empty_list();
        list_fat_items(manager, items, node);
        std::vector<listed> rows;
        for (int i = 0; i < list.count(); ++i) {
            platform::list_row* row = list.row(i);
            rows.push_back({prefix + "/" + utf16_to_utf8(list.caption(row)),
                            *static_cast<file_item*>(list.data(row)), list.sub_item(row, 0),
                            list.sub_item(row, 3)});
        }
        for (const listed& row : rows) {
            out.push_back(row);
            if (row.item.subtype == FILE_ITEM_SUBTYPE_FOLDER && depth < 32)
                walk(static_cast<kvl_file_item_manager::handle>(row.item.tree_node), row.path, depth + 1,
                     out);
        }
    }
    std::vector<uint8_t> read(const file_item& item) {
        data_chunks chunks;
        std::vector<uint8_t> data;
        if (!volume.get_item_chunks(static_cast<uint32_t>(item.position), chunks, item.value2,
                                    NO_CLUSTER_LIMIT, FAT_RECOVER_ALGORITHM_AUTO, {}))
            return data;
        truncate_chunks(chunks, item.value2);
        copy_chunks(storage, chunks, 65536, [&](int64_t, int64_t, const uint8_t* bytes, int32_t n) {
            data.insert(data.end(), bytes, bytes + n);
            return true;
        });
        return data;
    }

    platform::memory_tree_control tree;
    platform::memory_list_control list;
    platform::memory_status_bar status;
    kvl_file_item_manager manager;
    kvl_file_item_manager::handle root = nullptr;
    disk_storage storage;
    disk_storage_fat volume;
    bool opened = false;
};

// Where an entry shows: under its parent's path, with the name a deleted short entry takes.
std::string listed_path(const test::manifest_entry& entry) {
    if (!entry.listed_name) return entry.path;
    return entry.path.substr(0, entry.path.rfind('/') + 1) + *entry.listed_name;
}

using listing = std::multimap<std::string, const listed*>;

// Two deleted short entries may show the same name; the first cluster tells them apart.
const listed* find_listed(const listing& by_path, const test::manifest_entry& entry) {
    const auto [first, last] = by_path.equal_range(listed_path(entry));
    for (auto it = first; it != last; ++it)
        if (!entry.first_cluster || it->second->item.position == *entry.first_cluster) return it->second;
    return nullptr;
}

class FatFixture : public ::testing::TestWithParam<std::string> {
  protected:
    test::test_ui ui;
};

TEST_P(FatFixture, ListingShowsExactlyTheManifest) {
    fat_view view(GetParam());
    ASSERT_TRUE(view.opened);
    std::vector<listed> rows;
    view.walk(view.root, "", 0, rows);
    listing by_path;
    for (const listed& row : rows) by_path.emplace(row.path, &row);
    std::set<const listed*> expected;
    for (const test::manifest_entry& entry : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (entry.path == "/") continue;
        const listed* found = find_listed(by_path, entry);
        ASSERT_NE(found, nullptr) << "not listed: " << listed_path(entry);
        EXPECT_TRUE(expected.insert(found).second) << "two manifest entries on one row: " << entry.path;
        EXPECT_EQ(found->item.subtype == FILE_ITEM_SUBTYPE_FOLDER, entry.folder) << entry.path;
        EXPECT_EQ(found->item.deleted, entry.deleted) << entry.path;
        if (!entry.folder) {
            EXPECT_EQ(found->item.value2, entry.size) << entry.path;
        }
        EXPECT_FALSE(found->modified.empty()) << entry.path;
    }
    for (const listed& row : rows) {
        // The volume label entry is listed like a file, under its 8.3 form, in the root.
        if (row.path.find('/', 1) == std::string::npos && row.item.position == 0 && row.item.value2 == 0)
            continue;
        EXPECT_TRUE(expected.count(&row)) << "listed but not in the manifest: " << row.path;
    }
}

TEST_P(FatFixture, LiveFilesAndIntactDeletedOnesReadBackByteForByte) {
    fat_view view(GetParam());
    ASSERT_TRUE(view.opened);
    std::vector<listed> rows;
    view.walk(view.root, "", 0, rows);
    listing by_path;
    for (const listed& row : rows) by_path.emplace(row.path, &row);
    int checked = 0;
    for (const test::manifest_entry& entry : test::read_manifest(GetParam() + ".manifest.jsonl")) {
        if (entry.folder || entry.sha256.empty() || !entry.intact) continue;
        const listed* found = find_listed(by_path, entry);
        ASSERT_NE(found, nullptr) << entry.path;
        EXPECT_EQ(test::sha256_hex(view.read(found->item)), entry.sha256) << entry.path;
        ++checked;
    }
    EXPECT_GT(checked, 5);
}

INSTANTIATE_TEST_SUITE_P(Images, FatFixture, ::testing::Values("fat12", "fat16", "fat32"));

}  // namespace
}  // namespace kvl
