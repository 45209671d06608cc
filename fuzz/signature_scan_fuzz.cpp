// The low-level search as a differential test: the shipped signatures over the same bytes handed
// whole and in buffers of a sector multiple must find the same hits.
#include <filesystem>
#include <vector>

#include "core/text.h"
#include "fuzz_support.h"
#include "scan/xfs_scan.h"
#include "storage/memory_stream.h"

namespace {

// One scanner over the shipped definitions, loaded once: compiling them is most of a small run.
kvl::xfs_scan& shipped_scanner() {
    static kvl::xfs_scan scanner = [] {
        kvl::fuzz::quiet_ui ui;
        std::error_code error;
        const auto folder = std::filesystem::canonical("/proc/self/exe", error).parent_path();
        kvl::xfs_scan loaded;
        if (!loaded.definitions.load_from_file(kvl::utf8_to_utf16((folder / "formats.txt").string())))
            std::abort();
        loaded.record_step = 512;
        return loaded;
    }();
    return scanner;
}

std::vector<kvl::found_item> scan(const uint8_t* data, size_t size, int32_t buffer_size) {
    kvl::memory_stream source(1);
    source.write(data, static_cast<int32_t>(size));
    kvl::platform::scripted_file_type_dialog dialog;
    kvl::platform::file_type_answer all;
    all.checked.emplace();
    kvl::xfs_scan& scanner = shipped_scanner();
    for (const kvl::xfs_node& node : scanner.definitions.nodes) all.checked->push_back(node.description);
    dialog.answers.push_back(all);
    scanner.dialog = &dialog;
    std::vector<kvl::found_item> hits;
    scanner.results = &hits;
    scanner.scan_storage(source, buffer_size, true, 0);
    return hits;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    kvl::fuzz::quiet_ui ui;
    const int32_t piece = 512 * (1 + data[0] % 32);
    const std::vector<kvl::found_item> whole = scan(data + 1, size - 1, 1 << 20);
    const std::vector<kvl::found_item> pieces = scan(data + 1, size - 1, piece);
    if (whole != pieces) std::abort();
    return 0;
}
