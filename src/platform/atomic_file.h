#pragma once

#include <string>
#include <string_view>

namespace kvl::platform {

// Puts `bytes` at `path` so that a crash or a full disk leaves either the old file or the new one,
// never a mix: they are written and synced to `path` + ".tmp" first, then renamed over `path`. A
// symbolic link standing at `path` is replaced, not followed. False with errno set on failure; the
// temporary file is then gone.
bool replace_file_atomically(const std::string& path, std::string_view bytes);

}  // namespace kvl::platform
