#include "platform/stderr_ui.h"

#include <time.h>

#include <cstdio>

#include "core/text.h"

namespace kvl::platform {

void stderr_message_box::show(std::u16string_view caption, std::u16string_view text, box_icon) {
    std::fprintf(stderr, "%s: %s\n", utf16_to_utf8(caption).c_str(), utf16_to_utf8(text).c_str());
}

void stderr_log_list::add_line(const std::u16string& line, int) {
    std::fprintf(stderr, "%s\n", utf16_to_utf8(line).c_str());
}

namespace {

class invisible_window final : public progress_window {
  public:
    void show(std::u16string_view, std::u16string_view, int) override {}
    void hide() override {}
};

}  // namespace

std::unique_ptr<progress_window> silent_progress_factory::create(boost::function<void()>) {
    return std::make_unique<invisible_window>();
}

uint64_t monotonic_clock::now_ms() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace kvl::platform
