#include "core/message_log.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "core/text.h"

namespace kvl {

namespace {

platform::log_list*& bound_log() {
    static platform::log_list* list = nullptr;
    return list;
}

constexpr int note_image = 0;
constexpr int error_image = 1;

}  // namespace

platform::log_list* message_log() {
    return bound_log();
}

void bind_message_log(platform::log_list* list) {
    bound_log() = list;
}

std::u16string system_error_text(int error) {
    char buffer[256] = {};
    // The GNU strerror_r returns the text, which may or may not be the buffer.
    const char* text = strerror_r(error, buffer, sizeof buffer);
    return utf8_to_utf16(text ? text : "");
}

void log_error(std::string_view origin, std::u16string_view message) {
    const int saved_error = errno;
    std::u16string line = widen(origin) + u"=> ";
    line += message.empty() ? system_error_text(saved_error) : std::u16string(message);
    std::erase_if(line, [](char16_t c) { return c == u'\r' || c == u'\n'; });
    if (platform::log_list* list = message_log())
        list->add_line(line, error_image);
    else
        platform::ui().boxes->show(u"Error", line, platform::box_icon::warning);
}

void log_note(std::u16string_view message) {
    if (platform::log_list* list = message_log())
        list->add_line(std::u16string(message), note_image);
    else
        platform::ui().boxes->show(u"Note", message, platform::box_icon::information);
}

}  // namespace kvl
