// The calendar clock behind CurrentTime.
#include "framework/clock.h"

#include <ctime>

namespace {

int64_t SystemTime()
{
    return static_cast<int64_t>(std::time(nullptr));
}

ClockSource g_clockSource = &SystemTime;

}  // namespace

int64_t CurrentTime()
{
    return g_clockSource();
}

ClockSource SetClockSource(ClockSource source)
{
    ClockSource previous = g_clockSource;
    g_clockSource = source ? source : &SystemTime;
    return previous;
}
