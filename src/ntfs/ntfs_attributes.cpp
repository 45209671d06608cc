#include "ntfs/ntfs_attributes.h"

#include <algorithm>
#include <map>
#include <set>

#include "core/text.h"
#include "ntfs/copy_chunks.h"
#include "ntfs/lznt1.h"

namespace kvl {

namespace {

// An attribute list is a few kilobytes; what a damaged size field claims beyond this is not read.
constexpr int64_t max_attribute_list = 100 * 1024 * 1024;
constexpr int64_t max_unit_bytes = 16 * 1024 * 1024;
// A record's attributes fit in a few hundred list entries over a few dozen extension records.
constexpr size_t max_list_entries = 65536;
constexpr size_t max_extension_records = 4096;

bool fits_bytes(int64_t clusters, int32_t cluster_size) {
    return clusters >= 0 && clusters <= INT64_MAX / std::max(cluster_size, 1);
}

}  // namespace

std::u16string attribute::name(const le_bytes& a) {
    const le_bytes units = a.sub(a.u16(10), uint64_t{a.u8(9)} * 2);
    std::u16string out;
    for (size_t i = 0; i + 1 < units.size(); i += 2) out.push_back(static_cast<char16_t>(units.u16(i)));
    return out;
}

le_bytes attribute::value(const le_bytes& a) {
    if (!is_resident(a)) return {};
    return a.sub(a.u16(20), a.u32(16));
}

std::u16string record_damage(const le_bytes& record) {
    if (record.i32(24) > static_cast<int64_t>(record.size()) || record.i32(24) < 0)
        return u"its bytes in use exceed the record";
    bool names_fit = true;
    const bool whole = walk_attributes(record, [&](uint32_t, const le_bytes& a) {
        if (attribute::type(a) == AT_FILE_NAME) {
            const le_bytes value = attribute::value(a);
            names_fit = names_fit && value.fits(0, 66) && value.fits(66, 2 * uint64_t{value.u8(64)});
        }
        return true;
    });
    if (!whole) return u"its attributes break off before their end";
    if (!names_fit) return u"a file name reaches past its attribute (it is cut there)";
    return u"";
}

le_bytes find_resident_attribute(const le_bytes& record, uint32_t type) {
    le_bytes found;
    walk_attributes(record, [&](uint32_t, const le_bytes& a) {
        if (attribute::type(a) != type || !attribute::is_resident(a)) return true;
        found = attribute::value(a);
        return false;
    });
    return found;
}

le_bytes find_attribute_by_position(const le_bytes& record, uint32_t n) {
    le_bytes found;
    uint32_t index = 0;
    walk_attributes(record, [&](uint32_t, const le_bytes& a) {
        if (index++ != n) return true;
        found = a;
        return false;
    });
    return found;
}

std::optional<run_list> decode_runlist(int32_t cluster_size, const le_bytes& a, const run_list* previous) {
    const int64_t lowest = attribute::lowest_vcn(a);
    if (attribute::is_resident(a) || lowest < 0) return std::nullopt;
    uint64_t p = a.u16(32);
    if (p >= a.size()) return std::nullopt;
    run_list runs;
    int64_t vcn = lowest;
    int64_t lcn = 0;
    if (lowest != 0) runs.push_back({0, LCN_NOT_MAPPED, lowest});
    while (p < a.size() && a.u8(p) != 0) {
        const unsigned h = a.u8(p);
        const unsigned length_bytes = h & 0x0F;
        const unsigned offset_bytes = h >> 4;
        if (length_bytes == 0 || length_bytes > 8 || offset_bytes > 8 ||
            !a.fits(p + 1, length_bytes + offset_bytes))
            return std::nullopt;
        const int64_t length = a.signed_n(p + 1, length_bytes);
        if (length < 0 || !fits_bytes(length, cluster_size)) return std::nullopt;
        int64_t run_lcn = LCN_HOLE;
        if (offset_bytes != 0) {
            if (__builtin_add_overflow(lcn, a.signed_n(p + 1 + length_bytes, offset_bytes), &lcn) ||
                lcn < 0 || !fits_bytes(lcn, cluster_size) || !fits_bytes(lcn + length, cluster_size))
                return std::nullopt;
            run_lcn = lcn;
        }
        runs.push_back({vcn, run_lcn, length});
        if (__builtin_add_overflow(vcn, length, &vcn) || !fits_bytes(vcn, cluster_size)) return std::nullopt;
        p += 1 + length_bytes + offset_bytes;
    }
    if (p >= a.size()) return std::nullopt;  // the terminating 0 must lie inside the attribute
    const int64_t highest = attribute::highest_vcn(a);
    if (highest != 0 && highest != vcn - 1) return std::nullopt;
    runs.push_back({vcn, lowest == 0 ? LCN_END : LCN_NOT_MAPPED, 0});
    if (!previous) return runs;
    return merge_runlists(*previous, runs);
}

std::optional<run_list> merge_runlists(const run_list& previous, const run_list& fresh) {
    run_list mapped;
    bool base = false;
    for (const run_list* list : {&previous, &fresh})
        for (const run& r : *list) {
            if (r.lcn == LCN_END) base = true;
            if (r.lcn >= LCN_HOLE && r.length > 0) mapped.push_back(r);
        }
    std::stable_sort(mapped.begin(), mapped.end(), [](const run& x, const run& y) { return x.vcn < y.vcn; });
    run_list merged;
    int64_t end = 0;
    for (const run& r : mapped) {
        if (r.vcn < end) return std::nullopt;  // overlaps what is already mapped
        if (r.vcn > end) merged.push_back({end, LCN_NOT_MAPPED, r.vcn - end});
        if (!merged.empty()) {
            run& last = merged.back();
            const bool joins = last.vcn + last.length == r.vcn &&
                               ((last.lcn == LCN_HOLE && r.lcn == LCN_HOLE) ||
                                (last.lcn >= 0 && r.lcn >= 0 && r.lcn == last.lcn + last.length));
            if (joins) {
                last.length += r.length;
                end = r.vcn + r.length;
                continue;
            }
        }
        merged.push_back(r);
        end = r.vcn + r.length;
    }
    merged.push_back({end, base ? LCN_END : LCN_NOT_MAPPED, 0});
    return merged;
}

namespace {

void add_extent(data_chunks& out, const chunk_item& extent) {
    if (extent.length <= 0) return;
    if (!out.chunks.empty()) {
        chunk_item& last = out.chunks.back();
        const bool both_holes =
            last.offset < 0 && extent.offset < 0 && last.stored_length == 0 && extent.stored_length == 0;
        const bool adjacent = last.offset >= 0 && last.stored_length == 0 && extent.stored_length == 0 &&
                              last.offset + last.length == extent.offset;
        if (both_holes || adjacent) {
            last.length += extent.length;
            return;
        }
    }
    out.add_chunk(extent);
}

// The runs that cover [from, to): (lcn or LCN_HOLE, clusters), in order.
std::vector<run> pieces_of(const run_list& runs, int64_t from, int64_t to) {
    std::vector<run> out;
    for (const run& r : runs) {
        const int64_t start = std::max(r.vcn, from);
        const int64_t stop = std::min(r.vcn + r.length, to);
        if (start >= stop) continue;
        out.push_back({start, r.lcn == LCN_HOLE ? LCN_HOLE : r.lcn + (start - r.vcn), stop - start});
    }
    return out;
}

// A compressed attribute is a sequence of units of u clusters: all sparse (zeros), all allocated
// (stored as they are), or allocated clusters then sparse ones (the allocated ones hold the unit
// compressed). Runs that cover whole units are taken in one step, so a huge run costs no more
// than a small one.
bool compressed_runs_to_chunks(const run_list& runs, data_chunks& out, int32_t cs, int64_t u) {
    const int64_t end = runs.empty() ? 0 : runs.back().vcn + runs.back().length;
    int64_t unit = 0;
    size_t cursor = 0;
    while (unit < end) {
        while (cursor < runs.size() && runs[cursor].vcn + runs[cursor].length <= unit) ++cursor;
        if (cursor == runs.size()) break;
        const run& r = runs[cursor];
        const int64_t whole = r.vcn <= unit ? (r.vcn + r.length - unit) / u : 0;
        if (whole > 0) {  // whole units inside one run
            const int64_t offset = r.lcn == LCN_HOLE ? -cs : (r.lcn + unit - r.vcn) * cs;
            add_extent(out, {offset, whole * u * cs, 0});
            unit += whole * u;
            continue;
        }
        const int64_t unit_end = std::min(unit + u, end);
        const std::vector<run> pieces = pieces_of(runs, unit, unit_end);
        int64_t allocated = 0;
        bool contiguous = true;
        for (size_t i = 0; i < pieces.size(); ++i) {
            if (pieces[i].lcn == LCN_HOLE) continue;
            if (allocated > 0 &&
                (pieces[i - 1].lcn == LCN_HOLE || pieces[i].lcn != pieces[i - 1].lcn + pieces[i - 1].length))
                contiguous = false;
            allocated += pieces[i].length;
        }
        const int64_t span = unit_end - unit;
        if (allocated == 0) {
            add_extent(out, {-cs, span * cs, 0});
        } else if (allocated == span) {
            for (const run& piece : pieces) add_extent(out, {piece.lcn * cs, piece.length * cs, 0});
        } else if (contiguous && pieces.front().lcn != LCN_HOLE) {
            add_extent(out, {pieces.front().lcn * cs, span * cs, allocated * cs});
        } else {
            return false;  // a unit whose stored clusters are scattered cannot be read as one unit
        }
        unit = unit_end;
    }
    return true;
}

}  // namespace

bool runs_to_chunks(const le_bytes& first, const run_list& runs, data_chunks& out, int32_t cs) {
    out.chunks.clear();
    // A stretch no extent maps (its extent could not be read) reads as zeros, so the data after
    // it keeps its place.
    run_list mapped;
    for (const run& r : runs) {
        if (r.lcn == LCN_END) break;
        if (r.lcn >= LCN_HOLE || (r.lcn == LCN_NOT_MAPPED && r.length > 0))
            mapped.push_back({r.vcn, r.lcn == LCN_NOT_MAPPED ? LCN_HOLE : r.lcn, r.length});
    }
    // Sparse attributes carry a compression unit too; only a compressed one holds LZNT1 units.
    const unsigned exponent = first.u8(34);
    const bool compressed = (first.u16(12) & ATTR_IS_COMPRESSED) != 0;
    if (exponent == 0 || !compressed) {
        out.filter.clear();
        for (const run& r : mapped) add_extent(out, {r.lcn == LCN_HOLE ? -cs : r.lcn * cs, r.length * cs, 0});
        return true;
    }
    const int64_t u = int64_t{1} << std::min(exponent, 30u);
    if (exponent > 16 || u * cs > max_unit_bytes) return false;
    out.filter = lznt1_decompress;
    return compressed_runs_to_chunks(mapped, out, cs, u);
}

void resident_patches(const le_bytes& record, uint64_t value_start, uint64_t value_length, data_chunks& out) {
    out.patches.clear();
    const uint16_t count = record.u16(6);
    const uint64_t array = record.u16(4) & ~1u;
    for (uint64_t i = 1; i < count && record.fits(array + 2 * i, 2); ++i) {
        for (uint64_t k = 0; k < 2; ++k) {
            const uint64_t at = 512 * i - 2 + k;
            if (at >= value_start && at < value_start + value_length)
                out.patches.push_back({static_cast<int64_t>(at - value_start), record.u8(array + 2 * i + k)});
        }
    }
}

// A record read by its offset may come from an older volume with other clusters than the current
// one; its own non-resident attributes tell: allocated bytes over the clusters their runs map.
int64_t ntfs_attributes::record_number() const {
    return record->record_index >= 0 ? record->record_index : record->bytes().u32(44);
}

int32_t ntfs_attributes::cluster_size() const {
    const int32_t volume = record && record->storage ? ntfs_cluster_size(*record->storage) : 0;
    if (!record || record->mft_chunks.total_length() != 0) return volume;
    for (const auto& item : items) {
        const le_bytes& a = item->header;
        if (a.empty() || attribute::is_resident(a) || attribute::lowest_vcn(a) != 0) continue;
        const int64_t highest = attribute::highest_vcn(a);
        if (highest < 0 || highest == INT64_MAX) continue;
        const int64_t clusters = highest + 1;
        const int64_t allocated = a.i64(40);
        if (clusters <= 0 || allocated <= 0 || allocated % clusters != 0) continue;
        const int64_t size = allocated / clusters;
        if (size >= 512 && size <= 65536 && (size & (size - 1)) == 0) return static_cast<int32_t>(size);
    }
    return volume;
}

bool ntfs_attributes::load(ntfs_record& source, bool follow_lists) {
    record = &source;
    items.clear();
    list_streams.clear();
    bool listed_without_mft = false;
    walk_attributes(source.bytes(), [&](uint32_t position, const le_bytes& a) {
        auto item = std::make_unique<attribute_item>();
        item->header = a;
        item->record = source.bytes();
        item->position = position;
        item->record_offset = source.offset;
        items.push_back(std::move(item));
        if (attribute::type(a) == AT_ATTRIBUTE_LIST && follow_lists) {
            if (source.mft_chunks.total_length() == 0) {
                listed_without_mft = true;
                return false;
            }
            follow_list(*items.back());
        }
        return true;
    });
    std::erase_if(items, [](const std::unique_ptr<attribute_item>& item) {
        return !item->list_entry.empty() &&
               (item->header.empty() || attribute::type(item->header) != item->list_entry.u32(0));
    });
    if (listed_without_mft) {
        report_error("ntfs_attributes::load", u"$MFT data chunks for attrlist support not specified");
        return false;
    }
    return true;
}

// Reads the list's value and adds, for every entry, the attribute it designates in its record:
// the one with the entry's type and instance number; the entry's instance taken as a position only
// when no attribute carries that instance.
void ntfs_attributes::follow_list(const attribute_item& list) {
    data_chunks chunks;
    if (!get_chunks(list, chunks, cluster_size())) return;
    const int64_t declared =
        attribute::is_resident(list.header) ? chunks.total_length() : attribute::data_size(list.header);
    truncate_chunks(chunks, std::clamp<int64_t>(declared, 0, max_attribute_list));
    auto value = std::make_unique<memory_stream>(1);
    memory_stream* target = value.get();
    list_streams.push_back(std::move(value));
    disk_storage& storage = *record->storage;
    copy_chunks(storage, chunks, storage.sector_size * 512,
                [target](int64_t, int64_t, const uint8_t* data, int32_t length) {
                    return target->write(data, length);
                });
    const le_bytes entries(target->bytes());
    const int64_t own = record_number();
    // Each extension record is read and kept once, however many entries name it.
    std::map<int64_t, std::pair<std::shared_ptr<const std::vector<uint8_t>>, int64_t>> extensions;
    size_t count = 0;
    size_t missing = 0;
    for (uint64_t p = 0; entries.fits(p, 26) && count < max_list_entries; ++count) {
        const le_bytes entry = entries.sub(p, entries.u16(p + 4));
        if (entry.size() < 26) break;
        const int64_t index = static_cast<int64_t>(entry.u64(16) & MFT_REFERENCE_MASK);
        auto loaded = extensions.find(index);
        if (loaded == extensions.end() && extensions.size() < max_extension_records) {
            ntfs_record extension;
            std::shared_ptr<const std::vector<uint8_t>> bytes;
            // A record that is not this one or one of its extensions holds another file's attributes.
            const bool ours =
                extension.assign_by_index(storage, index, record->mft_chunks) &&
                (index == own || static_cast<int64_t>(extension.bytes().u64(32) & MFT_REFERENCE_MASK) == own);
            if (ours)
                bytes = std::make_shared<const std::vector<uint8_t>>(extension.data.bytes().begin(),
                                                                     extension.data.bytes().end());
            loaded = extensions.emplace(index, std::make_pair(bytes, extension.offset)).first;
        }
        if (loaded != extensions.end() && loaded->second.first) {
            auto item = std::make_unique<attribute_item>();
            item->holder = loaded->second.first;
            item->record = le_bytes(*item->holder);
            item->record_offset = loaded->second.second;
            item->list_entry = entry;
            item->list_stream = target;
            const uint32_t type = entry.u32(0);
            const uint16_t wanted = entry.u16(24);
            walk_attributes(item->record, [&](uint32_t position, const le_bytes& a) {
                if (attribute::type(a) != type || attribute::instance(a) != wanted) return true;
                item->header = a;
                item->position = position;
                return false;
            });
            if (item->header.empty()) {
                item->header = find_attribute_by_position(item->record, wanted);
                item->position = item->header.empty()
                                     ? 0
                                     : static_cast<uint64_t>(item->header.data() - item->record.data());
            }
            if (item->header.empty()) ++missing;
            items.push_back(std::move(item));
        } else {
            ++missing;
        }
        p += entry.size();
    }
    if (missing > 0)
        report_error("ntfs_attributes::follow_list", u"The attribute list of MFT record " + decimal(own) +
                                                         u" names " + decimal(static_cast<int64_t>(missing)) +
                                                         u" attributes that are not in its records");
}

size_t ntfs_attributes::find(uint32_t type, int64_t lowest_vcn, const std::u16string& name) const {
    for (size_t i = 0; i < items.size(); ++i) {
        const le_bytes& a = items[i]->header;
        if (a.empty() || attribute::type(a) != type) continue;
        if (lowest_vcn != 0 && attribute::lowest_vcn(a) != lowest_vcn) continue;
        if (name != u"dont_care" && attribute::name(a) != name) continue;
        return i;
    }
    return npos;
}

bool ntfs_attributes::get_chunks(const attribute_item& item, data_chunks& out, int32_t cs) {
    const le_bytes& a = item.header;
    if (attribute::is_resident(a)) {
        const le_bytes value = attribute::value(a);
        const uint64_t start = item.position + a.u16(20);
        out.chunks.clear();
        out.filter.clear();
        out.add_chunk(
            {item.record_offset + static_cast<int64_t>(start), static_cast<int64_t>(value.size()), 0});
        resident_patches(item.record, start, value.size(), out);
        return true;
    }
    const std::optional<run_list> runs = decode_runlist(cs, a, nullptr);
    if (!runs || cs <= 0 || !runs_to_chunks(a, *runs, out, cs)) {
        report_error("ntfs_attributes::get_chunks", u"Runlist decoding error");
        return false;
    }
    return true;
}

bool ntfs_attributes::get_data_chunks(data_chunks& out) {
    out.chunks.clear();
    const int32_t cs = cluster_size();
    std::optional<run_list> runs;
    size_t first = npos;
    std::set<size_t> taken;
    int64_t vcn = 0;
    while (true) {
        size_t found = find(AT_DATA, vcn, u"");
        // The data begins with the extent of lowest VCN 0 ("0" alone would take any extent).
        while (first == npos && found != npos && attribute::lowest_vcn(items[found]->header) != 0) {
            size_t next = npos;
            for (size_t i = found + 1; i < items.size() && next == npos; ++i) {
                const le_bytes& a = items[i]->header;
                if (!a.empty() && attribute::type(a) == AT_DATA && attribute::name(a).empty() &&
                    attribute::lowest_vcn(a) == 0)
                    next = i;
            }
            found = next;
        }
        if (found == npos || !taken.insert(found).second) break;
        const le_bytes& a = items[found]->header;
        if (first == npos) {
            first = found;
            if (attribute::is_resident(a)) return get_chunks(*items[found], out, cs);
        }
        std::optional<run_list> next = decode_runlist(cs, a, runs ? &*runs : nullptr);
        if (!next) break;  // what came before stays: a correct beginning of the data
        runs = std::move(next);
        const int64_t highest = attribute::highest_vcn(a);
        if (highest < 0 || highest == INT64_MAX) break;
        vcn = highest + 1;
    }
    if (first == npos) return true;  // no data at all: an empty file
    const le_bytes& head = items[first]->header;
    if (!runs || cs <= 0 || !runs_to_chunks(head, *runs, out, cs)) {
        report_error("ntfs_attributes::get_data_chunks", u"Runlist decoding error");
        return false;
    }
    // The data is the file's size, not its whole clusters; past the initialised size it reads as zeros.
    const int64_t size = attribute::data_size(head);
    if (size >= 0) truncate_chunks(out, size);
    if (out.total_length() < size) {
        // A run list that breaks off keeps the correct beginning it maps; the rest is reported.
        report_error("ntfs_attributes::get_data_chunks",
                     u"The run lists of MFT record " + decimal(record_number()) + u" map " +
                         decimal(out.total_length()) + u" of its " + decimal(size) + u" bytes");
        return false;
    }
    const int64_t initialized = attribute::initialized_size(head);
    if (initialized >= 0 && initialized < size) {
        int64_t before = 0;
        std::vector<chunk_item> split;
        for (const chunk_item& c : out.chunks) {
            if (c.stored_length == 0 && c.offset >= 0 && before + c.length > initialized) {
                const int64_t keep = std::max<int64_t>(initialized - before, 0);
                if (keep > 0) split.push_back({c.offset, keep, 0});
                split.push_back({-1, c.length - keep, 0});
            } else {
                split.push_back(c);
            }
            before += c.length;
        }
        out.chunks = std::move(split);
    }
    return true;
}

bool ntfs_attributes::read_data(stream& destination, int32_t cap_mb) {
    destination.flush();
    data_chunks chunks;
    if (!record || !record->storage || !get_data_chunks(chunks)) return false;
    if (cap_mb != -1) truncate_chunks(chunks, int64_t{cap_mb} * 1048576);
    disk_storage& storage = *record->storage;
    bool written = true;
    const bool copied = copy_chunks(storage, chunks, storage.sector_size * 512,
                                    [&](int64_t, int64_t, const uint8_t* data, int32_t length) {
                                        written = destination.write(data, length);
                                        return written;
                                    });
    return copied && written;
}

}  // namespace kvl
