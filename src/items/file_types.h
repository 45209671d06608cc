#pragma once

#include <map>
#include <string>
#include <utility>

#include "core/base.h"
#include "platform/file_types.h"

namespace kvl {

// The extension of a name with its dot: from the last dot on; "" when no dot follows the last
// folder separator or colon.
std::u16string extension_of(const std::u16string& name);

// "Folder", the system's description of the extension, or "File" + the quoted upper-case extension.
std::u16string file_type_text(const std::u16string& name, bool is_folder);

struct type_description {
    bool found = false;
    std::u16string description;
};
type_description lookup_type_description(const std::u16string& extension);

// Halfway to white where opaque, black elsewhere: the pale look of deleted files.
platform::icon16 pale_icon(const platform::icon16& icon);

// Icons of file types added to the image list once per extension and look.
class icon_cache : public base {
  public:
    void bind_image_list(platform::image_list* list) {
        image_list_ = list;
        deleted_look = false;
    }
    // The image index for an extension, or -1 when the system has no icon for it.
    int icon_index(const std::u16string& extension);

    // Set by the caller before each lookup: icons looked up while it is true are pale.
    bool deleted_look = false;

  private:
    std::map<std::pair<std::u16string, bool>, int> index_by_extension_;
    platform::image_list* image_list_ = nullptr;
};

}  // namespace kvl
