// What a host sees of its own thread, where the hosted DLL's windows live: its message pump,
// its dialogs and menu windows, and the items of a menu. The tests and the player simulator
// host the plug-in on one thread and watch it from there.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

// Dispatches the messages queued for this thread. With stop, it returns as soon as stop()
// holds after a message, leaving the rest queued; true then.
bool DispatchQueued(const std::function<bool()>& stop = {});

// Runs this thread's messages until done() holds, looked at first and after each message, or
// until milliseconds have passed (INFINITE: no limit); true when done() held. Without done, it
// runs them for the whole time. A wait lasts at most sliceMs, so that a condition that comes
// true without a message is still seen; wake, when given, ends a wait too.
bool PumpUntil(const std::function<bool()>& done, DWORD milliseconds, DWORD sliceMs = INFINITE,
               HANDLE wake = nullptr);

// The window classes of dialogs and of the window a tracked menu shows in.
constexpr char kDialogClass[] = "#32770";
constexpr char kMenuClass[] = "#32768";

// This thread's top-level windows of the class, only the visible ones when told so.
std::vector<HWND> ThreadWindowsOfClass(const char* className, bool visibleOnly = false);
// This thread's dialog windows; with a caption, only those showing it.
std::vector<HWND> ThreadDialogs(const char* caption = nullptr);

struct MenuItem {
    UINT type;
    UINT state;
    UINT id;
    HMENU submenu;
    std::string text;  // as the menu holds it, accelerator marks included
};
// The items of a menu, in order; one that cannot be read is left out.
std::vector<MenuItem> ReadMenuItems(HMENU menu);
