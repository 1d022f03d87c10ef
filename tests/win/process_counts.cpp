// Counting the process's objects and handles, by asking or, under Wine, by probing.
#include "tests/win/process_counts.h"

#include <psapi.h>

#include <algorithm>

// Wine's GetGuiResources answers 0 with ERROR_CALL_NOT_IMPLEMENTED. Its GDI and USER handle
// tables take a handle whose high word is zero as any generation of the entry its low word
// names, so the live objects can be counted by probing every entry.
DWORD GdiObjects()
{
    if (const DWORD reported = ::GetGuiResources(::GetCurrentProcess(), GR_GDIOBJECTS))
        return reported;
    DWORD count = 0;
    for (ULONG_PTR entry = 1; entry <= 0xFFFF; ++entry) {
        if (::GetObjectType(reinterpret_cast<HGDIOBJ>(entry)) != 0)
            ++count;
    }
    return count;
}

namespace {

bool IsIcon(HANDLE handle)
{
    ICONINFO info{};
    if (!::GetIconInfo(static_cast<HICON>(handle), &info))
        return false;
    // The answer's bitmaps are copies made for the caller.
    if (info.hbmMask)
        ::DeleteObject(info.hbmMask);
    if (info.hbmColor)
        ::DeleteObject(info.hbmColor);
    return true;
}

}  // namespace

DWORD UserObjects()
{
    if (const DWORD reported = ::GetGuiResources(::GetCurrentProcess(), GR_USEROBJECTS))
        return reported;
    // Wine's user handles have 0x20 + 2 * index in their low word.
    DWORD count = 0;
    for (ULONG_PTR entry = 0x20; entry <= 0xFFFF; entry += 2) {
        const HANDLE handle = reinterpret_cast<HANDLE>(entry);
        if (::IsWindow(static_cast<HWND>(handle)) || ::IsMenu(static_cast<HMENU>(handle)) || IsIcon(handle))
            ++count;
    }
    return count;
}

// Wine 8's GetProcessHandleCount answers 0. Its server hands out the lowest free multiple of 4
// first, so a probe of the first entries finds every handle of a process that holds a few hundred.
constexpr ULONG_PTR kHandleProbeEnd = 0x10000;

DWORD KernelHandles()
{
    DWORD count = 0;
    if (::GetProcessHandleCount(::GetCurrentProcess(), &count) && count != 0)
        return count;
    count = 0;
    for (ULONG_PTR value = 4; value < kHandleProbeEnd; value += 4) {
        DWORD flags = 0;
        if (::GetHandleInformation(reinterpret_cast<HANDLE>(value), &flags))
            ++count;
    }
    return count;
}

SIZE_T BusyHeapBytes()
{
    HANDLE heaps[64];
    const DWORD count = std::min<DWORD>(::GetProcessHeaps(64, heaps), 64);
    SIZE_T busy = 0;
    for (DWORD i = 0; i < count; ++i) {
        if (!::HeapLock(heaps[i]))
            continue;
        PROCESS_HEAP_ENTRY entry = {};
        while (::HeapWalk(heaps[i], &entry)) {
            if (entry.wFlags & PROCESS_HEAP_ENTRY_BUSY)
                busy += entry.cbData;
        }
        ::HeapUnlock(heaps[i]);
    }
    return busy;
}

SIZE_T PrivateBytes()
{
    PROCESS_MEMORY_COUNTERS_EX counters = {};
    counters.cb = sizeof(counters);
    if (!::K32GetProcessMemoryInfo(::GetCurrentProcess(), reinterpret_cast<PROCESS_MEMORY_COUNTERS*>(&counters),
                                   sizeof(counters)))
        return 0;
    return counters.PrivateUsage != 0 ? counters.PrivateUsage : counters.PagefileUsage;
}
