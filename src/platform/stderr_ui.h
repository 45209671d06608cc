#pragma once

#include "platform/ui.h"

// Plain services for a process without a window: boxes and log lines go to standard error,
// progress is not drawn, nothing is pumped.
namespace kvl::platform {

class stderr_message_box final : public message_box {
  public:
    void show(std::u16string_view caption, std::u16string_view text, box_icon icon) override;
};

class stderr_log_list final : public log_list {
  public:
    void add_line(const std::u16string& line, int image) override;
    void clear() override {}
};

class silent_progress_factory final : public progress_window_factory {
  public:
    std::unique_ptr<progress_window> create(boost::function<void()> on_cancel) override;
};

class idle_pump final : public message_pump {
  public:
    void process_pending() override {}
};

class monotonic_clock final : public tick_clock {
  public:
    uint64_t now_ms() override;
};

}  // namespace kvl::platform
