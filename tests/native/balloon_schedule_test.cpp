#include "notifier/balloon_schedule.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

namespace {

constexpr std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
constexpr std::int64_t kMin = std::numeric_limits<std::int64_t>::min();

// A moment, seconds after it, and the moment they come to.
struct LaterCase {
    std::int64_t moment;
    std::int32_t seconds;
    std::int64_t later;
};

TEST(AddSecondsTest, SaturatesAtBothEndsOfTheRange)
{
    const LaterCase cases[] = {
        {1000, 5, 1005},
        {1000, -5, 995},
        {kMax - 5, 5, kMax},
        {kMax - 4, 5, kMax},
        {kMax, std::numeric_limits<std::int32_t>::max(), kMax},
        {kMin + 5, -5, kMin},
        {kMin + 4, -5, kMin},
        {kMin, std::numeric_limits<std::int32_t>::min(), kMin},
        {kMax, -1, kMax - 1},
        {kMin, 1, kMin + 1},
    };
    for (const LaterCase& c : cases)
        EXPECT_EQ(AddSeconds(c.moment, c.seconds), c.later) << c.moment << " + " << c.seconds;
}

// What one schedule has due at one moment.
struct DueCase {
    const char* what;
    BalloonSchedule schedule;
    std::int64_t now;
    BalloonStep step;
};

TEST(DueBalloonStepTest, ShowsAtItsMomentAndHidesAtItsEnd)
{
    const DueCase cases[] = {
        {"nothing scheduled", {0, 0}, 500, BalloonStep::Nothing},
        {"nothing scheduled, at the moment 0", {0, 0}, 0, BalloonStep::Nothing},
        {"before its moment", {600, 0}, 599, BalloonStep::Nothing},
        {"at its moment", {600, 0}, 600, BalloonStep::Show},
        {"after its moment", {600, 0}, 640, BalloonStep::Show},
        {"shown, before its end", {0, 605}, 604, BalloonStep::Nothing},
        {"shown, at its end", {0, 605}, 605, BalloonStep::Hide},
        {"shown, long after its end", {0, 605}, 9000, BalloonStep::Hide},
        {"showing comes before hiding", {600, 600}, 600, BalloonStep::Show},
        {"the moment at the end of the range", {kMax, 0}, kMax - 1, BalloonStep::Nothing},
        {"reached at the end of the range", {kMax, 0}, kMax, BalloonStep::Show},
        {"a moment before the epoch", {-100, 0}, -100, BalloonStep::Show},
        {"an end at the start of the range", {0, kMin}, kMin, BalloonStep::Hide},
    };
    for (const DueCase& c : cases)
        EXPECT_EQ(DueBalloonStep(c.schedule, c.now), c.step) << c.what;
}

TEST(BalloonShownTest, TheEndCountsFromTheShellsReturnAndSaturates)
{
    // From the moment the shell returned, with the time-out, to the balloon's end.
    const LaterCase cases[] = {
        {600, 5, 605},
        {603, 5, 608},  // a shell that took three seconds
        {600, 0, 600},
        {600, -30, 570},
        {kMax - 10, 30, kMax},
        {kMin + 10, -30, kMin},
    };
    for (const LaterCase& c : cases) {
        BalloonSchedule schedule{c.moment, 0};
        BalloonShown(schedule, c.moment, c.seconds);
        EXPECT_EQ(schedule.show, 0) << c.moment << " + " << c.seconds;
        EXPECT_EQ(schedule.hide, c.later) << c.moment << " + " << c.seconds;
        EXPECT_TRUE(schedule.Pending());
        // A time-out of 0 or less ends the balloon on the tick that showed it.
        EXPECT_EQ(DueBalloonStep(schedule, c.moment) == BalloonStep::Hide, c.seconds <= 0);
    }
}

// The window's use of the two over a run of ticks: one show, one hide, at their moments.
TEST(BalloonScheduleTest, ABalloonShowsOnceAndGoesOnceOverASequenceOfTicks)
{
    BalloonSchedule schedule;
    schedule.show = 100;
    std::string line;
    for (std::int64_t now = 97; now <= 110; ++now) {
        char event = '.';
        if (schedule.Pending() && DueBalloonStep(schedule, now) == BalloonStep::Show) {
            BalloonShown(schedule, now, 7);
            event = 'S';
        }
        if (schedule.Pending() && DueBalloonStep(schedule, now) == BalloonStep::Hide) {
            schedule = BalloonSchedule{};
            event = event == 'S' ? 'B' : 'H';
        }
        line += event;
    }
    EXPECT_EQ(line, "...S......H...");
    EXPECT_FALSE(schedule.Pending());
}

}  // namespace
