#include "support/fixtures.h"

#include <fstream>
#include <nlohmann/json.hpp>

namespace kvl::test {

bool manifest_entry::has_note(const std::string& note) const {
    for (const std::string& n : notes)
        if (n == note) return true;
    return false;
}

std::filesystem::path fixture_image(const std::string& name) {
    return std::filesystem::path(KORVALEN_TEST_DATA_DIR) / (name + ".img");
}

std::filesystem::path fixture_source_dir() {
    return KORVALEN_TEST_SOURCE_DIR;
}

std::vector<manifest_entry> read_manifest(const std::string& file_name) {
    std::vector<manifest_entry> entries;
    std::ifstream in(fixture_source_dir() / file_name);
    std::string line;
    while (std::getline(in, line)) {
        if (line.empty()) continue;
        const nlohmann::json row = nlohmann::json::parse(line);
        manifest_entry entry;
        entry.path = row.at("path").get<std::string>();
        entry.folder = row.value("folder", false);
        entry.size = row.value("size", int64_t{0});
        entry.sha256 = row.value("sha256", std::string());
        entry.deleted = row.value("deleted", false);
        entry.intact = row.value("intact", true);
        if (row.contains("link_group")) entry.link_group = row.at("link_group").get<int>();
        if (row.contains("mft_record")) entry.mft_record = row.at("mft_record").get<int64_t>();
        if (row.contains("first_cluster")) entry.first_cluster = row.at("first_cluster").get<int64_t>();
        if (row.contains("listed_name")) entry.listed_name = row.at("listed_name").get<std::string>();
        if (row.contains("notes")) entry.notes = row.at("notes").get<std::vector<std::string>>();
        entries.push_back(entry);
    }
    return entries;
}

}  // namespace kvl::test
