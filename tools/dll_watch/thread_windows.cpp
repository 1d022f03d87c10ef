// The host thread's pump, window look-ups and menu reading.
#include "tools/dll_watch/thread_windows.h"

#include <algorithm>

namespace {

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

}  // namespace

bool DispatchQueued(const std::function<bool()>& stop)
{
    MSG message;
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        ::TranslateMessage(&message);
        ::DispatchMessageA(&message);
        if (stop && stop())
            return true;
    }
    return false;
}

bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds, DWORD sliceMs, HANDLE wake)
{
    const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
    for (;;) {
        if ((done && done()) || DispatchQueued(done))
            return true;
        DWORD wait = sliceMs;
        if (milliseconds != INFINITE) {
            const ULONGLONG now = ::GetTickCount64();
            if (now >= deadline)
                return false;
            wait = static_cast<DWORD>(std::min<ULONGLONG>(deadline - now, sliceMs));
        }
        ::MsgWaitForMultipleObjects(wake ? 1 : 0, wake ? &wake : nullptr, FALSE, wait, QS_ALLINPUT);
    }
}

std::vector<HWND> ThreadWindowsOfClass(const char* className, bool visibleOnly)
{
    std::vector<HWND> windows;
    ::EnumThreadWindows(::GetCurrentThreadId(), &CollectWindow, reinterpret_cast<LPARAM>(&windows));
    std::vector<HWND> found;
    for (const HWND window : windows) {
        char name[64] = {};
        ::GetClassNameA(window, name, sizeof(name));
        if (::lstrcmpA(name, className) == 0 && (!visibleOnly || ::IsWindowVisible(window)))
            found.push_back(window);
    }
    return found;
}

std::vector<HWND> ThreadDialogs(const char* caption)
{
    std::vector<HWND> found;
    for (const HWND dialog : ThreadWindowsOfClass(kDialogClass)) {
        char text[256] = {};
        ::GetWindowTextA(dialog, text, sizeof(text));
        if (caption == nullptr || ::lstrcmpA(text, caption) == 0)
            found.push_back(dialog);
    }
    return found;
}

std::vector<MenuItem> ReadMenuItems(HMENU menu)
{
    std::vector<MenuItem> items;
    const int count = ::GetMenuItemCount(menu);
    for (int i = 0; i < count; ++i) {
        char text[256] = {};
        MENUITEMINFOA info{};
        info.cbSize = sizeof(info);
        info.fMask = MIIM_FTYPE | MIIM_STATE | MIIM_ID | MIIM_SUBMENU | MIIM_STRING;
        info.dwTypeData = text;
        info.cch = sizeof(text);
        if (!::GetMenuItemInfoA(menu, static_cast<UINT>(i), TRUE, &info))
            continue;
        items.push_back({info.fType, info.fState, info.wID, info.hSubMenu, text});
    }
    return items;
}
