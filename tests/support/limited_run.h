#pragma once

#include <string>
#include <vector>

namespace kvl::test {

// How a program run under a time limit ended, and what it used.
struct limited_result {
    int exit_code = -1;  // -1 when it did not exit normally
    int signal = 0;      // the signal that ended it, if any
    bool timed_out = false;
    double seconds = 0;
    long max_rss_kib = 0;
    std::string out;
    std::string err;
};

// Runs a program (found on PATH when the name has no "/") with no input, its output captured, and
// kills it when it runs longer than the limit.
limited_result run_limited(const std::vector<std::string>& command, double time_limit_seconds);

}  // namespace kvl::test
