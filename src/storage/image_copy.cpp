#include "storage/image_copy.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/message_log.h"
#include "core/text.h"
#include "platform/atomic_file.h"
#include "platform/ui.h"
#include "storage/disk_storage.h"
#include "storage/file_stream.h"

namespace kvl {

namespace {

// The first jump past a bad block, and the longest: a dying region is left for later quickly, and
// the healthy rest of the disk is saved first.
constexpr int64_t first_skip = 64 * 1024;
constexpr int64_t max_skip_share = 100;  // at most 1 % of the source in one jump
// How often the map is written: each save first puts the image's bytes on the storage, so it is
// rare while reads succeed and frequent while they fail, when what the map says changes most.
constexpr uint64_t map_interval_ms = 30000;
constexpr uint64_t map_interval_on_errors_ms = 1000;
// A map file is small; one larger than this is no map.
constexpr int64_t max_map_bytes = 64 * 1024 * 1024;
// Retries beyond this would only keep a dead sector busy.
constexpr int32_t max_sector_retries = 64;

std::u16string u16(const std::string& text) {
    return utf8_to_utf16(text);
}

bool path_exists(const std::string& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

}  // namespace

image_copy::image_copy(disk_storage& source, const std::string& output_path)
    : source_(source), path_(output_path), map_path_(output_path + ".map") {}

bool image_copy::run(platform::output_mode mode) {
    size_ = source_.byte_size();
    if (size_ < 0) {
        report_error("disk_storage::save_image", u"The size of the source is not known");
        return false;
    }
    sector_ = std::max(source_.device_sector_size(), 1);
    block_size = std::max<int32_t>(block_size / static_cast<int32_t>(sector_) * static_cast<int32_t>(sector_),
                                   static_cast<int32_t>(sector_));
    const bool output_existed = path_exists(path_);
    if (!output_allowed(mode, output_existed) || !load_map(mode, output_existed) || !open_output(mode) ||
        !prepare_output())
        return false;
    buffer_.assign(static_cast<size_t>(block_size), 0);
    save_map(true);
    // The window is up from the start, so that a copy can always be cancelled.
    progress.show_after_delay = false;
    progress.start(u"Processing", size_ - map_.bytes_with(area_status::finished));
    bool going = copy_pass(true) && copy_pass(false);
    going = going && start_phase(u"Trimming bad areas", area_status::non_trimmed) && trim_pass();
    going = going && start_phase(u"Reading bad areas sector by sector", area_status::non_scraped) &&
            scrape_pass(area_status::non_scraped);
    const int32_t retries = std::clamp(source_.sector_retries, 0, max_sector_retries);
    for (int32_t retry = 0; going && retry < retries && map_.bytes_with(area_status::bad_sector) > 0;
         ++retry) {
        map_.current_pass = retry + 2;
        going = start_phase(u"Reading bad sectors again", area_status::bad_sector) &&
                scrape_pass(area_status::bad_sector);
    }
    finish();
    return !write_failed_;
}

// Writing over the source is the first thing refused, whatever else stands in the way.
bool image_copy::output_allowed(platform::output_mode mode, bool output_existed) {
    std::u16string why;
    if (platform::output_touches_source(path_, source_.file(), why)) {
        report_error("disk_storage::save_image", why);
        return false;
    }
    if (mode == platform::output_mode::create_new && output_existed) {
        report_error("disk_storage::save_image",
                     u"\"" + u16(path_) + u"\" already exists and is not replaced");
        return false;
    }
    return true;
}

bool image_copy::load_map(platform::output_mode mode, bool output_existed) {
    std::u16string why;
    if (platform::output_touches_source(map_path_, source_.file(), why)) {
        report_error("disk_storage::save_image", why);
        return false;
    }
    const bool map_exists = path_exists(map_path_);
    map_.reset(size_);
    if (mode == platform::output_mode::create_new && map_exists) {
        report_error("disk_storage::save_image",
                     u"\"" + u16(map_path_) + u"\" already exists and is not replaced");
        return false;
    }
    if (mode != platform::output_mode::resume) return true;
    if (!map_exists) {
        if (!output_existed) return true;
        report_error("disk_storage::save_image",
                     u"\"" + u16(path_) + u"\" has no map \"" + u16(map_path_) +
                         u"\" beside it; what it holds is not known, so it cannot be resumed");
        return false;
    }
    std::vector<uint8_t> bytes;
    if (!read_small_file(u16(map_path_), max_map_bytes, bytes)) return false;
    rescue_map loaded;
    if (!loaded.parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), why)) {
        report_error("disk_storage::save_image", u"\"" + u16(map_path_) + u"\" cannot be resumed: " + why);
        return false;
    }
    if (loaded.size() > size_) {
        report_error("disk_storage::save_image", u"\"" + u16(map_path_) + u"\" maps " +
                                                     decimal(loaded.size()) +
                                                     u" bytes, more than the source's " + decimal(size_) +
                                                     u"; it is the map of another source");
        return false;
    }
    if (!output_holds(loaded, output_existed)) return false;
    loaded.fit(size_);
    map_ = loaded;
    log_note(u"Resuming \"" + u16(path_) + u"\": " + decimal(map_.bytes_with(area_status::finished)) +
             u" bytes are already copied");
    return true;
}

