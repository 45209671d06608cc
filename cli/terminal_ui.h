#pragma once

#include <vector>

#include "platform/ui.h"

namespace kvl::cli {

// Log lines on standard error as they are written; errors are counted for the exit status.
class terminal_log final : public platform::log_list {
  public:
    void add_line(const std::u16string& line, int image) override;
    void clear() override {}
    int errors = 0;
};

// Message boxes as lines on standard error; warnings count as errors for the exit status.
class terminal_boxes final : public platform::message_box {
  public:
    void show(std::u16string_view caption, std::u16string_view text, platform::box_icon icon) override;
    int warnings = 0;
};

// A progress bar with the percentage and the estimate on standard error, drawn only on a terminal.
class terminal_progress final : public platform::progress_window_factory {
  public:
    explicit terminal_progress(bool draw) : draw_(draw) {}
    std::unique_ptr<platform::progress_window> create(boost::function<void()> on_cancel) override;
    // Presses Cancel on every window that is up.
    void cancel_all();

  private:
    friend class terminal_window;
    bool draw_;
    std::vector<boost::function<void()>*> cancels_;
};

// Ctrl-C: the first press cancels the running loop as Esc and Cancel do, the second exits.
class interrupt_pump final : public platform::message_pump {
  public:
    interrupt_pump(terminal_progress& progress, bool& cancel_requested);
    void process_pending() override;

  private:
    terminal_progress& progress_;
    bool& cancel_requested_;
};

}  // namespace kvl::cli
