// Saving an image of a healthy source, next to `dd bs=1M` (plain, and syncing its output at the end
// as the image copy and GNU ddrescue do) and ddrescue copying the same image in the same run, from
// the page cache into files beside it. Best of three runs each.
#include <fcntl.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include "core/text.h"
#include "platform/memory_ui.h"
#include "platform/stderr_ui.h"
#include "random_file.h"
#include "storage/disk_storage.h"

namespace fs = std::filesystem;

namespace {

// Larger than the kernel lets a writer keep unwritten in memory, so every copy ends up at the
// speed the output takes its bytes, as imaging a disk does.
constexpr int64_t image_size = int64_t{8} << 30;

std::string source_image(const fs::path& folder) {
    const std::string path = (folder / "source.img").string();
    write_random_file(path, image_size);
    return path;
}

// The best wall time of three runs, each into a fresh output.
double best_seconds(const std::function<bool()>& copy, const fs::path& output) {
    double best = 1e9;
    for (int run = 0; run < 3; ++run) {
        std::error_code error;
        fs::remove(output, error);
        fs::remove(output.string() + ".map", error);
        const auto start = std::chrono::steady_clock::now();
        if (!copy()) return -1;
        best =
            std::min(best, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
    }
    return best;
}

bool korvalen_copy(const std::string& source, const fs::path& output) {
    kvl::disk_storage storage;
    if (!storage.open(kvl::utf8_to_utf16(source))) return false;
    const bool saved =
        storage.save_image(kvl::utf8_to_utf16(output.string()), kvl::platform::output_mode::create_new);
    storage.close();
    return saved;
}

void report(const char* name, double seconds, double reference) {
    std::printf("%-28s %7.3f s  %8.0f MB/s  %5.2f x dd\n", name, seconds, image_size / seconds / 1e6,
                reference / seconds);
}

}  // namespace

int main() {
    const fs::path folder = fs::temp_directory_path() / "korvalen-image-bench";
    fs::create_directories(folder);
    const std::string source = source_image(folder);
    const fs::path output = folder / "copy.img";
    const std::string quoted_source = "'" + source + "'";
    const std::string quoted_output = "'" + output.string() + "'";
    const auto dd_with = [&](const std::string& options) {
        return best_seconds(
            [&] {
                return std::system(("dd if=" + quoted_source + " of=" + quoted_output + " bs=1M status=none" +
                                    options)
                                       .c_str()) == 0;
            },
            output);
    };
    const double dd = dd_with("");
    // The copy puts the image on the storage before its map calls it copied, as ddrescue does; dd
    // does the same only when told to.
    const double dd_synced = dd_with(" conv=fdatasync");
    kvl::platform::manual_clock clock;
    kvl::platform::memory_message_box boxes;
    kvl::platform::silent_progress_factory progress;
    kvl::platform::idle_pump pump;
    kvl::platform::scoped_ui ui({&boxes, &progress, &pump, kvl::platform::ui().clock});
    const double korvalen = best_seconds([&] { return korvalen_copy(source, output); }, output);
    std::printf("Copying a healthy %lld MiB image (page cache to a file in %s):\n",
                static_cast<long long>(image_size >> 20), folder.c_str());
    report("dd bs=1M", dd, dd);
    report("dd bs=1M conv=fdatasync", dd_synced, dd);
    report("korvalen save-image", korvalen, dd);
    if (std::system("command -v ddrescue >/dev/null") == 0) {
        const double ddrescue = best_seconds(
            [&] {
                return std::system(("ddrescue -q " + quoted_source + " " + quoted_output + " " +
                                    quoted_output + ".map")
                                       .c_str()) == 0;
            },
            output);
        report("GNU ddrescue", ddrescue, dd);
    }
    std::error_code error;
    fs::remove_all(folder, error);
    std::printf("korvalen save-image: %.2f x dd bs=1M conv=fdatasync\n", dd_synced / korvalen);
    return korvalen > 0 && dd_synced / korvalen >= 0.9 ? 0 : 1;
}
