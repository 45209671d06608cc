#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/memory_ui.h"
#include "platform/stderr_ui.h"
#include "storage/disk_storage.h"

namespace kvl::fuzz {

// The fuzzer's bytes as a source: an anonymous in-memory file, opened by the core through its
// /proc/self/fd path like any image, so no file on a disk is touched.
class memory_image {
  public:
    memory_image(const uint8_t* data, size_t size);
    ~memory_image();
    memory_image(const memory_image&) = delete;
    memory_image& operator=(const memory_image&) = delete;

    bool valid() const { return fd_ >= 0; }
    std::u16string path() const;
    // Opens the bytes as a source, as the core opens any image.
    bool open(disk_storage& storage) const { return valid() && storage.open(path()); }

  private:
    int fd_ = -1;
};

// User-interface services that keep what the core shows in memory, so a run prints nothing.
class quiet_ui {
  public:
    quiet_ui();
    ~quiet_ui();
    quiet_ui(const quiet_ui&) = delete;
    quiet_ui& operator=(const quiet_ui&) = delete;

  private:
    platform::memory_log_list log_;
    platform::memory_message_box boxes_;
    platform::silent_progress_factory progress_;
    platform::idle_pump pump_;
    platform::manual_clock clock_;
    platform::scoped_ui scope_;
};

}  // namespace kvl::fuzz
