#include "core/progressbar.h"

#include <gtest/gtest.h>

#include "support/test_ui.h"

namespace kvl {
namespace {

class ProgressbarTest : public ::testing::Test {
  protected:
    // Advances the fake clock to t milliseconds after the start and steps.
    void step_at(uint64_t t, int32_t amount) {
        ui.clock.now = t;
        bar.step(amount);
    }
    const platform::progress_state& window(size_t i = 0) { return *ui.progress.windows.at(i); }

    test::test_ui ui;
    progressbar bar;
};

TEST_F(ProgressbarTest, FirstStepOfAStartedRunShowsAtLeastOnePercent) {
    bar.show_after_delay = false;
    bar.start(u"Processing", 1000);
    step_at(0, 1);
    ASSERT_EQ(ui.progress.windows.size(), 1u);
    EXPECT_EQ(window().percent, 1);
    EXPECT_EQ(window().title, u"Processing...");
    EXPECT_TRUE(window().visible);
}

TEST_F(ProgressbarTest, EstimateTextFromElapsedTimePerUnit) {
    bar.start(u"Processing", 100);
    step_at(1000, 50);  // 1 s left
    EXPECT_EQ(bar.estimate(), u"");
    bar.start(u"Processing", 2);
    step_at(3'630'000, 1);  // one hour and 30 seconds left
    EXPECT_EQ(bar.estimate(), u"Estimated: 1 h ");
    bar.start(u"Processing", 2);
    step_at(3'630'000 + 3'725'000, 1);
    EXPECT_EQ(bar.estimate(), u"Estimated: 1 h 2 m ");
}

TEST_F(ProgressbarTest, WithDelayTheWindowAppearsOnlyAboveTenSecondsAndStaysUntilDone) {
    bar.start(u"Processing", 100);
    step_at(1099, 10);  // 90 units left at 109.9 ms each: 9.9 s
    EXPECT_TRUE(ui.progress.windows.empty());
    step_at(2750, 10);  // 80 units at 137.5 ms: 11 s
    ASSERT_EQ(ui.progress.windows.size(), 1u);
    EXPECT_EQ(window().percent, 20);
    EXPECT_EQ(window().estimate, u"");  // 11 s is under a minute
    step_at(2800, 60);                  // estimate falls to about 1 s: the window keeps its last texts
    EXPECT_TRUE(window().visible);
    EXPECT_EQ(window().percent, 20);
    EXPECT_EQ(window().shows, 1);
    step_at(2900, 20);  // 100 %: hidden and released
    EXPECT_FALSE(window().alive);
}

TEST_F(ProgressbarTest, EstimateOfExactlyTenSecondsDoesNotShow) {
    bar.start(u"Processing", 2);
    step_at(10'999, 1);
    EXPECT_TRUE(ui.progress.windows.empty());
    bar.start(u"Processing", 2);
    step_at(10'999 + 11'000, 1);
    EXPECT_EQ(ui.progress.windows.size(), 1u);
}

TEST_F(ProgressbarTest, WithoutDelayTheWindowShowsFromTheFirstStepAndNeverPassesOneHundred) {
    bar.show_after_delay = false;
    bar.start(u"Analyzing chunks", 10);
    step_at(0, 3);
    ASSERT_EQ(ui.progress.windows.size(), 1u);
    EXPECT_EQ(window().percent, 30);
    step_at(0, 50);  // far beyond the total
    EXPECT_EQ(window().percent, 100);
    EXPECT_FALSE(window().alive);
}

TEST_F(ProgressbarTest, CancelHidesTheWindowAndTheNextStartRunsNormally) {
    bar.show_after_delay = false;
    bar.start(u"Processing", 10);
    step_at(0, 1);
    ASSERT_TRUE(ui.progress.press_cancel());
    EXPECT_TRUE(bar.cancelled);
    EXPECT_FALSE(window().visible);
    EXPECT_TRUE(window().alive);
    step_at(0, 1);  // a cancelled run shows nothing
    EXPECT_EQ(window().shows, 1);
    bar.start(u"Processing", 10);
    EXPECT_FALSE(bar.cancelled);
    step_at(0, 1);
    EXPECT_EQ(ui.progress.windows.size(), 1u);  // the hidden window is reused
    EXPECT_EQ(window().shows, 2);
    EXPECT_TRUE(window().visible);
}

TEST_F(ProgressbarTest, CancelPressedFromThePumpStopsALoopAfterItsCurrentUnit) {
    bar.show_after_delay = false;
    ui.pump.on_pump = [&] {
        if (ui.pump.calls == 30) ui.progress.press_cancel();
    };
    bar.start(u"Processing", 100);
    int units = 0;
    for (int i = 0; i < 100 && !bar.cancelled; ++i) {
        ++units;
        bar.step(1);
    }
    EXPECT_EQ(units, 30);
    EXPECT_EQ(bar.done(), 30);
}

TEST_F(ProgressbarTest, EmptyRunCountsAsComplete) {
    bar.show_after_delay = false;
    bar.start(u"Processing", 0);
    step_at(0, 0);
    ASSERT_EQ(ui.progress.windows.size(), 1u);
    EXPECT_EQ(window().percent, 100);
    EXPECT_FALSE(window().alive);
}

TEST_F(ProgressbarTest, ACopyCountsOnItsOwnWindow) {
    bar.show_after_delay = false;
    bar.start(u"Processing", 10);
    step_at(0, 1);
    {
        progressbar copy = bar;
        EXPECT_EQ(copy.done(), 1);
        copy.step(1);
        EXPECT_EQ(ui.progress.windows.size(), 2u);
    }
    EXPECT_TRUE(window(0).alive);
    EXPECT_FALSE(window(1).alive);
}

}  // namespace
}  // namespace kvl
