#pragma once

#include <string>
#include <string_view>

#include "platform/ui.h"

namespace kvl {

// The list that receives log lines; null until the window (or the command line) binds one, and
// until then every line is shown in a message box instead.
platform::log_list* message_log();
void bind_message_log(platform::log_list* list);

// Emits origin + "=> " + message (or the system's text of the last error when message is empty),
// with every CR and LF removed. Used through base::report_error.
void log_error(std::string_view origin, std::u16string_view message);

// Emits an information line, unchanged.
void log_note(std::u16string_view message);

// The system's text for an error number; empty when it has none.
std::u16string system_error_text(int error);

}  // namespace kvl
