// Builds the folder tree of a generated NTFS volume with a large MFT and compares the rate with
// reading the same MFT bytes raw (from the page cache).
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "config/config.h"
#include "core/text.h"
#include "ntfs/disk_storage_ntfs.h"
#include "ntfs/ntfs_tree.h"

namespace {

constexpr int64_t record_count = 131072;
constexpr int32_t record_size = 1024;
constexpr int32_t cluster_size = 4096;
constexpr int64_t mft_cluster = 16;

void put(std::vector<uint8_t>& b, size_t at, uint64_t value, int width) {
    for (int i = 0; i < width; ++i) b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
}

// A record in use holding one $FILE_NAME (and, for record 0, the MFT's $DATA).
std::vector<uint8_t> make_record(int64_t index) {
    std::vector<uint8_t> r(record_size, 0);
    std::memcpy(r.data(), "FILE", 4);
    put(r, 4, 0x30, 2);
    put(r, 6, 3, 2);
    put(r, 20, 0x38, 2);
    put(r, 22, index == 5 || index % 50 == 7 ? 3 : 1, 2);
    const std::u16string name = kvl::utf8_to_utf16("file" + std::to_string(index) + ".bin");
    size_t at = 0x38;
    const size_t value_length = 66 + 2 * name.size();
    const size_t length = (24 + value_length + 7) & ~size_t{7};
    put(r, at, 0x30, 4);
    put(r, at + 4, length, 4);
    put(r, at + 16, value_length, 4);
    put(r, at + 20, 24, 2);
    const int64_t parent = index % 50 == 7 || index < 16 ? 5 : index - index % 50 + 7;
    put(r, at + 24, static_cast<uint64_t>(parent), 8);
    put(r, at + 24 + 64, name.size(), 1);
    put(r, at + 24 + 65, 1, 1);
    for (size_t i = 0; i < name.size(); ++i) put(r, at + 24 + 66 + 2 * i, name[i], 2);
    at += length;
    if (index == 0) {
        const uint64_t clusters = record_count * record_size / cluster_size;
        std::vector<uint8_t> pairs = {0x33};
        for (int i = 0; i < 3; ++i) pairs.push_back(static_cast<uint8_t>(clusters >> (8 * i)));
        for (int i = 0; i < 3; ++i) pairs.push_back(static_cast<uint8_t>(mft_cluster >> (8 * i)));
        pairs.push_back(0);
        put(r, at, 0x80, 4);
        put(r, at + 4, 72 + 8, 4);
        put(r, at + 8, 1, 1);
        put(r, at + 24, clusters - 1, 8);
        put(r, at + 32, 64, 2);
        put(r, at + 48, clusters * cluster_size, 8);
        std::memcpy(r.data() + at + 64, pairs.data(), pairs.size());
        at += 80;
    }
    put(r, at, 0xFFFFFFFF, 4);
    put(r, 24, at + 8, 4);
    put(r, 0x30, 1, 2);  // the update sequence number at every sector end, the saved bytes zero
    put(r, 510, 1, 2);
    put(r, 1022, 1, 2);
    return r;
}

std::string make_image() {
    const std::string path = (std::filesystem::temp_directory_path() / "korvalen-bench-ntfs.img").string();
    if (std::filesystem::exists(path)) return path;
    const int fd = ::open(path.c_str(), O_RDWR | O_CREAT | O_TRUNC, 0644);
    std::vector<uint8_t> boot(512, 0);
    std::memcpy(boot.data() + 3, "NTFS    ", 8);
    put(boot, 11, 512, 2);
    put(boot, 13, 8, 1);
    const int64_t total = (mft_cluster * cluster_size + record_count * record_size) / 512 + 64;
    put(boot, 40, static_cast<uint64_t>(total), 8);
    put(boot, 48, mft_cluster, 8);
    put(boot, 64, 0xF6, 1);
    put(boot, 510, 0xAA55, 2);
    if (::pwrite(fd, boot.data(), boot.size(), 0) < 0) std::perror("pwrite");
    std::vector<uint8_t> mft;
    mft.reserve(static_cast<size_t>(record_count * record_size));
    for (int64_t i = 0; i < record_count; ++i) {
        const std::vector<uint8_t> r = make_record(i);
        mft.insert(mft.end(), r.begin(), r.end());
    }
    if (::pwrite(fd, mft.data(), mft.size(), mft_cluster * cluster_size) < 0) std::perror("pwrite");
    if (::ftruncate(fd, total * 512) != 0) std::perror("ftruncate");
    ::close(fd);
    return path;
}

void BM_BuildNtfsTree(benchmark::State& state) {
    const std::u16string source = kvl::utf8_to_utf16(make_image());
    kvl::app_config().parse(
        u"ntfs.show_only_deleted=false\r\nntfs.cache_size=1024\r\nntfs.std_scan_buf_size=1024\r\n");
    for (auto _ : state) {
        kvl::disk_storage storage;
        storage.open(source);
        kvl::disk_storage_ntfs volume;
        volume.assign_storage(storage);
        kvl::ntfs_tree tree;
        kvl::build_ntfs_tree(volume, tree);
        benchmark::DoNotOptimize(tree.size());
        storage.close();
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(record_count), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * record_count * record_size);
}
BENCHMARK(BM_BuildNtfsTree)->Unit(benchmark::kMillisecond);

void BM_ReadMftRaw(benchmark::State& state) {
    const std::string path = make_image();
    std::vector<uint8_t> buffer(1 << 20);
    for (auto _ : state) {
        const int fd = ::open(path.c_str(), O_RDONLY);
        for (int64_t done = 0; done < record_count * record_size; done += static_cast<int64_t>(buffer.size()))
            benchmark::DoNotOptimize(
                ::pread(fd, buffer.data(), buffer.size(), mft_cluster * cluster_size + done));
        ::close(fd);
    }
    state.counters["records/s"] =
        benchmark::Counter(static_cast<double>(record_count), benchmark::Counter::kIsIterationInvariantRate);
    state.SetBytesProcessed(state.iterations() * record_count * record_size);
}
BENCHMARK(BM_ReadMftRaw)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
