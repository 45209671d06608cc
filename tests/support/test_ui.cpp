#include "support/test_ui.h"

#include "core/message_log.h"

namespace kvl::test {

test_ui::test_ui()
    : scope_(platform::ui_services{&boxes, &progress, &pump, &clock}), saved_log_(message_log()) {
    bind_message_log(&log);
}

test_ui::~test_ui() {
    bind_message_log(saved_log_);
}

std::vector<std::u16string> test_ui::log_texts() const {
    std::vector<std::u16string> texts;
    for (const auto& line : log.lines) texts.push_back(line.text);
    return texts;
}

}  // namespace kvl::test
