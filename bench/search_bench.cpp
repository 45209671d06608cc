// The low-level search with the default formats and the partition search over a 256 MiB raw image
// and over the free space of a FAT volume, next to reading the same bytes raw from the page cache.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "config/config.h"
#include "core/text.h"
#include "fat/disk_storage_fat.h"
#include "random_file.h"
#include "scan/fat_second_scan.h"
#include "scan/partition_scan.h"
#include "scan/xfs_scan.h"

namespace {

constexpr int64_t image_size = int64_t{256} << 20;

std::string raw_image() {
    const std::string path = (std::filesystem::temp_directory_path() / "korvalen-bench-raw.img").string();
    if (std::filesystem::exists(path) &&
        std::filesystem::file_size(path) == static_cast<uintmax_t>(image_size))
        return path;
    write_random_file(path, image_size);
    return path;
}

kvl::xfs_scan& default_search() {
    static kvl::xfs_scan search;
    static bool loaded = false;
    if (!loaded) {
        search.definitions.load_from_file(kvl::utf8_to_utf16(KORVALEN_BIN_DIR "/formats.txt"));
        std::vector<int> chosen;
        search.definitions.select(kvl::default_format_selection, chosen);
        for (auto& node : search.definitions.nodes) node.selected = false;
        for (int i : chosen) search.definitions.nodes[static_cast<size_t>(i)].selected = true;
        loaded = true;
    }
    return search;
}

void run_over_storage(benchmark::State& state, const std::string& path, kvl::scanner& search) {
    std::vector<kvl::found_item> hits;
    for (auto _ : state) {
        kvl::disk_storage storage;
        storage.open(kvl::utf8_to_utf16(path));
        search.record_step = storage.sector_size;
        search.results = &hits;
        hits.clear();
        kvl::stream::iterate(storage, kvl::data_chunks(0, storage.size()), storage.sector_size * 512,
                             search.handler());
        storage.close();
    }
    state.SetBytesProcessed(state.iterations() * image_size);
    state.counters["hits"] = static_cast<double>(hits.size());
}

void BM_LowLevelSearchRaw(benchmark::State& state) {
    run_over_storage(state, raw_image(), default_search());
}
BENCHMARK(BM_LowLevelSearchRaw)->Unit(benchmark::kMillisecond);

void BM_PartitionSearchRaw(benchmark::State& state) {
    kvl::partition_scan search;
    run_over_storage(state, raw_image(), search);
}
BENCHMARK(BM_PartitionSearchRaw)->Unit(benchmark::kMillisecond);

void BM_ReadRaw(benchmark::State& state) {
    const std::string path = raw_image();
    std::vector<uint8_t> buffer(512 * 512);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        while (::read(fd, buffer.data(), buffer.size()) > 0) {
        }
        ::close(fd);
    }
    state.SetBytesProcessed(state.iterations() * image_size);
}
BENCHMARK(BM_ReadRaw)->Unit(benchmark::kMillisecond);

// The free space of the FAT32 fixture, when the tests' images have been unpacked.
void BM_LowLevelSearchFatFreeSpace(benchmark::State& state) {
    const std::string path = KORVALEN_TEST_DATA_DIR "/fat32.img";
    if (!std::filesystem::exists(path)) {
        state.SkipWithError("the test images are not unpacked");
        return;
    }
    kvl::xfs_scan& search = default_search();
    std::vector<kvl::found_item> hits;
    int64_t bytes = 0;
    for (auto _ : state) {
        kvl::disk_storage storage;
        storage.open(kvl::utf8_to_utf16(path));
        kvl::disk_storage_fat volume;
        volume.assign_storage(storage);
        volume.load_fat(300);
        search.record_step = storage.sector_size;
        search.results = &hits;
        hits.clear();
        const kvl::block_handler handler = search.handler();
        kvl::scan_free_clusters(volume, [&](int64_t d, int64_t p, uint8_t* data, int32_t n, void* c) {
            bytes += n;
            return handler(d, p, data, n, c);
        });
        storage.close();
    }
    state.SetBytesProcessed(bytes);
}
BENCHMARK(BM_LowLevelSearchFatFreeSpace)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
