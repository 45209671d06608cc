#include <charconv>

#include "core/text.h"
#include "items/file_item_manager.h"
#include "platform/ui.h"

// Find: the files under the selection that match a mask and a size, listed as search results.
namespace kvl {

void file_item_manager::bind_results(platform::list_control* results) {
    results_view = results;
    results_columns.bind(results);
    add_file_list_columns(results_columns, true);
}

bool file_item_manager::search_filter(const file_item& item, platform::list_row* row,
                                      const std::u16string& relative_path, int, bool is_file) {
    if (!is_file) {
        if (tree.status_bar) tree.status_bar->set_text(u"Looking in " + relative_path + u" ...");
        return true;
    }
    platform::list_control& list = *tree.list_view;
    const std::u16string caption = list.caption(row);
    int64_t bytes = 0;
    const std::string size_text = utf16_to_utf8(list.sub_item(row, 5));
    std::from_chars(size_text.data(), size_text.data() + size_text.size(), bytes);
    if ((criteria.use_mask && !mask_matches(caption, criteria.mask)) ||
        (criteria.use_size && !size_matches(bytes, criteria)))
        return true;
    if (!results_view) return true;
    platform::list_row* match = results_view->add_row();
    results_view->set_caption(match, caption);
    results_view->set_image(match, list.image(row));
    for (int i = 0; i < 5; ++i) results_view->add_sub_item(match, list.sub_item(row, i));
    results_view->add_sub_item(match, item.to_text());
    results_view->add_sub_item(match, list.sub_item(row, 5));
    // The row carries the whole item and where it was found: the text form above has no room for the
    // deleted flag, and a ";" in a source's path would cut it.
    search_result_items_.push_back(
        std::make_unique<search_result>(search_result{item, relative_path + u"/" + caption}));
    search_result_items_.back()->item.list_item = match;
    results_view->set_data(match, search_result_items_.back().get());
    return true;
}

void file_item_manager::search(const search_params& wanted) {
    criteria = wanted;
    item_action = [this](const file_item& item, platform::list_row* row, const std::u16string& path,
                         int depth, bool is_file) { return search_filter(item, row, path, depth, is_file); };
    recover_selection();
    if (tree.status_bar) tree.status_bar->set_text(u"");
}

void file_item_manager::find() {
    bool selected = false;
    for (int i = 0; tree.list_view && i < tree.list_view->count(); ++i)
        selected = selected || tree.list_view->selected(tree.list_view->row(i));
    if (!selected) {
        platform::ui().boxes->show(u"Find", u"Please select files or folders to search",
                                   platform::box_icon::information);
        return;
    }
    const std::optional<platform::search_answer> answer = search_dialog ? search_dialog->ask() : std::nullopt;
    if (!answer) return;
    search_params wanted;
    wanted.use_mask = answer->use_mask;
    wanted.mask = trim_white(answer->mask);
    wanted.use_size = answer->use_size;
    wanted.comparison = answer->comparison;
    const std::string size = utf16_to_utf8(trim_white(answer->size));
    const auto [end, error] = std::from_chars(size.data(), size.data() + size.size(), wanted.size);
    if (wanted.use_size && (error != std::errc() || end != size.data() + size.size() || wanted.size < 0)) {
        platform::ui().boxes->show(u"Search", u"\"" + answer->size + u"\" is not a whole number of megabytes",
                                   platform::box_icon::warning);
        return;
    }
    if (results_view) results_view->clear();
    search_result_items_.clear();
    results_label = describe_search(wanted);
    search(wanted);
    const int found = results_view ? results_view->count() : 0;
    results_label = describe_search(wanted) + (found > 0 ? u" => Found " + decimal(found) + u" file(s)"
                                                         : std::u16string(u" => (no files found)"));
}

}  // namespace kvl
