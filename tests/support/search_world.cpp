#include "support/search_world.h"

#include "config/config.h"
#include "core/text.h"

namespace kvl::test {

search_world::search_world() {
    app_config().load(utf8_to_utf16(KORVALEN_BIN_DIR "/settings.ini"));
    manager.tree.bind(&tree, &list, &status);
    manager.tree.icons.bind_image_list(&images);
    manager.partition_dialog = &partition_dialog;
    manager.low_level_scanner.dialog = &file_type_dialog;
    manager.low_level_scanner.definitions.load_from_file(utf8_to_utf16(KORVALEN_BIN_DIR "/formats.txt"));
}

kvl_file_item_manager::handle search_world::add_source(const std::u16string& source,
                                                       const std::u16string& caption) {
    return manager.tree.add_source_item(source, caption, nullptr);
}

kvl_file_item_manager::handle search_world::add_command(int64_t command,
                                                        kvl_file_item_manager::handle parent) {
    return manager.tree.add_command_item(command, parent);
}

std::vector<std::u16string> search_world::captions(kvl_file_item_manager::handle node) const {
    std::vector<std::u16string> out;
    for (const auto& child : node->children)
        if (child->data.view_node) out.push_back(tree.text(child->data.view_node));
    return out;
}

}  // namespace kvl::test
