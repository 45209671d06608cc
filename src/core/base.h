#pragma once

#include <string_view>

#include "core/progressbar.h"

namespace kvl {

// Root of every worker: reports failures without unwinding and carries the worker's progress.
// A failing operation calls `report_error` with its origin ("class::method") and a message, then
// returns false, -1 or an empty result; an empty message reports the system's text of the last error.
class base {
  public:
    void report_error(std::string_view origin, std::u16string_view message) const;

    bool silent = false;
    progressbar progress;
};

// Holds `silent` on an object for a scope and restores it afterwards, on every path.
class scoped_silence {
  public:
    explicit scoped_silence(base& object) : object_(object), saved_(object.silent) { object.silent = true; }
    ~scoped_silence() { object_.silent = saved_; }
    scoped_silence(const scoped_silence&) = delete;
    scoped_silence& operator=(const scoped_silence&) = delete;

  private:
    base& object_;
    bool saved_;
};

}  // namespace kvl
