// Finding the built plug-in DLL and its windows from the test that hosts it.
#include "tests/win/built_dll.h"

#include <algorithm>
#include <cstring>

namespace {

constexpr char kMenuClass[] = "#32768";

BOOL CALLBACK FindMenuWindow(HWND window, LPARAM lParam)
{
    char className[16] = {};
    ::GetClassNameA(window, className, sizeof(className));
    if (std::strcmp(className, kMenuClass) != 0 || !::IsWindowVisible(window))
        return TRUE;
    *reinterpret_cast<HWND*>(lParam) = window;
    return FALSE;
}

}  // namespace

std::string WindowsPathOf(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

HWND NotifierWindow()
{
    for (HWND window = nullptr; (window = ::FindWindowExA(nullptr, window, "Static", "TuneloreWnd")) != nullptr;) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == ::GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

HWND OpenMenu()
{
    HWND menu = nullptr;
    ::EnumThreadWindows(::GetCurrentThreadId(), &FindMenuWindow, reinterpret_cast<LPARAM>(&menu));
    return menu;
}
