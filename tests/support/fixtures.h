#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace kvl::test {

// One entry of a fixture's manifest: what was put into the image.
struct manifest_entry {
    std::string path;  // from the volume root, "/"-separated
    bool folder = false;
    int64_t size = 0;
    std::string sha256;
    bool deleted = false;
    bool intact = true;
    std::optional<int> link_group;
    std::optional<int64_t> mft_record;
    std::optional<int64_t> first_cluster;
    std::optional<std::string> listed_name;
    std::vector<std::string> notes;
    bool has_note(const std::string& note) const;
};

// The decompressed image of a committed fixture, e.g. "ntfs-4k" -> build/test-data/ntfs-4k.img.
std::filesystem::path fixture_image(const std::string& name);
std::filesystem::path fixture_source_dir();
std::vector<manifest_entry> read_manifest(const std::string& file_name);

}  // namespace kvl::test
