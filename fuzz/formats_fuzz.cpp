// "formats.txt": the bytes up to the first 0 as the UTF-8 text of a definitions file (16 lines at
// most, so a run stays short), the bytes after it as a record every definition is matched against.
#include <algorithm>
#include <string>

#include "core/text.h"
#include "fuzz_support.h"
#include "scan/xfs_nodes.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    const uint8_t* end = std::find(data, data + size, 0);
    std::string text(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
    size_t lines = 0;
    for (size_t i = 0; i < text.size(); ++i)
        if (text[i] == '\n' && ++lines == 16) text.resize(i);
    kvl::xfs_nodes definitions;
    definitions.load_from_text(kvl::utf8_to_utf16(text));
    const uint8_t* record = end == data + size ? end : end + 1;
    const int32_t length = static_cast<int32_t>(data + size - record);
    std::vector<int> chosen;
    for (const kvl::xfs_node& node : definitions.nodes) {
        node.matches(record, length);
        definitions.select(node.extension, chosen);
    }
    return 0;
}
