#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui.h"

namespace kvl {

// "1 h 2 m " style remaining-time text; seconds are not shown, so under a minute gives "".
std::u16string format_duration(int64_t milliseconds);

// Counts the units of one long operation, estimates the time left, shows a small window for long
// runs and carries the user's Cancel. Workers call `start`, then `step` after every unit of work,
// and stop as soon as `cancelled` is true.
class progressbar {
  public:
    progressbar() = default;
    // A copy counts on its own; it never shares or takes its source's window.
    progressbar(const progressbar& other);
    progressbar& operator=(const progressbar& other);
    ~progressbar() = default;

    void start(std::u16string_view title, int64_t total);
    void step(int32_t amount);

    bool cancelled = false;
    // While true the window appears only once more than 10 seconds are estimated to remain.
    bool show_after_delay = true;

    const std::u16string& title() const { return title_; }
    const std::u16string& estimate() const { return estimate_; }
    int64_t total() const { return total_; }
    int64_t done() const { return done_; }

  private:
    void copy_counts(const progressbar& other);
    void on_cancel();

    std::unique_ptr<platform::progress_window> window_;
    std::u16string title_;
    std::u16string estimate_;
    int64_t total_ = 0;
    int64_t done_ = 0;
    uint64_t start_tick_ = 0;
};

}  // namespace kvl
