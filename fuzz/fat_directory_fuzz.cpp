// FAT directory contents: short entries, long-name parts, deleted entries, dates and times, read
// from any offset of the first entry.
#include "fat/fat_directory.h"
#include "fat/fat_items.h"
#include "fuzz_support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) return 0;
    kvl::fuzz::quiet_ui ui;
    kvl::memory_stream directory(1);
    directory.write(data + 1, static_cast<int32_t>(size - 1));
    kvl::directory_check(data + 1, static_cast<int32_t>(size - 1));
    kvl::fat_items items;
    items.parse(directory, uint32_t{data[0]} * 32);
    for (const kvl::fat_node& node : items.nodes) {
        kvl::dos_date_time_text(node.bytes().u16(24), node.bytes().u16(22));
        kvl::dos_date_time_text(node.bytes().u16(16), node.bytes().u16(14));
    }
    return 0;
}
