// "rescue.map": the bytes as a ddrescue map file. A map that is accepted must cover 0 to size()
// without gaps, write a text that reads back the same, and stay so through marks and fits chosen
// from the bytes, each checked against a plain list of the areas.
#include <algorithm>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz_support.h"
#include "storage/rescue_map.h"

namespace {

using kvl::area_status;
using kvl::map_area;

void check(bool ok) {
    if (!ok) __builtin_trap();
}

void check_well_formed(const kvl::rescue_map& map) {
    const std::vector<map_area> areas = map.areas();
    int64_t end = 0;
    int64_t total = 0;
    for (size_t i = 0; i < areas.size(); ++i) {
        check(areas[i].position == end && areas[i].size > 0);
        check(i == 0 || areas[i].status != areas[i - 1].status);
        end = areas[i].position + areas[i].size;
    }
    check(end == map.size());
    for (const area_status status :
         {area_status::non_tried, area_status::non_trimmed, area_status::non_scraped, area_status::bad_sector,
          area_status::finished})
        total += map.bytes_with(status);
    check(total == map.size());
}

void check_reads_back(const kvl::rescue_map& map) {
    kvl::rescue_map again;
    std::u16string error;
    check(again.parse(map.text("fuzz\ncommand"), error));
    check(again.areas() == map.areas() && again.size() == map.size());
    check(again.current_position == map.current_position && again.current_status == map.current_status &&
          again.current_pass == map.current_pass);
}

// The areas with [begin, end) given a status (begin < end, both inside), neighbours joined.
std::vector<map_area> painted(const std::vector<map_area>& areas, int64_t begin, int64_t end,
                              area_status status) {
    std::vector<map_area> out;
    auto add = [&out](int64_t position, int64_t size, area_status s) {
        if (size <= 0) return;
        if (!out.empty() && out.back().status == s)
            out.back().size += size;
        else
            out.push_back({position, size, s});
    };
    bool placed = false;
    for (const map_area& a : areas) {
        const int64_t a_end = a.position + a.size;
        add(a.position, std::min(a_end, begin) - a.position, a.status);
        if (!placed && a_end > begin) {
            add(begin, end - begin, status);
            placed = true;
        }
        const int64_t from = std::max(a.position, end);
        add(from, a_end - from, a.status);
    }
    return out;
}

// The areas cut to `new_size`, or followed by non-tried bytes up to it.
std::vector<map_area> fitted(const std::vector<map_area>& areas, int64_t old_size, int64_t new_size) {
    std::vector<map_area> out;
    for (const map_area& a : areas)
        if (a.position < new_size)
            out.push_back({a.position, std::min(a.size, new_size - a.position), a.status});
    if (new_size > old_size) {
        if (!out.empty() && out.back().status == area_status::non_tried)
            out.back().size += new_size - old_size;
        else
            out.push_back({old_size, new_size - old_size, area_status::non_tried});
    }
    return out;
}

// Values from the bytes, so the fuzzer's changes to them change the operations too.
class picker {
  public:
    picker(const uint8_t* data, size_t size) {
        for (size_t i = 0; i < size; ++i) state_ = (state_ ^ data[i]) * 0x100000001B3ull;
    }
    uint64_t next() {
        state_ += 0x9E3779B97F4A7C15ull;
        uint64_t z = state_;
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // Near the map mostly, so the ends and the areas' boundaries are hit; now and then anything.
    int64_t around(int64_t size) {
        const uint64_t kind = next() % 8;
        if (kind == 0) return static_cast<int64_t>(next());
        if (kind == 1) return std::numeric_limits<int64_t>::max();
        const uint64_t span = static_cast<uint64_t>(std::min<int64_t>(size, (int64_t{1} << 62))) + 3;
        return static_cast<int64_t>(next() % span) - 1;
    }

  private:
    uint64_t state_ = 0xCBF29CE484222325ull;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    kvl::fuzz::quiet_ui ui;
    kvl::rescue_map map;
    std::u16string error;
    if (!map.parse(std::string_view(reinterpret_cast<const char*>(data), size), error)) {
        check(!error.empty() && map.size() == 0 && map.areas().empty());
        return 0;
    }
    check_well_formed(map);
    check_reads_back(map);

    picker pick(data, size);
    const area_status statuses[] = {area_status::non_tried, area_status::non_trimmed,
                                    area_status::non_scraped, area_status::bad_sector, area_status::finished};
    for (int step = 0; step < 8; ++step) {
        const std::vector<map_area> before = map.areas();
        const int64_t map_size = map.size();
        if (pick.next() % 4 == 0) {
            const int64_t new_size = std::max<int64_t>(pick.around(map_size), 0);
            map.fit(new_size);
            check(map.size() == new_size);
            check(map.areas() == fitted(before, map_size, new_size));
        } else {
            const int64_t position = pick.around(map_size);
            const int64_t length = pick.around(map_size);
            const area_status status = statuses[pick.next() % 5];
            map.mark(position, length, status);
            int64_t end = 0;
            if (__builtin_add_overflow(position, length, &end)) end = std::numeric_limits<int64_t>::max();
            const int64_t begin = std::max<int64_t>(position, 0);
            end = std::min(end, map_size);
            check(map.size() == map_size);
            check(map.areas() == (length > 0 && begin < end ? painted(before, begin, end, status) : before));
            if (length > 0 && begin < end) {
                const std::optional<map_area> found = map.find(begin, status);
                check(found && found->position == begin && found->position + found->size >= end);
            }
        }
        check_well_formed(map);
    }
    check_reads_back(map);
    return 0;
}
