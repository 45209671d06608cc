#include "session.h"

#include <unistd.h>

#include <climits>
#include <filesystem>

#include "config/config.h"
#include "core/message_log.h"
#include "core/text.h"
#include "platform/stderr_ui.h"

namespace kvl::cli {

std::string executable_folder() {
    std::error_code error;
    return std::filesystem::canonical("/proc/self/exe", error).parent_path().string();
}

session::session(const std::vector<std::string>& settings, bool quiet)
    : progress(!quiet && ::isatty(STDERR_FILENO)), pump_(progress, manager.tree.cancel_requested) {
    static platform::monotonic_clock clock;
    scope_ = std::make_unique<platform::scoped_ui>(platform::ui_services{&boxes, &progress, &pump_, &clock});
    const std::string folder = executable_folder();
    app_config().load(utf8_to_utf16(folder + "/settings.ini"));
    for (const std::string& setting : settings) {
        const size_t equals = setting.find('=');
        const std::u16string key = utf8_to_utf16(setting.substr(0, equals));
        const std::u16string value =
            equals == std::string::npos ? u"" : utf8_to_utf16(setting.substr(equals + 1));
        auto found = app_config().items.find(key);
        if (found == app_config().items.end())
            found = app_config().items.emplace(key, conf_item(key + u"=")).first;
        found->second.value = any_type(value);
    }
    bind_message_log(&log);
    manager.tree.bind(&tree, &list, &status);
    manager.tree.icons.bind_image_list(&images);
    manager.bind_results(&results);
    manager.partition_dialog = &partition_dialog;
    manager.search_dialog = &search_dialog;
    manager.low_level_scanner.dialog = &file_type_dialog;
    manager.low_level_scanner.definitions.load_from_file(utf8_to_utf16(folder + "/formats.txt"));
}

session::~session() {
    bind_message_log(nullptr);
}

bool session::is_disk(const std::string& source) {
    disk_storage storage;
    storage.silent = true;
    if (!storage.open(utf8_to_utf16(source))) return false;
    const bool disk =
        (storage.kind == STORAGE_KIND_DRIVE && storage.start_sector == 0) || storage.is_disk_image();
    storage.close();
    return disk;
}

kvl_file_item_manager::handle session::open_source(const std::string& source) {
    const std::u16string text = utf8_to_utf16(source);
    const auto node = manager.tree.add_source_item(text, text, nullptr);
    manager.activate(node);
    return manager.current_source == text ? node : nullptr;
}

std::vector<entry> session::rows(const std::string& prefix) const {
    std::vector<entry> out;
    for (int i = 0; i < list.count(); ++i) {
        platform::list_row* row = list.row(i);
        entry e;
        e.name = list.caption(row);
        e.path = prefix + "/" + utf16_to_utf8(e.name);
        e.item = *static_cast<const file_item*>(list.data(row));
        e.folder = e.item.subtype == FILE_ITEM_SUBTYPE_FOLDER;
        e.size_text = list.sub_item(row, 0);
        e.type = list.sub_item(row, 1);
        e.created = list.sub_item(row, 2);
        e.modified = list.sub_item(row, 3);
        e.accessed = list.sub_item(row, 4);
        e.size = e.folder ? 0 : std::strtoll(utf16_to_utf8(list.sub_item(row, 5)).c_str(), nullptr, 10);
        out.push_back(e);
    }
    return out;
}

bool session::enter(const entry& folder) {
    if (!folder.item.tree_node) return false;
    manager.activate(static_cast<kvl_file_item_manager::handle>(folder.item.tree_node));
    return true;
}

void session::walk(const std::string& prefix, std::vector<entry>& out, int depth) {
    const std::vector<entry> here = rows(prefix);
    for (const entry& e : here) {
        out.push_back(e);
        if (!e.folder || !e.item.tree_node) continue;
        const auto key = std::make_pair(e.item.source, e.item.position);
        // A damaged volume may hold a folder inside itself or nest folders without end.
        if (depth >= 256) {
            manager.report_error("korvalen", u"\"" + utf8_to_utf16(e.path) +
                                                 u"\" is not entered: it lies deeper than 256 folders");
            continue;
        }
        if (std::find(entered_.begin(), entered_.end(), key) != entered_.end()) {
            manager.report_error("korvalen", u"\"" + utf8_to_utf16(e.path) +
                                                 u"\" is not entered: it is a folder inside itself");
            continue;
        }
        entered_.push_back(key);
        if (enter(e)) walk(e.path, out, depth + 1);
        entered_.pop_back();
    }
}

std::optional<entry> session::resolve(kvl_file_item_manager::handle volume, const std::string& path) {
    std::vector<std::string> parts;
    for (size_t start = 0; start <= path.size();) {
        const size_t slash = path.find('/', start);
        const std::string part =
            path.substr(start, slash == std::string::npos ? std::string::npos : slash - start);
        if (!part.empty()) parts.push_back(part);
        if (slash == std::string::npos) break;
        start = slash + 1;
    }
    entry current;
    current.folder = true;
    current.item = volume->data.item;
    std::string prefix;
    for (size_t i = 0; i < parts.size(); ++i) {
        const std::vector<entry> here = rows(prefix);
        const std::string& part = parts[i];
        const entry* chosen = nullptr;
        const bool by_id =
            part.size() > 1 && part[0] == '#' && part.find_first_not_of("0123456789", 1) == std::string::npos;
        for (const entry& e : here) {
            const bool named =
                by_id ? e.item.position == std::stoll(part.substr(1)) : utf16_to_utf8(e.name) == part;
            // A live entry wins over deleted ones of the same name.
            if (named && (!chosen || (chosen->item.deleted && !e.item.deleted))) chosen = &e;
        }
        if (!chosen) {
            manager.report_error("korvalen", u"\"" + utf8_to_utf16(path) + u"\" is not found: no \"" +
                                                 utf8_to_utf16(part) + u"\" in \"" +
                                                 utf8_to_utf16(prefix.empty() ? "/" : prefix) + u"\"");
            return std::nullopt;
        }
        current = *chosen;
        prefix = current.path;
        if (i + 1 < parts.size()) {
            if (!current.folder || !enter(current)) {
                manager.report_error("korvalen", u"\"" + utf8_to_utf16(prefix) + u"\" is not a folder");
                return std::nullopt;
            }
        }
    }
    return current;
}

void session::recover_rows(const std::vector<entry>& chosen, const std::string& destination) {
    for (int i = 0; i < list.count(); ++i) {
        platform::list_row* row = list.row(i);
        const auto* item = static_cast<const file_item*>(list.data(row));
        const bool wanted = chosen.empty() || std::any_of(chosen.begin(), chosen.end(), [&](const entry& e) {
                                return e.name == list.caption(row) && e.item.position == item->position;
                            });
        list.set_selected(row, wanted);
    }
    files.folders = {utf8_to_utf16(destination)};
    manager.recover();
}

}  // namespace kvl::cli
