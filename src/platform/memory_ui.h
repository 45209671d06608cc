#pragma once

#include <boost/function.hpp>
#include <string>
#include <vector>

#include "platform/ui.h"

// In-memory services: they record what the core shows and let a test (or the command line) answer,
// press Cancel or move the clock.
namespace kvl::platform {

struct log_line {
    std::u16string text;
    int image;
};

class memory_log_list final : public log_list {
  public:
    void add_line(const std::u16string& line, int image) override { lines.push_back({line, image}); }
    void clear() override { lines.clear(); }
    std::vector<log_line> lines;
};

struct shown_box {
    std::u16string caption;
    std::u16string text;
    box_icon icon;
};

class memory_message_box final : public message_box {
  public:
    void show(std::u16string_view caption, std::u16string_view text, box_icon icon) override {
        shown.push_back({std::u16string(caption), std::u16string(text), icon});
    }
    bool ask(std::u16string_view caption, std::u16string_view text) override {
        asked.push_back({std::u16string(caption), std::u16string(text), box_icon::information});
        if (answers.empty()) return false;
        const bool answer = answers.front();
        answers.erase(answers.begin());
        return answer;
    }
    std::vector<shown_box> shown;
    std::vector<shown_box> asked;
    std::vector<bool> answers;
};

// What one progress window was last told.
struct progress_state {
    bool alive = true;
    bool visible = false;
    int shows = 0;
    std::u16string title;
    std::u16string estimate;
    int percent = 0;
    boost::function<void()> cancel;
};

class memory_progress_factory final : public progress_window_factory {
  public:
    std::unique_ptr<progress_window> create(boost::function<void()> on_cancel) override;
    // The windows in creation order; released windows stay with alive == false.
    std::vector<std::shared_ptr<progress_state>> windows;
    // Presses Cancel on the newest window that is still alive; false when there is none.
    bool press_cancel();
};

// Runs `on_pump` at every pump, so a test can click or press a key in the middle of a loop.
class scripted_pump final : public message_pump {
  public:
    void process_pending() override {
        ++calls;
        if (on_pump) on_pump();
    }
    boost::function<void()> on_pump;
    int calls = 0;
};

class manual_clock final : public tick_clock {
  public:
    uint64_t now_ms() override { return now; }
    uint64_t now = 0;
};

}  // namespace kvl::platform
