// A test program's own operator new, which can be told to fail: armed on a thread, it counts
// that thread's allocations and throws std::bad_alloc at the chosen one, as an exhausted heap
// would. Linking failing_allocator.cpp replaces operator new for the whole program; nothing of
// the plug-in changes.
#pragma once

#include <cstddef>

namespace failing_allocator {

// Counts this thread's allocations from now on; the failAt-th (1-based) throws, 0: none does.
void Arm(std::size_t failAt);
// Stops counting; the number of allocations made while armed.
std::size_t Disarm();
// Whether the armed failure has happened.
bool Failed();
// Allocations made and not yet freed, on every thread.
long Outstanding();

// While one lives, this thread's allocations are neither counted nor failed: the test's own
// code that runs inside the code under test (a driver's timer, a seam) is not the step.
class Paused {
public:
    Paused();
    ~Paused();
    Paused(const Paused&) = delete;
    Paused& operator=(const Paused&) = delete;
};

}  // namespace failing_allocator
