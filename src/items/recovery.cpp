#include <algorithm>
#include <cerrno>

#include "core/format.h"
#include "core/message_log.h"
#include "core/text.h"
#include "items/file_item_manager.h"
#include "platform/ui.h"

// Recovery to a folder, and the recursive walk over the selection that Find shares.
namespace kvl {

namespace {

constexpr size_t max_name_bytes = 255;
// Folders nested deeper than this are not entered: a damaged volume may nest them without end.
constexpr int max_depth = 256;

bool has_data(const file_item& item) {
    return item.type == FILE_ITEM_TYPE_FILE && (item.subtype == FILE_ITEM_SUBTYPE_NONE ||
                                                item.subtype == FILE_ITEM_SUBTYPE_LOW_LEVEL_SCAN_FOLDER ||
                                                item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER);
}

// UTF-8 of text, cut at a character boundary to at most `bytes` bytes.
std::string utf8_within(const std::u16string& text, size_t bytes) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        const size_t units = (text[i] >= 0xD800 && text[i] <= 0xDBFF && i + 1 < text.size()) ? 2 : 1;
        const std::string next = utf16_to_utf8(std::u16string_view(text).substr(i, units));
        if (out.size() + next.size() > bytes) break;
        out += next;
        i += units - 1;
    }
    return out;
}

// Seconds since 1970 of a date text the list shows, or -1.
int64_t seconds_of(const std::u16string& text) {
    platform::calendar_time t{};
    if (!parse_date_time(text, t)) return -1;
    tm fields{};
    fields.tm_year = t.year - 1900;
    fields.tm_mon = t.month - 1;
    fields.tm_mday = t.day;
    fields.tm_hour = t.hour;
    fields.tm_min = t.minute;
    fields.tm_sec = t.second;
    fields.tm_isdst = -1;
    const time_t seconds = mktime(&fields);
    return seconds == static_cast<time_t>(-1) ? -1 : static_cast<int64_t>(seconds);
}

}  // namespace

void sanitize_path(std::u16string& text) {
    for (char16_t& c : text)
        if (c < 0x20 || c == u'"' || c == u'*' || c == u'/' || c == u'<' || c == u'>' || c == u'?' ||
            c == u'|' || c == u'\\')
            c = u'-';
}

std::string output_name(const std::u16string& caption, int copy) {
    std::u16string name = caption;
    sanitize_path(name);
    if (name.empty() || name == u"." || name == u"..") name = u"_";
    std::u16string extension = extension_of(name);
    if (extension.size() == name.size() || extension.size() > 32) extension.clear();
    const std::u16string stem = name.substr(0, name.size() - extension.size());
    const std::string suffix = copy > 1 ? " (" + std::to_string(copy) + ")" : "";
    const std::string tail = suffix + utf16_to_utf8(extension);
    return utf8_within(stem, max_name_bytes - tail.size()) + tail;
}

bool file_item_manager::create_output(size_t depth, const std::u16string& caption, file_stream& out,
                                      std::u16string& made, int first_copy) {
    for (int copy = first_copy; copy < 10000; ++copy) {
        const std::string name = output_name(caption, copy);
        platform::os_file file;
        if (output_folders_[depth].create_file(name, file)) {
            made = utf8_to_utf16(name);
            if (copy > 1) log_note(u"\"" + caption + u"\" is saved as \"" + made + u"\": the name was taken");
            return out.adopt(std::move(file), made);
        }
        if (errno != EEXIST) return false;
    }
    return false;
}

void file_item_manager::set_output_times(platform::list_control& list, platform::list_row* row,
                                         const file_stream& out) {
    platform::set_file_times(out.file(), seconds_of(list.sub_item(row, 3)),
                             seconds_of(list.sub_item(row, 4)));
}

