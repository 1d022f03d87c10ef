// The menu watcher: the owner hears of each menu as it opens (WM_INITMENUPOPUP) and when its
// loop waits for input (WM_ENTERIDLE), which is when the menu can be driven or ended.
#include "tests/win/menu_watcher.h"

#include <gtest/gtest.h>

#include <utility>

MenuWatcher* MenuWatcher::s_active = nullptr;

namespace {

// A menu that never goes idle would hold the test in its loop; this ends it anyway.
constexpr UINT kGiveUpMilliseconds = 5000;

}  // namespace

MenuWatcher::MenuWatcher(HWND owner, std::vector<WPARAM> keys, std::function<void()> onOpen)
    : m_owner(owner), m_previous(nullptr), m_keys(std::move(keys)), m_onOpen(std::move(onOpen))
{
    s_active = this;
    m_previous = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&MenuWatcher::WatchProc)));
}

MenuWatcher::~MenuWatcher()
{
    if (::IsWindow(m_owner) &&
        ::GetWindowLongPtrA(m_owner, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&MenuWatcher::WatchProc))
        ::SetWindowLongPtrA(m_owner, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_previous));
    if (m_giveUpTimer != 0)
        ::KillTimer(nullptr, m_giveUpTimer);
    s_active = nullptr;
}

LRESULT CALLBACK MenuWatcher::WatchProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    MenuWatcher* const self = s_active;
    if (message == WM_INITMENUPOPUP) {
        self->menus.push_back(ReadMenuItems(reinterpret_cast<HMENU>(wParam)));
        if (self->m_onOpen)
            self->m_onOpen();
        self->m_idleSeen = false;
        if (self->m_giveUpTimer == 0)
            self->m_giveUpTimer = ::SetTimer(nullptr, 0, kGiveUpMilliseconds, &MenuWatcher::GiveUp);
    } else if (message == WM_ENTERIDLE && wParam == MSGF_MENU && !self->m_idleSeen) {
        self->m_idleSeen = true;
        if (self->m_keys.empty()) {
            ::EndMenu();
        } else {
            const HWND menuWindow = reinterpret_cast<HWND>(lParam);
            for (const WPARAM key : self->m_keys)
                ::PostMessageA(menuWindow, WM_KEYDOWN, key, 0);
        }
    } else if (message == WM_UNINITMENUPOPUP || message == WM_EXITMENULOOP) {
        if (self->m_giveUpTimer != 0) {
            ::KillTimer(nullptr, self->m_giveUpTimer);
            self->m_giveUpTimer = 0;
        }
    }
    return ::CallWindowProcA(self->m_previous, window, message, wParam, lParam);
}

void CALLBACK MenuWatcher::GiveUp(HWND, UINT, UINT_PTR, DWORD)
{
    ADD_FAILURE() << "the menu never waited for input";
    if (s_active != nullptr && s_active->m_giveUpTimer != 0) {
        ::KillTimer(nullptr, s_active->m_giveUpTimer);
        s_active->m_giveUpTimer = 0;
    }
    ::EndMenu();
}
