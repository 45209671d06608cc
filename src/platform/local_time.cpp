#include "platform/local_time.h"

#include <time.h>

#include <limits>

namespace kvl::platform {

bool to_local_calendar(int64_t unix_seconds, int millisecond, calendar_time& out) {
    if (unix_seconds < std::numeric_limits<time_t>::min() ||
        unix_seconds > std::numeric_limits<time_t>::max())
        return false;
    const time_t t = static_cast<time_t>(unix_seconds);
    tm fields{};
    if (!localtime_r(&t, &fields)) return false;
    out = {fields.tm_year + 1900, fields.tm_mon + 1, fields.tm_mday, fields.tm_hour,
           fields.tm_min,         fields.tm_sec,     millisecond};
    return true;
}

}  // namespace kvl::platform
