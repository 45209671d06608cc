// Any bytes as a source, driven as the command line drives the core: a disk's partitions or the
// volume itself opened, every folder listed recursively and every file's data read, with the
// preview cap so a read is bounded.
#include <string>
#include <vector>

#include "core/text.h"
#include "fuzz_support.h"
#include "session.h"
#include "storage/memory_stream.h"

namespace {

constexpr size_t max_files = 64;

void list_and_read(kvl::cli::session& s, const std::string& source) {
    const auto volume = s.open_source(source);
    if (!volume || !s.resolve(volume, "/")) return;
    std::vector<kvl::cli::entry> entries;
    s.walk("", entries, 0);
    size_t files = 0;
    for (const kvl::cli::entry& e : entries) {
        if (e.folder || ++files > max_files) continue;
        kvl::memory_stream out(1);
        s.manager.get_item_data(e.item, out, true);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const kvl::fuzz::memory_image image(data, size);
    if (!image.valid()) return 0;
    const std::string path = kvl::utf16_to_utf8(image.path());
    kvl::cli::session s({"file_recovery_max_size_mb=1"}, true);
    kvl::fuzz::quiet_ui ui;
    if (!kvl::cli::session::is_disk(path)) {
        list_and_read(s, path);
        return 0;
    }
    const auto disk = s.open_source(path);
    if (!disk) return 0;
    std::vector<std::string> partitions;
    for (const auto& child : disk->children)
        if (child->data.item.type == kvl::FILE_ITEM_TYPE_SRC_ITEM)
            partitions.push_back(kvl::utf16_to_utf8(child->data.item.source));
    for (const std::string& partition : partitions) list_and_read(s, partition);
    return 0;
}
