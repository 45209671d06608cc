#include <sys/stat.h>
#include <unistd.h>

#include <CLI/CLI.hpp>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <nlohmann/json.hpp>

#include "config/config.h"
#include "core/message_log.h"
#include "core/text.h"
#include "core/version.h"
#include "ntfs/disk_storage_ntfs.h"
#include "ntfs/ntfs_info_text.h"
#include "platform/output_folder.h"
#include "scan/partition_scan.h"
#include "session.h"
#include "storage/stream.h"

using namespace kvl;
using cli::entry;
using cli::session;

namespace {

std::string u8(const std::u16string& text) {
    return utf16_to_utf8(text);
}

// Standard output as a stream, for file data.
class stdout_stream final : public stream {
  public:
    bool flush() override { return true; }
    int64_t get_pos() override { return written_; }
    bool seek(int64_t, int32_t) override { return false; }
    bool read(uint8_t*, int32_t) override { return false; }
    bool write(const uint8_t* data, int32_t size) override {
        for (int32_t done = 0; done < size;) {
            const ssize_t n = ::write(STDOUT_FILENO, data + done, static_cast<size_t>(size - done));
            if (n <= 0) return false;
            done += static_cast<int32_t>(n);
        }
        written_ += size;
        return true;
    }
    int64_t size() override { return written_; }

