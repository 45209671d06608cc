#include "platform/memory_ui.h"

namespace kvl::platform {

namespace {

class recorded_window final : public progress_window {
  public:
    explicit recorded_window(std::shared_ptr<progress_state> state) : state_(std::move(state)) {}
    ~recorded_window() override {
        state_->alive = false;
        state_->visible = false;
    }
    void show(std::u16string_view title, std::u16string_view estimate, int percent) override {
        state_->visible = true;
        ++state_->shows;
        state_->title = title;
        state_->estimate = estimate;
        state_->percent = percent;
    }
    void hide() override { state_->visible = false; }

  private:
    std::shared_ptr<progress_state> state_;
};

}  // namespace

std::unique_ptr<progress_window> memory_progress_factory::create(boost::function<void()> on_cancel) {
    auto state = std::make_shared<progress_state>();
    state->cancel = std::move(on_cancel);
    windows.push_back(state);
    return std::make_unique<recorded_window>(state);
}

bool memory_progress_factory::press_cancel() {
    for (auto it = windows.rbegin(); it != windows.rend(); ++it) {
        if ((*it)->alive) {
            (*it)->cancel();
            return true;
        }
    }
    return false;
}

}  // namespace kvl::platform