bool file_item_manager::recovery_on_file(const file_item& item, platform::list_row* row,
                                         const std::u16string& relative_path, int depth, bool is_file) {
    platform::list_control& list = *tree.list_view;
    const std::u16string caption = list.caption(row);
    log_note(u"Extracting " + std::u16string(static_cast<size_t>(4 * depth), u' ') + caption);
    const size_t level = static_cast<size_t>(depth);
    if (!is_file) {
        output_folders_.resize(level + 2);
        for (int copy = 1; copy < 10000; ++copy) {
            if (output_folders_[level + 1].open_child(output_folders_[level], output_name(caption, copy)))
                return true;
            if (errno != EEXIST && errno != ENOTDIR && errno != ELOOP)
                break;  // something else stands there: another name
        }
        report_error("output_folder::open_child", u"");  // the system's reason
        report_error("file_item_manager::recovery_on_file",
                     u"Can't create directory \"" + destination_folder_ + relative_path + u"\"");
        destination_failed_ = true;
        return false;
    }
    // A deleted file leaves its name to a live file of the same name in the folder.
    bool live_namesake = false;
    for (int i = 0; item.deleted && i < list.count(); ++i) {
        const auto* other = static_cast<const file_item*>(list.data(list.row(i)));
        live_namesake = live_namesake || (other && !other->deleted && list.caption(list.row(i)) == caption);
    }
    file_stream out;
    std::u16string made;
    if (!create_output(level, caption, out, made, live_namesake ? 2 : 1)) {
        report_error("output_folder::create_file", u"");  // the system's reason
        report_error("file_item_manager::recovery_on_file",
                     u"Can't create file \"" + destination_folder_ + relative_path + u"/" + caption + u"\"");
        destination_failed_ = true;
        return false;
    }
    const bool read = get_item_data(item, out, false);
    set_output_times(list, row, out);
    out.close();
    if (!read && target_failed_) {
        report_error("file_item_manager::recovery_on_file",
                     u"Can't write \"" + destination_folder_ + relative_path + u"/" + made + u"\"");
        destination_failed_ = true;
        return false;
    }
    if (!read)
        report_error("file_item_manager::recovery_on_file",
                     u"\"" + caption + u"\" could not be read whole; \"" + made + u"\" holds what was read");
    return true;
}

void file_item_manager::recover_items(const std::u16string& relative_path, int depth) {
    platform::list_control& list = *tree.list_view;
    if (depth > 0)
        for (int i = 0; i < list.count(); ++i) list.set_selected(list.row(i), true);
    std::vector<int> noted;
    for (int i = 0; i < list.count() && !tree.cancel_requested; ++i)
        if (list.selected(list.row(i))) noted.push_back(i);
    for (const int index : noted) {
        if (tree.cancel_requested) return;
        platform::list_row* row = list.row(index);
        if (!row || !list.data(row)) continue;
        const file_item item = *static_cast<const file_item*>(list.data(row));
        if (has_data(item)) {
            if (!item_action(item, row, relative_path, depth, true)) tree.cancel_requested = true;
            continue;
        }
        if (!item.tree_node) continue;  // nothing to read and nowhere to enter
        const std::u16string sub = relative_path + u"/" + list.caption(row);
        const auto key = std::make_pair(item.source, item.position);
        if (depth >= max_depth || std::find(entered_.begin(), entered_.end(), key) != entered_.end()) {
            report_error("file_item_manager::recover_items",
                         u"\"" + sub + u"\" is not entered: it is nested too deep or inside itself");
            continue;
        }
        const int64_t modified = seconds_of(list.sub_item(row, 3));
        const int64_t accessed = seconds_of(list.sub_item(row, 4));
        if (!item_action(item, row, sub, depth, false)) {
            tree.cancel_requested = true;
            return;
        }
        platform::tree_control* view = tree.view();
        platform::tree_item* remembered = view->selected();
        entered_.push_back(key);
        activate(static_cast<kvl_file_item_manager::handle>(item.tree_node));
        recover_items(sub, depth + 1);
        entered_.pop_back();
        if (static_cast<size_t>(depth) + 1 < output_folders_.size() &&
            output_folders_[static_cast<size_t>(depth) + 1].is_open())
            output_folders_[static_cast<size_t>(depth) + 1].set_times(modified, accessed);
        if (tree.cancel_requested) return;
        view->select(remembered);
        activate_selected();
    }
}

