// Lets a test run code that tracks a pop-up menu: watches the menus a window owns, records
// the items of each one that opens, and then leaves it, with or without a choice.
#pragma once

#include <windows.h>

#include <functional>
#include <vector>

#include "tools/dll_watch/thread_windows.h"

class MenuWatcher {
public:
    using Item = MenuItem;
    using Menu = std::vector<Item>;

    // Subclasses the owner. Each menu that opens is read, then sent the given keys (none:
    // it is closed without a choice). onOpen, if given, runs inside the menu's loop as each
    // menu opens.
    explicit MenuWatcher(HWND owner, std::vector<WPARAM> keys = {}, std::function<void()> onOpen = {});
    ~MenuWatcher();
    MenuWatcher(const MenuWatcher&) = delete;
    MenuWatcher& operator=(const MenuWatcher&) = delete;

    // One entry per opening, in order.
    std::vector<Menu> menus;

private:
    static LRESULT CALLBACK WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    static void CALLBACK GiveUp(HWND, UINT, UINT_PTR, DWORD);

    HWND m_owner;
    WNDPROC m_previous;
    std::vector<WPARAM> m_keys;
    std::function<void()> m_onOpen;
    bool m_idleSeen = false;
    UINT_PTR m_giveUpTimer = 0;

    static MenuWatcher* s_active;
};
