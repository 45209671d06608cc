#pragma once

#include <string>
#include <vector>

#include "platform/memory_ui.h"

namespace kvl::test {

// Installs in-memory user-interface services and a bound message log for one test.
class test_ui {
  public:
    test_ui();
    ~test_ui();
    test_ui(const test_ui&) = delete;
    test_ui& operator=(const test_ui&) = delete;

    // The texts of the log lines, in order.
    std::vector<std::u16string> log_texts() const;

    platform::memory_log_list log;
    platform::memory_message_box boxes;
    platform::memory_progress_factory progress;
    platform::scripted_pump pump;
    platform::manual_clock clock;

  private:
    platform::scoped_ui scope_;
    platform::log_list* saved_log_;
};

}  // namespace kvl::test
