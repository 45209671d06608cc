#include "fuzz_support.h"

#include <sys/mman.h>
#include <unistd.h>

#include "core/message_log.h"
#include "core/text.h"

namespace kvl::fuzz {

memory_image::memory_image(const uint8_t* data, size_t size)
    : fd_(::memfd_create("korvalen-fuzz", MFD_CLOEXEC)) {
    for (size_t done = 0; fd_ >= 0 && done < size;) {
        const ssize_t written = ::write(fd_, data + done, size - done);
        if (written <= 0) {
            ::close(fd_);
            fd_ = -1;
        } else {
            done += static_cast<size_t>(written);
        }
    }
}

memory_image::~memory_image() {
    if (fd_ >= 0) ::close(fd_);
}

std::u16string memory_image::path() const {
    return utf8_to_utf16("/proc/self/fd/" + std::to_string(fd_));
}

quiet_ui::quiet_ui() : scope_(platform::ui_services{&boxes_, &progress_, &pump_, &clock_}) {
    bind_message_log(&log_);
}

quiet_ui::~quiet_ui() {
    bind_message_log(nullptr);
}

}  // namespace kvl::fuzz
