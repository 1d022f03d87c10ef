#include "notifier/balloon_schedule.h"

#include <limits>

std::int64_t AddSeconds(std::int64_t moment, std::int32_t seconds)
{
    std::int64_t sum = 0;
    if (__builtin_add_overflow(moment, static_cast<std::int64_t>(seconds), &sum))
        return seconds < 0 ? std::numeric_limits<std::int64_t>::min() : std::numeric_limits<std::int64_t>::max();
    return sum;
}

BalloonStep DueBalloonStep(const BalloonSchedule& schedule, std::int64_t now)
{
    if (schedule.show != 0 && now >= schedule.show)
        return BalloonStep::Show;
    if (schedule.hide != 0 && now >= schedule.hide)
        return BalloonStep::Hide;
    return BalloonStep::Nothing;
}

void BalloonShown(BalloonSchedule& schedule, std::int64_t shownAt, std::int32_t timeout)
{
    schedule.show = 0;
    schedule.hide = AddSeconds(shownAt, timeout);
}
