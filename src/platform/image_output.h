#pragma once

#include <string>

#include "platform/os_file.h"

// Opening the file or device an image of a source is written to. Nothing that would write to the
// source is ever opened: not the source itself (by any path, link or partition text), not a device
// that holds it or that it holds, and no file in a volume on the source's disk.
namespace kvl::platform {

enum class output_mode {
    create_new,  // the output must not exist yet
    replace,     // an existing file is emptied first (never the source)
    resume,      // an existing file is kept as it is, to be written on
};

// Opens `path` for writing the image of the open source `source` (which `source_path` names). On a
// refusal nothing is created or changed, and `why` tells the user what was refused and why.
bool open_image_output(const std::string& path, const os_file& source, output_mode mode, os_file& output,
                       std::u16string& why);

// Whether writing to `path` (an existing file or device, or a new file in its folder) would write to
// the storage the source is read from; `why` then says how.
bool output_touches_source(const std::string& path, const os_file& source, std::u16string& why);

}  // namespace kvl::platform
