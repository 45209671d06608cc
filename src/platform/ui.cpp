#include "platform/ui.h"

#include "platform/stderr_ui.h"

namespace kvl::platform {

namespace {

ui_services& defaults() {
    static stderr_message_box boxes;
    static silent_progress_factory progress;
    static idle_pump pump;
    static monotonic_clock clock;
    static ui_services services{&boxes, &progress, &pump, &clock};
    return services;
}

}  // namespace

ui_services& ui() {
    return defaults();
}

scoped_ui::scoped_ui(const ui_services& services) : saved_(ui()) {
    ui() = services;
}

scoped_ui::~scoped_ui() {
    ui() = saved_;
}

}  // namespace kvl::platform
