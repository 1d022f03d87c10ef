// When the "lyrics found" balloon shows and when it goes, as moments of the clock's seconds.
// Platform-free, so that the arithmetic at the ends of the range is tested natively.
#pragma once

#include <cstdint>

// The moment seconds after another, saturated at the ends of the range instead of wrapping.
std::int64_t AddSeconds(std::int64_t moment, std::int32_t seconds);

// A moment of 0 means that nothing is due.
struct BalloonSchedule {
    std::int64_t show = 0;
    std::int64_t hide = 0;

    bool Pending() const { return show != 0 || hide != 0; }
};

enum class BalloonStep { Nothing, Show, Hide };

// What is due at `now`: showing comes before hiding.
BalloonStep DueBalloonStep(const BalloonSchedule& schedule, std::int64_t now);

// The balloon has shown: it is due to go `timeout` seconds after the shell returned, which may
// be at once.
void BalloonShown(BalloonSchedule& schedule, std::int64_t shownAt, std::int32_t timeout);
