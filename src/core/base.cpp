#include "core/base.h"

#include "core/message_log.h"

namespace kvl {

void base::report_error(std::string_view origin, std::u16string_view message) const {
    if (!silent) log_error(origin, message);
}

}  // namespace kvl
