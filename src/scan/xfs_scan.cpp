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
        if (std::any_of(answer.begin(), answer.end(), [](const auto& row) { return row.checked; })) return true;
        platform::ui().boxes->show(u"Low-level file search", u"Please select file types to search", platform::box_icon::information);
        return false;
    });
    if (scan_chosen)
        for (size_t i = 0; i < rows.size(); ++i) definitions.nodes[i].selected = rows[i].checked;
    expected_size = int64_t{app_config().get(u"generic_scan_expected_file_size").as_int()} * 1048576;
    return scan_chosen;
}

bool xfs_scan::process_block(int64_t disk_position, int64_t, uint8_t* data, int32_t length) {
    struct candidate {
        const xfs_node* node;
        int32_t index;
        int32_t offset;
        int first;
    };
    std::vector<candidate> selected;
    for (size_t j = 0; j < definitions.nodes.size(); ++j) {
        const xfs_node& node = definitions.nodes[j];
        if (node.selected) selected.push_back({&node, static_cast<int32_t>(j), node.offset, node.first_byte()});
    }
    const int32_t step = record_step;
    for (int32_t r = 0; r + step <= length; r += step)
        for (const candidate& c : selected) {
            // Most records fail on the first byte; the full test runs only where it agrees.
            if (c.first >= 0 && (c.offset >= length - r || data[r + c.offset] != c.first)) continue;
            if (c.node->matches(data + r, length - r)) add_hit({disk_position + r, expected_size, c.index});
        }
    return true;
}

}  // namespace kvl
