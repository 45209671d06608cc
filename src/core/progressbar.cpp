#include "core/progressbar.h"

#include <algorithm>

#include "core/text.h"

namespace kvl {

std::u16string format_duration(int64_t milliseconds) {
    const int64_t seconds = milliseconds / 1000;
    const int64_t hours = seconds / 3600;
    const int64_t minutes = (seconds - hours * 3600) / 60;
    std::u16string text;
    if (hours != 0) text += decimal(hours) + u" h ";
    if (minutes != 0) text += decimal(minutes) + u" m ";
    return text;
}

progressbar::progressbar(const progressbar& other) {
    copy_counts(other);
}

progressbar& progressbar::operator=(const progressbar& other) {
    if (this != &other) copy_counts(other);
    return *this;
}

void progressbar::copy_counts(const progressbar& other) {
    cancelled = other.cancelled;
    show_after_delay = other.show_after_delay;
    title_ = other.title_;
    estimate_ = other.estimate_;
    total_ = other.total_;
    done_ = other.done_;
    start_tick_ = other.start_tick_;
}

void progressbar::start(std::u16string_view title, int64_t total) {
    cancelled = false;
    total_ = total;
    done_ = 0;
    start_tick_ = platform::ui().clock->now_ms();
    title_ = std::u16string(title) + u"...";
}

void progressbar::on_cancel() {
    cancelled = true;
    if (window_) window_->hide();
}

void progressbar::step(int32_t amount) {
    done_ += amount;
    // A run with nothing to do counts as complete rather than dividing by zero.
    int64_t percent = total_ > 0 ? done_ * 100 / total_ : 100;
    if (percent == 0) percent = 1;
    const uint64_t elapsed = platform::ui().clock->now_ms() - start_tick_;
    int64_t remaining = 0;
    if (done_ != 0) {
        const long double left = static_cast<long double>(total_ - done_) *
                                 (static_cast<long double>(elapsed) / static_cast<long double>(done_));
        remaining = left > 0 ? static_cast<int64_t>(std::min<long double>(left, 1e15L)) : 0;
        const std::u16string text = format_duration(remaining);
        estimate_ = text.empty() ? std::u16string() : u"Estimated: " + text;
    }
    platform::ui().pump->process_pending();
    if (!cancelled && (!show_after_delay || remaining / 1000 > 10)) {
        if (!window_) window_ = platform::ui().progress->create([this] { on_cancel(); });
        window_->show(title_, estimate_, static_cast<int>(std::clamp<int64_t>(percent, 0, 100)));
    }
    if (!cancelled && percent >= 100 && window_) {
        window_->hide();
        window_.reset();
    }
}

}  // namespace kvl
