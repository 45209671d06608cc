#pragma once

#include <boost/function.hpp>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

// The user-interface services the core needs, each behind a small interface so that the logic runs
// the same in a test, in the terminal and in the window.
namespace kvl::platform {

// The message log: a list that receives one line per report or note, with an image index
// (0 note, 1 error).
class log_list {
  public:
    virtual ~log_list() = default;
    virtual void add_line(const std::u16string& line, int image) = 0;
    virtual void clear() = 0;
};

enum class box_icon { warning, information };

class message_box {
  public:
    virtual ~message_box() = default;
    virtual void show(std::u16string_view caption, std::u16string_view text, box_icon icon) = 0;
    // A Yes/No question; true for Yes. Where nobody can answer (a terminal run by its options) the
    // answer is No.
    virtual bool ask(std::u16string_view, std::u16string_view) { return false; }
};

// The small progress window of one worker: shown or refreshed with its texts and percentage,
// hidden, and released when its owner drops it.
class progress_window {
  public:
    virtual ~progress_window() = default;
    virtual void show(std::u16string_view title, std::u16string_view estimate, int percent) = 0;
    virtual void hide() = 0;
};

class progress_window_factory {
  public:
    virtual ~progress_window_factory() = default;
    // on_cancel is what the window's Cancel button (or Esc in the window) does.
    virtual std::unique_ptr<progress_window> create(boost::function<void()> on_cancel) = 0;
};

// Lets the user interface handle what is pending (clicks, Cancel, Esc) in the middle of long work.
class message_pump {
  public:
    virtual ~message_pump() = default;
    virtual void process_pending() = 0;
};

// A monotonic millisecond tick count.
class tick_clock {
  public:
    virtual ~tick_clock() = default;
    virtual uint64_t now_ms() = 0;
};

// The services in use. Each pointer is never null: the defaults write to standard error, pump
// nothing and read the monotonic clock.
struct ui_services {
    message_box* boxes;
    progress_window_factory* progress;
    message_pump* pump;
    tick_clock* clock;
};

ui_services& ui();

// Installs other services for its lifetime (a test, the command line, the window) and puts the
// previous ones back afterwards.
class scoped_ui {
  public:
    explicit scoped_ui(const ui_services& services);
    ~scoped_ui();
    scoped_ui(const scoped_ui&) = delete;
    scoped_ui& operator=(const scoped_ui&) = delete;

  private:
    ui_services saved_;
};

}  // namespace kvl::platform