void file_item_manager::recover_selection() {
    if (recovery_running || !tree.list_view || !tree.view()) return;
    recovery_running = busy = true;
    platform::tree_item* remembered = tree.view()->selected();
    tree.cancel_requested = false;
    entered_.clear();
    recover_items(u"", 0);
    const bool cancelled = tree.cancel_requested;
    tree.view()->select(remembered);
    activate_selected();
    busy = false;
    tree.cancel_requested = cancelled;
    recovery_running = false;
}

bool file_item_manager::recover_search_results() {
    platform::list_control& results = *results_view;
    int selected = 0;
    for (int i = 0; i < results.count(); ++i) selected += results.selected(results.row(i)) ? 1 : 0;
    int done = 0;
    for (int i = 0; i < results.count() && !tree.cancel_requested; ++i) {
        platform::list_row* row = results.row(i);
        if (!results.selected(row)) continue;
        const std::u16string caption = results.caption(row);
        file_stream out;
        std::u16string made;
        if (!create_output(0, caption, out, made, 1)) {
            report_error("output_folder::create_file", u"");  // the system's reason
            report_error("file_item_manager::recover",
                         u"Can't create file \"" + destination_folder_ + u"/" + caption + u"\"");
            return false;
        }
        const auto* found = static_cast<const search_result*>(results.data(row));
        if (!found) continue;
        const bool read = get_item_data(found->item, out, false);
        set_output_times(results, row, out);
        out.close();
        if (!read && target_failed_) return false;
        if (!read)
            report_error("file_item_manager::recover", u"\"" + caption + u"\" could not be read whole; \"" +
                                                           made + u"\" holds what was read");
        ++done;
        if (tree.status_bar)
            tree.status_bar->set_text(u"Extracting ... (" + decimal(int64_t{done} * 100 / selected) +
                                      u"% completed)");
    }
    return true;
}

void file_item_manager::recover() {
    const auto any_selected = [](platform::list_control* list) {
        if (!list) return false;
        for (int i = 0; i < list->count(); ++i)
            if (list->selected(list->row(i))) return true;
        return false;
    };
    const bool from_list = any_selected(tree.list_view);
    const bool from_results = any_selected(results_view);
    if (!from_list && !from_results) {
        platform::ui().boxes->show(u"Recover", u"Please select a files", platform::box_icon::information);
        return;
    }
    std::u16string folder = dialogs_.choose_folder();
    if (folder.empty()) return;
    if (platform::log_list* log = message_log()) log->clear();
    tree.cancel_requested = false;
    destination_failed_ = false;
    if (folder.size() > 1 && folder.back() == u'/') folder.pop_back();
    destination_folder_ = folder == u"/" ? u"" : folder;
    output_folders_.clear();
    output_folders_.emplace_back();
    if (!output_folders_[0].open_chosen(utf16_to_utf8(folder))) {
        report_error("file_item_manager::recover", u"");
        return;
    }
    // Writing onto the disk being read would overwrite the very data being recovered.
    std::vector<std::u16string> sources = {current_source};
    if (from_results)
        for (int i = 0; i < results_view->count(); ++i)
            if (const auto* found =
                    static_cast<const search_result*>(results_view->data(results_view->row(i))))
                sources.push_back(found->item.source);
    for (const std::u16string& source : sources) {
        const source_name name = parse_source(source);
        if (name.valid &&
            platform::destination_on_source(output_folders_[0].device(), utf16_to_utf8(name.device))) {
            report_error("file_item_manager::recover",
                         u"The folder \"" + folder +
                             u"\" lies on the disk being recovered; choose a folder on another disk");
            output_folders_.clear();
            return;
        }
    }
    if (from_list) {
        item_action = [this](const file_item& item, platform::list_row* row, const std::u16string& path,
                             int depth,
                             bool is_file) { return recovery_on_file(item, row, path, depth, is_file); };
        recover_selection();
        if (tree.status_bar) tree.status_bar->set_text(u"");
    }
    if (from_results && !tree.cancel_requested) recover_search_results();
    if (tree.status_bar) tree.status_bar->set_text(u"");
    output_folders_.clear();
}

}  // namespace kvl