  private:
    int64_t written_ = 0;
};

nlohmann::json entry_json(const entry& e) {
    return {{"path", e.path},
            {"name", u8(e.name)},
            {"folder", e.folder},
            {"deleted", e.item.deleted},
            {"size", e.size},
            {"type", u8(e.type)},
            {"created", u8(e.created)},
            {"modified", u8(e.modified)},
            {"accessed", u8(e.accessed)},
            {"id", e.item.position}};
}

// Columns padded to their widest text; a deleted entry is marked with "*".
void print_table(const std::vector<std::vector<std::string>>& rows, const char* when_empty = nullptr) {
    // A search that found nothing says so rather than printing a bare header.
    if (when_empty && rows.size() <= 1) {
        std::cout << when_empty << '\n';
        return;
    }
    std::vector<size_t> widths;
    const auto width_of = [](const std::string& s) {
        return static_cast<size_t>(
            std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    for (const auto& row : rows)
        for (size_t i = 0; i < row.size(); ++i) {
            if (widths.size() <= i) widths.push_back(0);
            widths[i] = std::max(widths[i], width_of(row[i]));
        }
    for (const auto& row : rows) {
        std::string line;
        for (size_t i = 0; i < row.size(); ++i) {
            line += row[i];
            if (i + 1 < row.size()) line += std::string(widths[i] - width_of(row[i]) + 2, ' ');
        }
        while (!line.empty() && line.back() == ' ') line.pop_back();
        std::cout << line << '\n';
    }
}

void print_entries(const std::vector<entry>& entries, bool json, bool full_paths,
                   const char* when_empty = nullptr) {
    if (json) {
        for (const entry& e : entries)
            std::cout << entry_json(e).dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) << '\n';
        return;
    }
    std::vector<std::vector<std::string>> rows = {
        {" ", "File Name", "Size", "Type", "Date Created", "Date Modified", "Date Accessed"}};
    for (const entry& e : entries)
        rows.push_back({e.item.deleted ? "*" : " ", full_paths ? e.path : u8(e.name), u8(e.size_text),
                        u8(e.type), u8(e.created), u8(e.modified), u8(e.accessed)});
    print_table(rows, when_empty);
}

std::string fs_name(int32_t fs) {
    switch (fs) {
        case FILE_SYSTEM_FAT12:
            return "FAT12";
        case FILE_SYSTEM_FAT16:
            return "FAT16";
        case FILE_SYSTEM_FAT32:
            return "FAT32";
        case FILE_SYSTEM_NTFS:
            return "NTFS";
        default:
            return "RAW";
    }
}

struct common {
    std::vector<std::string> settings;
    bool quiet = false;
    bool json = false;
};

// Opens a source and the folder of a path in it; the session's list then shows that folder.
std::optional<entry> open_folder(session& s, const std::string& source, const std::string& path,
                                 kvl_file_item_manager::handle& volume) {
    volume = s.open_source(source);
    if (!volume) return std::nullopt;
    const std::optional<entry> target = s.resolve(volume, path);
    if (!target) return std::nullopt;
    if (path.find_first_not_of('/') != std::string::npos) {
        if (!target->folder || !s.enter(*target)) {
            s.manager.report_error("korvalen", u"\"" + utf8_to_utf16(path) + u"\" is not a folder");
            return std::nullopt;
        }
    }
    return target;
}

int command_sources(const common& options) {
    session s(options.settings, options.quiet);
    s.manager.update_sources();
    std::vector<std::vector<std::string>> rows = {{"Caption", "Source"}};
    nlohmann::json out = nlohmann::json::array();
    const std::function<void(kvl_file_item_manager::handle, int)> visit =
        [&](kvl_file_item_manager::handle node, int depth) {
            for (const auto& child : node->children) {
                if (!child->data.view_node) continue;
                const std::string caption = u8(s.tree.text(child->data.view_node));
                if (options.json)
                    std::cout << nlohmann::json{{"caption", caption},
                                                {"source", u8(child->data.item.source)},
                                                {"depth", depth}}
                                     .dump()
                              << '\n';
                else
                    rows.push_back({std::string(static_cast<size_t>(2 * depth), ' ') + caption,
                                    u8(child->data.item.source)});
                visit(child.get(), depth + 1);
            }
        };
    visit(s.manager.tree.root(), 0);
    if (!options.json) print_table(rows);
    return 0;
}

int command_ls(const common& options, const std::string& source, const std::string& path, bool recursive,
               bool deleted_only) {
    std::vector<std::string> settings = options.settings;
    if (deleted_only) settings.push_back("ntfs.show_only_deleted=true");
    session s(settings, options.quiet);
    if (session::is_disk(source)) {
        const auto disk = s.open_source(source);
        if (!disk) return 1;
        std::vector<std::vector<std::string>> rows = {{"Caption", "Source"}};
        for (const auto& child : disk->children)
            if (child->data.item.type == FILE_ITEM_TYPE_SRC_ITEM) {
                if (options.json)
                    std::cout << nlohmann::json{{"caption", u8(s.tree.text(child->data.view_node))},
                                                {"source", u8(child->data.item.source)}}
                                     .dump()
                              << '\n';
                rows.push_back({u8(s.tree.text(child->data.view_node)), u8(child->data.item.source)});
            }
        if (!options.json) print_table(rows);
        return s.exit_status(true);
    }
    kvl_file_item_manager::handle volume = nullptr;
    const std::optional<entry> folder = open_folder(s, source, path, volume);
    if (!folder) return 1;
    const std::string prefix = path.find_first_not_of('/') == std::string::npos ? "" : folder->path;
    std::vector<entry> entries;
    if (recursive)
        s.walk(prefix, entries, 0);
    else
        entries = s.rows(prefix);
    if (deleted_only) std::erase_if(entries, [](const entry& e) { return !e.item.deleted && !e.folder; });
    print_entries(entries, options.json, recursive);
    return s.exit_status(true);
}

int command_cat(const common& options, const std::string& source, const std::string& path) {
    session s(options.settings, true);
    kvl_file_item_manager::handle volume = s.open_source(source);
    if (!volume) return 1;
    const std::optional<entry> target = s.resolve(volume, path);
    if (!target) return 1;
    if (target->folder) {
        s.manager.report_error("korvalen", u"\"" + utf8_to_utf16(path) + u"\" is a folder");
        return 1;
    }
    stdout_stream out;
    if (!s.manager.get_item_data(target->item, out, false)) {
        s.manager.report_error("korvalen", u"\"" + utf8_to_utf16(path) +
                                               (out.size() > 0 ? u"\" could not be read whole"
                                                               : u"\" has no data that can be read"));
        return 1;
    }
    return s.exit_status(true);
}

// The nearest folder of a path that exists (the path itself when it does).
std::filesystem::path existing_part(const std::string& path) {
    std::error_code error;
    std::filesystem::path at = std::filesystem::absolute(path, error);
    while (!std::filesystem::exists(at, error) && at.has_relative_path()) at = at.parent_path();
    return at;
}

// A destination not there yet is made with its missing parents, unless it would lie on the disk
// being read: that is refused before anything is made.
bool ensure_destination(session& s, const std::string& source, const std::string& destination) {
    std::error_code error;
    if (std::filesystem::is_directory(destination, error)) return true;
    const std::u16string shown = u"\"" + utf8_to_utf16(destination) + u"\"";
    struct stat st {};
    const source_name name = parse_source(utf8_to_utf16(source));
    if (::stat(existing_part(destination).c_str(), &st) == 0 && name.valid &&
        platform::destination_on_source(st.st_dev, utf16_to_utf8(name.device))) {
        s.manager.report_error(
            "korvalen", u"The folder " + shown +
                            u" would lie on the disk being recovered; choose a folder on another disk");
        return false;
    }
    if (!std::filesystem::create_directories(destination, error) &&
        !std::filesystem::is_directory(destination)) {
        s.manager.report_error("korvalen",
                               u"Cannot make the folder " + shown + u": " + utf8_to_utf16(error.message()));
        return false;
    }
    log_note(u"The folder " + shown + u" was made");
    return true;
}

int command_recover(const common& options, const std::string& source, const std::vector<std::string>& paths,
                    const std::string& destination) {
    session s(options.settings, options.quiet);
    if (!ensure_destination(s, source, destination)) return 1;
    for (const std::string& path : paths) {
        const auto volume = s.open_source(source);
        if (!volume) return 1;
        const size_t slash = path.find_last_of('/', path.find_last_not_of('/'));
        const bool root = path.find_first_not_of('/') == std::string::npos;
        if (!root) {
            const std::string parent = slash == std::string::npos ? "" : path.substr(0, slash);
            const std::optional<entry> target = s.resolve(volume, path);
            if (!target) return 1;
            if (parent.find_first_not_of('/') != std::string::npos) {
                const std::optional<entry> folder = s.resolve(volume, parent);
                if (!folder || !s.enter(*folder)) return 1;
            } else {
                s.open_source(source);
            }
            s.recover_rows({*target}, destination);
        } else {
            s.recover_rows({}, destination);
        }
    }
    return s.exit_status(true);
}

std::vector<kvl_file_item_manager::handle> partition_nodes(kvl_file_item_manager::handle node) {
    std::vector<kvl_file_item_manager::handle> out;
    for (const auto& child : node->children)
        if (child->data.item.type == FILE_ITEM_TYPE_SRC_ITEM) out.push_back(child.get());
    return out;
}

int command_partitions(const common& options, const std::string& source, bool search,
                       const std::string& from) {
    if (search && partition_scan_start(utf8_to_utf16(from)) < 0) {
        std::fprintf(stderr, "korvalen: --from: Please enter value from 0 to 99 (%%)\n");
        return 2;
    }
    session s(options.settings, options.quiet);
    const auto disk = s.open_source(source);
    if (!disk) return 1;
    std::vector<kvl_file_item_manager::handle> found;
    if (search) {
        kvl_file_item_manager::handle command = nullptr;
        for (const auto& child : disk->children)
            if (child->data.item.type == FILE_ITEM_TYPE_COMMAND &&
                child->data.item.position == COMMAND_PARTITION_SEARCH)
                command = child.get();
        if (!command) command = s.manager.tree.add_command_item(COMMAND_PARTITION_SEARCH, disk);
        s.partition_dialog.answers = {utf8_to_utf16(from)};
        s.manager.activate(command);
        found = partition_nodes(command);
    } else {
        // A volume has no partition table: its folders are no partitions.
        if (session::is_disk(source)) found = partition_nodes(disk);
    }
    std::vector<std::vector<std::string>> rows = {{"Caption", "Source", "Sector", "File system"}};
    for (const auto node : found) {
        const std::string caption = u8(s.tree.text(node->data.view_node));
        const source_name name = parse_source(node->data.item.source);
        disk_storage storage;
        storage.silent = true;
        const std::string fs = storage.open(node->data.item.source) ? fs_name(storage.fs_type) : "";
        if (storage.is_open()) storage.close();
        if (options.json)
            std::cout << nlohmann::json{{"caption", caption},
                                        {"source", u8(node->data.item.source)},
                                        {"sector", name.start_sector},
                                        {"fs", fs}}
                             .dump()
                      << '\n';
        rows.push_back({caption, u8(node->data.item.source), std::to_string(name.start_sector), fs});
    }
    if (!options.json) print_table(rows, "No partitions found");
    return s.exit_status(true);
}

// Runs a command node under a volume and returns the folders it made.
std::vector<kvl_file_item_manager::handle> run_search(session& s, kvl_file_item_manager::handle volume,
                                                      int64_t command_id) {
    kvl_file_item_manager::handle command = nullptr;
    for (const auto& child : volume->children)
        if (child->data.item.type == FILE_ITEM_TYPE_COMMAND && child->data.item.position == command_id)
            command = child.get();
    if (!command) return {};
    s.manager.activate(command);
    return partition_nodes(command);
}

int command_lost(const common& options, const std::string& source, const std::string& destination) {
    session s(options.settings, options.quiet);
    const auto volume = s.open_source(source);
    if (!volume) return 1;
    std::vector<kvl_file_item_manager::handle> folders = run_search(s, volume, COMMAND_NTFS_LOST_RECORDS);
    if (folders.empty()) folders = run_search(s, volume, COMMAND_FAT_LOST_ENTRIES);
    std::vector<entry> all;
    for (const auto folder : folders) {
        const std::string caption = u8(s.tree.text(folder->data.view_node));
        s.manager.activate(folder);
        const std::vector<entry> here = s.rows("/" + caption);
        all.insert(all.end(), here.begin(), here.end());
        if (!destination.empty()) {
            const std::filesystem::path into =
                std::filesystem::path(destination) / std::string(output_name(utf8_to_utf16(caption), 1));
            if (!ensure_destination(s, source, into.string())) return 1;
            s.recover_rows({}, into.string());
        }
    }
    print_entries(all, options.json, true, "No files found");
    return s.exit_status(true);
}

int command_carve(const common& options, const std::string& source, const std::string& types, int size_mb,
                  const std::string& destination) {
    std::vector<std::string> settings = options.settings;
    if (size_mb > 0) settings.push_back("generic_scan_expected_file_size=" + std::to_string(size_mb));
    session s(settings, options.quiet);
    if (!destination.empty() && !ensure_destination(s, source, destination)) return 1;
    const auto volume = s.open_source(source);
    if (!volume) return 1;
    platform::file_type_answer answer;
    if (!types.empty()) {
        std::vector<int> chosen;
        s.manager.low_level_scanner.definitions.select(utf8_to_utf16(std::string(types.begin(), types.end())).size() ? [&] {
            std::u16string list = utf8_to_utf16(types);
            std::replace(list.begin(), list.end(), u',', u';');
            return list;
        }() : u"", chosen);
        answer.checked = std::vector<std::u16string>{};
        for (int index : chosen)
            answer.checked->push_back(
                s.manager.low_level_scanner.definitions.nodes[static_cast<size_t>(index)].description);
    }
    s.file_type_dialog.answers = {answer};
    const std::vector<kvl_file_item_manager::handle> folders =
        run_search(s, volume, COMMAND_LOW_LEVEL_SEARCH);
    const xfs_nodes& formats = s.manager.low_level_scanner.definitions;
    std::vector<std::vector<std::string>> rows = {{"Offset", "Size", "Type", "Caption"}};
    for (const auto folder : folders) {
        s.manager.activate(folder);
        for (int i = 0; i < s.list.count(); ++i) {
            const auto* item = static_cast<const file_item*>(s.list.data(s.list.row(i)));
            const xfs_node& format = formats.nodes[static_cast<size_t>(item->value3)];
            const std::string caption = u8(s.list.caption(s.list.row(i)));
            if (options.json)
                std::cout << nlohmann::json{{"offset", item->position},
                                            {"size", item->value2},
                                            {"ext", u8(format.extension)},
                                            {"description", u8(format.description)},
                                            {"caption", caption}}
                                 .dump()
                          << '\n';
            rows.push_back({std::to_string(item->position), std::to_string(item->value2),
                            u8(format.extension), caption});
        }
        if (!destination.empty()) s.recover_rows({}, destination);
    }
    if (!options.json) print_table(rows, "No files found");
    return s.exit_status(true);
}

int command_find(const common& options, const std::string& source, const std::string& path,
                 const std::string& mask, std::optional<int> more_than, std::optional<int> less_than) {
    session s(options.settings, options.quiet);
    kvl_file_item_manager::handle volume = nullptr;
    const std::optional<entry> folder = open_folder(s, source, path, volume);
    if (!folder) return 1;
    platform::search_answer answer;
    answer.use_mask = !mask.empty() || (!more_than && !less_than);
    answer.mask = utf8_to_utf16(mask.empty() ? "*" : mask);
    answer.use_size = more_than || less_than;
    answer.comparison = more_than ? 1 : 0;
    answer.size = decimal(more_than ? *more_than : less_than.value_or(0));
    s.search_dialog.answers = {answer};
    for (int i = 0; i < s.list.count(); ++i) s.list.set_selected(s.list.row(i), true);
    s.manager.find();
    const std::string prefix = path.find_first_not_of('/') == std::string::npos ? "" : folder->path;
    std::vector<entry> found;
    for (int i = 0; i < s.results.count(); ++i) {
        platform::list_row* row = s.results.row(i);
        entry e;
        e.name = s.results.caption(row);
        const auto* result = static_cast<const search_result*>(s.results.data(row));
        if (!result) continue;
        e.item = result->item;
        e.path = prefix + u8(result->path);
        e.size_text = s.results.sub_item(row, 0);
        e.type = s.results.sub_item(row, 1);
        e.created = s.results.sub_item(row, 2);
        e.modified = s.results.sub_item(row, 3);
        e.accessed = s.results.sub_item(row, 4);
        e.size = std::strtoll(u8(s.results.sub_item(row, 6)).c_str(), nullptr, 10);
        found.push_back(e);
    }
    print_entries(found, options.json, true, "No files found");
    if (!options.json) std::cerr << u8(s.manager.results_label) << '\n';
    return s.exit_status(true);
}

int command_info(const common& options, const std::string& source, const std::string& path) {
    session s(options.settings, options.quiet);
    const auto volume = s.open_source(source);
    if (!volume) return 1;
    const std::optional<entry> target = s.resolve(volume, path);
    if (!target) return 1;
    const file_item& item = target->item;
    std::cout << u8(item_info_text(item, false));
    // An NTFS entry shows its MFT record and every attribute too.
    disk_storage storage;
    if (!storage.open(item.source)) return 1;
    if (storage.fs_type == FILE_SYSTEM_NTFS && item.type == FILE_ITEM_TYPE_FILE && item.position >= 0) {
        disk_storage_ntfs ntfs;
        ntfs.assign_storage(storage);
        ntfs_record record;
        ntfs_attributes attributes;
        const bool by_offset = item.subtype == FILE_ITEM_SUBTYPE_NTFS_SECOND_SCAN_FOLDER;
        if (by_offset ? record.assign_by_offset(storage, item.position)
                      : record.assign_by_index(storage, item.position, ntfs.mft_chunks)) {
            attributes.load(record, !by_offset);
            std::cout << "\r\n"
                      << u8(record_header_text(record)) << "\r\n"
                      << u8(attributes_text(attributes, ntfs.cluster_size));
        }
    }
    storage.close();
    return s.exit_status(true);
}

int command_save_image(const common& options, const std::string& source, const std::string& out, bool force,
                       bool resume) {
    session s(options.settings, options.quiet);
    const platform::output_mode mode = resume  ? platform::output_mode::resume
                                       : force ? platform::output_mode::replace
                                               : platform::output_mode::create_new;
    const bool saved = s.manager.save_source_image(utf8_to_utf16(source), utf8_to_utf16(out), mode);
    std::error_code error;
    if (!saved && mode == platform::output_mode::create_new &&
        std::filesystem::exists(std::filesystem::symlink_status(out, error)))
        std::fprintf(stderr,
                     "korvalen: --force replaces an existing image, --resume goes on with its copy\n");
    return s.exit_status(saved);
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{
        "Korvalen: recover files from drives, partitions and disk images (NTFS, FAT12/16/32).\n"
        "Sources are opened read-only and never written.",
        "korvalen"};
    app.set_version_flag("--version", std::string("korvalen ") + version_text);
    app.require_subcommand(0, 1);
    app.fallthrough();
    common options;
    app.add_option("--set", options.settings, "Override a setting of settings.ini for this run (KEY=VALUE)")
        ->type_name("KEY=VALUE");
    app.add_flag("-q,--quiet", options.quiet, "Draw no progress bar");

    std::string source, path = "/", destination, out, types, mask, from = "0";
    std::vector<std::string> paths;
    bool recursive = false, deleted_only = false, search = false, force = false, resume = false;
    int size_mb = 0;
    std::optional<int> more_than, less_than;

    auto* sources = app.add_subcommand("sources", "List the drives, partitions and volumes the system has");
    sources->add_flag("--json", options.json, "Write JSON Lines");
    auto* ls = app.add_subcommand("ls", "List a folder of a source (for a whole disk: its partitions)");
    ls->add_flag(
        "--json", options.json,
        "Write JSON Lines: path, name, folder, deleted, size, type, created, modified, accessed, id");
    ls->add_flag("-r,--recursive", recursive, "List every folder below PATH too");
    ls->add_flag("--deleted-only", deleted_only, "Only deleted entries (and the folders leading to them)");
    ls->add_option(
          "SOURCE", source,
          "A drive number, \"N S\" (drive N from sector S), an image or device path, or IMAGE#SECTOR")
        ->required();
    ls->add_option("PATH", path,
                   "A folder, \"/\"-separated from the volume's root; #ID names one entry by its id");
    auto* cat = app.add_subcommand("cat", "Write a file's bytes to standard output");
    cat->add_option("SOURCE", source, "The source")->required();
    cat->add_option("PATH", path, "The file")->required();
    auto* recover = app.add_subcommand(
        "recover", "Recover files and folders (folders whole; \"/\" for everything) into DIR");
    recover->add_option("SOURCE", source, "The source")->required();
    recover->add_option("PATH", paths, "Files or folders")->required();
    recover
        ->add_option("--to", destination, "The folder to recover into; it must not lie on the source's disk")
        ->required();
    auto* partitions = app.add_subcommand(
        "partitions", "The partition table of a disk, or search the disk for lost partitions");
    partitions->add_flag("--json", options.json, "Write JSON Lines: caption, source, sector, fs");
    partitions->add_flag("--search", search, "Search every sector for boot sectors of NTFS and FAT volumes");
    partitions->add_option("--from", from,
                           "Start the search at this percentage of the disk (0 to below 100)");
    partitions->add_option("SOURCE", source, "The disk")->required();
    auto* lost =
        app.add_subcommand("lost", "Find lost NTFS records or lost FAT folders in a volume's free space");
    lost->add_flag("--json", options.json, "Write JSON Lines");
    lost->add_option("--to", destination,
                     "Recover what is found into this folder, one subfolder per found folder");
    lost->add_option("SOURCE", source, "The volume")->required();
    auto* carve = app.add_subcommand(
        "carve", "Find files by their signatures (free space of a volume, or all of a raw source)");
    carve->add_flag("--json", options.json, "Write JSON Lines: offset, size, ext, description, caption");
    carve->add_option("--types", types,
                      "Comma-separated extensions, e.g. .jpg,.png (default: the default selection)");
    carve->add_option("--size", size_mb, "Size in MiB given to every file found (default: the setting)");
    carve->add_option("--to", destination, "Recover every file found into this folder");
    carve->add_option("SOURCE", source, "The source")->required();
    auto* find = app.add_subcommand("find", "Find files by name mask and size below a folder");
    find->add_flag("--json", options.json, "Write JSON Lines");
    find->add_option("SOURCE", source, "The source")->required();
    find->add_option("PATH", path, "The folder to search (default: the root)");
    find->add_option("--mask", mask, "A name mask with * and ?");
    auto* more = find->add_option("--more-than", more_than, "Only files larger than this many MiB");
    find->add_option("--less-than", less_than, "Only files of at most this many MiB")->excludes(more);
    auto* info = app.add_subcommand("info", "Show what the program knows of an entry");
    info->add_option("SOURCE", source, "The source")->required();
    info->add_option("PATH", path, "The entry")->required();
    auto* save = app.add_subcommand("save-image",
                                    "Copy a source into a raw image file, reading through bad sectors (a map "
                                    "beside it tells which were bad)");
    save->add_option("SOURCE", source, "The source")->required();
    save->add_option("OUT", out, "The image file to write; OUT.map beside it records what was read")
        ->required();
    save->add_flag("--force", force, "Replace OUT (and OUT.map) when they exist (never the source)");
    save->add_flag("--resume", resume,
                   "Go on with the copy OUT.map records: read only what it does not mark finished")
        ->excludes(save->get_option("--force"));

    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        return app.exit(error) == 0 ? 0 : 2;
    }
    try {
        if (*sources) return command_sources(options);
        if (*ls) return command_ls(options, source, path, recursive, deleted_only);
        if (*cat) return command_cat(options, source, path);
        if (*recover) return command_recover(options, source, paths, destination);
        if (*partitions) return command_partitions(options, source, search, from);
        if (*lost) return command_lost(options, source, destination);
        if (*carve) return command_carve(options, source, types, size_mb, destination);
        if (*find) return command_find(options, source, path, mask, more_than, less_than);
        if (*info) return command_info(options, source, path);
        if (*save) return command_save_image(options, source, out, force, resume);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "korvalen: %s\n", error.what());
        return 1;
    }
    std::cout << app.help();
    return 0;
}
