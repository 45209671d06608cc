#include "scan/xfs_scan.h"

#include <algorithm>
#include <vector>

#include "config/config.h"
#include "items/kvl_file_item_manager.h"
#include "platform/ui.h"

namespace kvl {

bool xfs_scan::prepare() {
    std::vector<platform::file_type_row> rows;
    for (const xfs_node& node : definitions.nodes) {
        int image = -1;
        if (icons) {
            icons->deleted_look = false;
            image = icons->icon_index(node.extension);
        }
        rows.push_back({node.description, node.group, image == -1 ? IMAGE_UNKNOWN_FOUND_FILE : image, false});
    }
    std::vector<int> chosen;
    definitions.select(default_format_selection, chosen);
    for (int index : chosen) rows[static_cast<size_t>(index)].checked = true;
    scan_chosen = dialog && dialog->choose(rows, [](const std::vector<platform::file_type_row>& answer) {
        if (std::any_of(answer.begin(), answer.end(), [](const auto& row) { return row.checked; }))
            return true;
        platform::ui().boxes->show(u"Low-level file search", u"Please select file types to search",
                                   platform::box_icon::information);
        return false;
    });
    if (scan_chosen)
        for (size_t i = 0; i < rows.size(); ++i) definitions.nodes[i].selected = rows[i].checked;
    expected_size = int64_t{app_config().get(u"generic_scan_expected_file_size").as_int()} * 1048576;
    return scan_chosen;
}

void xfs_scan::choose_candidates() {
    candidates_.clear();
    for (size_t j = 0; j < definitions.nodes.size(); ++j) {
        const xfs_node& node = definitions.nodes[j];
        if (node.selected)
            candidates_.push_back({&node, static_cast<int32_t>(j), node.offset, node.first_byte()});
    }
}

int32_t xfs_scan::test_records(int64_t disk_position, const uint8_t* data, int32_t length, int32_t limit,
                               bool complete) {
    const int32_t step = record_step;
    int32_t r = 0;
    for (; r + step <= length && r < limit; r += step) {
        if (!complete && length - r < XFS_MATCH_WINDOW) return r;
        const int32_t seen = std::min(length - r, XFS_MATCH_WINDOW);
        for (const candidate& c : candidates_) {
            // Most records fail on the first byte; the full test runs only where it agrees.
            if (c.first >= 0 && (c.offset >= seen || data[r + c.offset] != c.first)) continue;
            if (c.node->matches(data + r, seen)) add_hit({disk_position + r, expected_size, c.index});
        }
    }
    return r;
}

bool xfs_scan::process_block(int64_t disk_position, int64_t, uint8_t* data, int32_t length) {
    choose_candidates();
    int32_t start = 0;
    if (!carry_.empty() && disk_position != carry_position_ + static_cast<int64_t>(carry_.size())) finish();
    if (!carry_.empty()) {
        // The waiting records see the start of this block; when it is too short even for that,
        // all of it waits with them.
        const int32_t carried = static_cast<int32_t>(carry_.size());
        const int32_t head = std::min(length, XFS_MATCH_WINDOW);
        carry_.insert(carry_.end(), data, data + head);
        const int32_t done =
            test_records(carry_position_, carry_.data(), static_cast<int32_t>(carry_.size()), carried, false);
        if (done < carried) {
            carry_.erase(carry_.begin(), carry_.begin() + done);
            carry_position_ += done;
            return true;
        }
        start = done - carried;
        carry_.clear();
    }
    const int32_t done =
        start + test_records(disk_position + start, data + start, length - start, length, false);
    carry_.assign(data + done, data + length);
    carry_position_ = disk_position + done;
    return true;
}

void xfs_scan::finish() {
    choose_candidates();
    test_records(carry_position_, carry_.data(), static_cast<int32_t>(carry_.size()),
                 static_cast<int32_t>(carry_.size()), true);
    carry_.clear();
}

}  // namespace kvl
