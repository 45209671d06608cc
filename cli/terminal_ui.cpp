#include "terminal_ui.h"

#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <string>

#include "core/text.h"

namespace kvl::cli {

namespace {

// Clears a progress bar drawn on the line, where there can be one.
const char* line_start() {
    return ::isatty(STDERR_FILENO) ? "\r\033[K" : "";
}

}  // namespace

void terminal_log::add_line(const std::u16string& line, int image) {
    if (image == 1) ++errors;
    std::fprintf(stderr, "%s%s\n", line_start(), utf16_to_utf8(line).c_str());
}

void terminal_boxes::show(std::u16string_view caption, std::u16string_view text, platform::box_icon icon) {
    if (icon == platform::box_icon::warning) ++warnings;
    std::fprintf(stderr, "%s%s: %s\n", line_start(), utf16_to_utf8(caption).c_str(),
                 utf16_to_utf8(text).c_str());
}

class terminal_window final : public platform::progress_window {
  public:
    terminal_window(terminal_progress& owner, boost::function<void()> cancel)
        : owner_(owner), cancel_(std::move(cancel)) {
        owner_.cancels_.push_back(&cancel_);
    }
    ~terminal_window() override {
        hide();
        std::erase(owner_.cancels_, &cancel_);
    }
    void show(std::u16string_view title, std::u16string_view estimate, int percent) override {
        if (!owner_.draw_) return;
        const int filled = std::clamp(percent, 0, 100) * 30 / 100;
        std::fprintf(stderr, "\r\033[K[%s%s] %3d%% %s %s",
                     std::string(static_cast<size_t>(filled), '#').c_str(),
                     std::string(static_cast<size_t>(30 - filled), ' ').c_str(), percent,
                     utf16_to_utf8(title).c_str(), utf16_to_utf8(estimate).c_str());
        shown_ = true;
    }
    void hide() override {
        if (shown_) std::fprintf(stderr, "\r\033[K");
        shown_ = false;
    }

  private:
    terminal_progress& owner_;
    boost::function<void()> cancel_;
    bool shown_ = false;
};

std::unique_ptr<platform::progress_window> terminal_progress::create(boost::function<void()> on_cancel) {
    return std::make_unique<terminal_window>(*this, std::move(on_cancel));
}

void terminal_progress::cancel_all() {
    const auto pending = cancels_;
    for (auto* cancel : pending) (*cancel)();
}

namespace {

std::atomic<int> interrupts{0};

void on_interrupt(int) {
    if (interrupts.fetch_add(1) >= 1) _exit(130);
}

}  // namespace

interrupt_pump::interrupt_pump(terminal_progress& progress, bool& cancel_requested)
    : progress_(progress), cancel_requested_(cancel_requested) {
    struct sigaction action {};
    action.sa_handler = on_interrupt;
    sigemptyset(&action.sa_mask);
    sigaction(SIGINT, &action, nullptr);
}

void interrupt_pump::process_pending() {
    if (interrupts.load() == 0) return;
    cancel_requested_ = true;
    progress_.cancel_all();
}

}  // namespace kvl::cli
