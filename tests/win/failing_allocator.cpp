// The replacement operator new and delete, and the switch that makes one allocation fail.
#include "tests/win/failing_allocator.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <new>

namespace {

// Zero-initialised before any constructor runs: allocations during start-up are plain ones.
DWORD g_armedThread = 0;
std::size_t g_failAt = 0;
std::size_t g_count = 0;
int g_paused = 0;
bool g_failed = false;
std::atomic<long> g_outstanding{0};

void* Allocate(std::size_t size)
{
    if (g_armedThread != 0 && g_paused == 0 && ::GetCurrentThreadId() == g_armedThread) {
        ++g_count;
        if (g_count == g_failAt) {
            g_failed = true;
            throw std::bad_alloc();
        }
    }
    void* block = std::malloc(size != 0 ? size : 1);
    if (block == nullptr)
        throw std::bad_alloc();
    ++g_outstanding;
    return block;
}

void Free(void* block) noexcept
{
    if (block == nullptr)
        return;
    --g_outstanding;
    std::free(block);
}

void* AllocateOrNull(std::size_t size) noexcept
{
    try {
        return Allocate(size);
    } catch (...) {
        return nullptr;
    }
}

}  // namespace

namespace failing_allocator {

void Arm(std::size_t failAt)
{
    g_count = 0;
    g_failAt = failAt;
    g_failed = false;
    g_armedThread = ::GetCurrentThreadId();
}

std::size_t Disarm()
{
    g_armedThread = 0;
    return g_count;
}

bool Failed()
{
    return g_failed;
}

long Outstanding()
{
    return g_outstanding.load();
}

Paused::Paused()
{
    ++g_paused;
}

Paused::~Paused()
{
    --g_paused;
}

}  // namespace failing_allocator

void* operator new(std::size_t size)
{
    return Allocate(size);
}

void* operator new[](std::size_t size)
{
    return Allocate(size);
}

void* operator new(std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocateOrNull(size);
}

void* operator new[](std::size_t size, const std::nothrow_t&) noexcept
{
    return AllocateOrNull(size);
}

void operator delete(void* block) noexcept
{
    Free(block);
}

void operator delete[](void* block) noexcept
{
    Free(block);
}

void operator delete(void* block, std::size_t) noexcept
{
    Free(block);
}

void operator delete[](void* block, std::size_t) noexcept
{
    Free(block);
}

void operator delete(void* block, const std::nothrow_t&) noexcept
{
    Free(block);
}

void operator delete[](void* block, const std::nothrow_t&) noexcept
{
    Free(block);
}