// A map that calls bytes copied is only worth resuming with the image those bytes went into.
bool image_copy::output_holds(const rescue_map& loaded, bool output_existed) {
    int64_t copied_end = 0;
    for (const map_area& area : loaded.areas())
        if (area.status == area_status::finished) copied_end = area.position + area.size;
    struct stat st {};
    const bool short_file =
        output_existed && ::stat(path_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_size < copied_end;
    if (copied_end == 0 || (output_existed && !short_file)) return true;
    report_error("disk_storage::save_image", u"\"" + u16(map_path_) + u"\" says " + decimal(copied_end) +
                                                 u" bytes were copied, but \"" + u16(path_) +
                                                 (output_existed ? u"\" is shorter" : u"\" is not there") +
                                                 u"; the copy cannot be resumed");
    return false;
}

bool image_copy::open_output(platform::output_mode mode) {
    std::u16string why;
    if (!platform::open_image_output(path_, source_.file(), mode, output_, why)) {
        report_error("disk_storage::save_image", why);
        return false;
    }
    return true;
}

// A file image gets the source's size at once, so a cut copy is already whole-sized and its gaps
// read as zeros; a device must be large enough to take the image.
bool image_copy::prepare_output() {
    struct stat st {};
    const int64_t size = size_;
    if (::fstat(output_.descriptor(), &st) == 0 && S_ISREG(st.st_mode)) {
        if (st.st_size < size && !output_.truncate(size)) {
            report_error("disk_storage::save_image", u"");
            return false;
        }
        return true;
    }
    if (output_.size() < size) {
        report_error("disk_storage::save_image", u"\"" + u16(path_) + u"\" holds " + decimal(output_.size()) +
                                                     u" bytes, less than the source's " + decimal(size));
        return false;
    }
    return true;
}

int image_copy::copy_piece(int64_t position, int64_t length, area_status failed) {
    const int32_t n = static_cast<int32_t>(length);
    const bool read = source_.read_once(position, buffer_.data(), n);
    if (!read) std::fill_n(buffer_.begin(), n, 0);
    if ((read || failed == area_status::bad_sector) &&
        !output_.write_full_at(position, buffer_.data(), length)) {
        report_error("disk_storage::save_image", u"");
        write_failed_ = true;
        return -1;
    }
    map_.mark(position, length, read ? area_status::finished : failed);
    map_.current_position = position;
    save_map(false, !read);
    progress.step(n);
    return read ? 1 : 0;
}

bool image_copy::stopped() const {
    return write_failed_ || progress.cancelled;
}

// Each pass after the copying ones counts the bytes it goes over, so its window stays up and Cancel
// can be pressed in it; a pass with nothing to do is skipped.
bool image_copy::start_phase(std::u16string_view title, area_status status) {
    if (stopped()) return false;
    const int64_t bytes = map_.bytes_with(status);
    if (bytes > 0) progress.start(title, bytes);
    return true;
}

// Reads every area not yet tried, block by block; with `skipping`, a failed block makes the copy
// jump ahead, leaving what it jumped over for the pass without skipping.
bool image_copy::copy_pass(bool skipping) {
    map_.current_status = '?';
    const int64_t max_skip = std::max<int64_t>(first_skip, map_.size() / max_skip_share / sector_ * sector_);
    int64_t skip = first_skip;
    int64_t from = 0;
    for (auto area = map_.find(from, area_status::non_tried); area && !stopped();
         area = map_.find(from, area_status::non_tried)) {
        int64_t at = area->position;
        const int64_t end = area->position + area->size;
        while (at < end && !stopped()) {
            const int64_t length = std::min<int64_t>(block_size, end - at);
            const int result = copy_piece(at, length, area_status::non_trimmed);
            if (result < 0) return false;
            at += length;
            if (result == 1) {
                skip = first_skip;
            } else if (skipping) {
                at = std::min(end, at + skip);
                skip = std::min(skip * 2, max_skip);
            }
        }
        from = at;
    }
    return !stopped();
}

// A failed block is read sector by sector from its front until a sector fails and from its back
// until one fails; what lies between is left for scraping.
bool image_copy::trim_pass() {
    map_.current_status = '*';
    for (auto area = map_.find(0, area_status::non_trimmed); area && !stopped();
         area = map_.find(area->position + area->size, area_status::non_trimmed)) {
        const int64_t end = area->position + area->size;
        int64_t front = area->position;
        int result = 1;
        while (front < end && result == 1 && !stopped()) {
            const int64_t length = std::min(sector_, end - front);
            if ((result = copy_piece(front, length, area_status::bad_sector)) < 0) return false;
            front += length;
        }
        int64_t back = end;
        result = 1;
        while (back > front && result == 1 && !stopped()) {
            const int64_t length = std::min(sector_, back - front);
            if ((result = copy_piece(back - length, length, area_status::bad_sector)) < 0) return false;
            back -= length;
        }
        if (back > front && !stopped()) map_.mark(front, back - front, area_status::non_scraped);
    }
    return !stopped();
}

// Reads every sector of the areas with a status, one by one: the non-scraped areas once, and the
// bad sectors again in each retry.
bool image_copy::scrape_pass(area_status status) {
    map_.current_status = status == area_status::bad_sector ? '-' : '/';
    int64_t from = 0;
    for (auto area = map_.find(from, status); area && !stopped(); area = map_.find(from, status)) {
        const int64_t end = area->position + area->size;
        for (int64_t at = area->position; at < end && !stopped(); at += sector_)
            if (copy_piece(at, std::min(sector_, end - at), area_status::bad_sector) < 0) return false;
        from = end;
    }
    return !stopped();
}

void image_copy::save_map(bool now, bool after_error) {
    const uint64_t tick = platform::ui().clock->now_ms();
    if (!now && tick - map_saved_ms_ < (after_error ? map_interval_on_errors_ms : map_interval_ms)) return;
    map_saved_ms_ = tick;
    // The image's bytes are on the storage before a map that calls them copied.
    if (!output_.sync_data()) {
        report_error("disk_storage::save_image",
                     u"Cannot write \"" + u16(path_) + u"\": " + utf8_to_utf16(std::strerror(errno)));
        write_failed_ = true;
        return;
    }
    const std::string command = "korvalen save-image '" + utf16_to_utf8(source_.source) + "' '" + path_ + "'";
    if (!platform::replace_file_atomically(map_path_, map_.text(command))) {
        report_error("disk_storage::save_image",
                     u"Cannot write \"" + u16(map_path_) + u"\": " + utf8_to_utf16(std::strerror(errno)));
        write_failed_ = true;
    }
}

void image_copy::finish() {
    read_bytes = map_.bytes_with(area_status::finished);
    bad_bytes = map_.bytes_with(area_status::bad_sector);
    left_bytes = map_.size() - read_bytes - bad_bytes;
    if (left_bytes == 0 && !progress.cancelled) map_.current_status = '+';
    if (!write_failed_) save_map(true);
    if (!output_.close() && !write_failed_) {
        report_error("disk_storage::save_image", u"");
        write_failed_ = true;
    }
    const std::u16string summary = u"\"" + u16(path_) + u"\": " + decimal(read_bytes) + u" bytes read, " +
                                   decimal(bad_bytes) + u" bytes unreadable (zeros in the image), " +
                                   decimal(left_bytes) + u" bytes left";
    if (bad_bytes == 0 && left_bytes == 0)
        log_note(summary);
    else
        report_error(
            "disk_storage::save_image",
            summary +
                (left_bytes > 0 ? u"; the map \"" + u16(map_path_) + u"\" lets the copy be resumed" : u""));
}

}  // namespace kvl
