#include "items/file_types.h"

#include "platform/text_case.h"

namespace kvl {

std::u16string extension_of(const std::u16string& name) {
    const size_t dot = name.rfind(u'.');
    if (dot == std::u16string::npos) return {};
    const size_t separator = name.find_last_of(u"\\:/");
    if (separator != std::u16string::npos && separator > dot) return {};
    return name.substr(dot);
}

type_description lookup_type_description(const std::u16string& extension) {
    const auto text = platform::file_types().description(extension);
    if (!text || text->empty()) return {};
    return {true, *text};
}

std::u16string file_type_text(const std::u16string& name, bool is_folder) {
    if (is_folder) return u"Folder";
    const std::u16string ext = extension_of(name);
    if (const type_description found = lookup_type_description(ext); found.found) return found.description;
    if (!ext.empty()) return u"File \"" + platform::to_upper(ext) + u"\"";
    return u"File";
}

platform::icon16 pale_icon(const platform::icon16& icon) {
    platform::icon16 pale = icon;
    for (size_t i = 0; i < pale.color.size(); ++i) {
        if (!icon.opaque[i]) {
            pale.color[i] = 0;
            continue;
        }
        uint32_t out = 0;
        for (int shift : {16, 8, 0}) out |= (((icon.color[i] >> shift & 0xFF) + 255) / 2) << shift;
        pale.color[i] = out;
    }
    return pale;
}

int icon_cache::icon_index(const std::u16string& extension) {
    const auto key = std::make_pair(extension, deleted_look);
    if (const auto found = index_by_extension_.find(key); found != index_by_extension_.end())
        return found->second;
    if (!image_list_) return -1;
    const auto icon = platform::file_types().icon(extension);
    if (!icon) return -1;
    const int index = image_list_->add(deleted_look ? pale_icon(*icon) : *icon);
    index_by_extension_[key] = index;
    return index;
}

}  // namespace kvl
