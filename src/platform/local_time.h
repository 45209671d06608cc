#pragma once

#include <cstdint>

namespace kvl::platform {

struct calendar_time {
    int year;
    int month;  // 1-12
    int day;    // 1-31
    int hour;
    int minute;
    int second;
    int millisecond;
};

// Converts seconds since 1970-01-01 UTC to the local calendar (the TZ in force); false when the
// system refuses the moment.
bool to_local_calendar(int64_t unix_seconds, int millisecond, calendar_time& out);

}  // namespace kvl::platform
