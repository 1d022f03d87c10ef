// The plug-in's calendar clock: seconds since 1970-01-01 00:00:00 UTC as a signed 64-bit
// count. Tests replace the source; the shipped DLL only ever reads the system's clock.
#pragma once

#include <cstdint>

using ClockSource = int64_t (*)();

int64_t CurrentTime();

// Replaces the clock's source (nullptr restores the system's) and returns the previous one.
ClockSource SetClockSource(ClockSource source);
