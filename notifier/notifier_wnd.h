// The hidden notifier window: the tray icon with its tooltip and balloon, the one-second tick
// that drives the plug-in, and the tray menu.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <string>

#include "framework/window.h"
#include "net/http_exchange.h"
#include "notifier/balloon_schedule.h"

// The icon's callback message: wParam the icon id, lParam the mouse or balloon event.
constexpr UINT WM_NOTIFYICON = WM_APP + 1;

constexpr UINT_PTR IDT_TICK = 1;
constexpr UINT IDT_TICK_INTERVAL = 1000;
// Tells a single click from a double-click; killed when it first fires.
constexpr UINT_PTR IDT_CLICK = 2;
constexpr UINT IDT_CLICK_INTERVAL = 300;

// Commands of the tray menu.
constexpr UINT IDM_HOME = 0;
constexpr UINT IDM_ENABLE_BALLOON = 1;
constexpr UINT IDM_SETTINGS = 2;

// What each tick does first, before the balloon's schedule runs: whoever builds the window
// chooses it (the plug-in polls the player).
using TickWork = void (*)();

class CNotifierWnd : public CWnd {
public:
    // Creates the window, starts the tick and adds the icon in the "Stopped" state. A window
    // that cannot be created leaves the notifier inert. The update check asks the endpoint,
    // which must outlive the window; without one there is no check.
    explicit CNotifierWnd(HINSTANCE module, TickWork tickWork = nullptr, const ServiceEndpoint* endpoint = nullptr);
    // Removes the icon; the window goes with the CWnd part.
    ~CNotifierWnd() override;

    // A lookup's outcomes, and the player at rest. Each sets icon and tooltip whole and
    // cancels a pending or shown balloon first.
    void ShowFound(std::string title, std::string address, std::int64_t lookupStart);
    void ShowNotFound(std::string address);
    void ShowStopped();
    void HideBalloon();

    // Once per window: the flag is set before anything else, so ticks nested in the check's
    // dialog do not start another.
    void CheckForUpdate();

    // The pop-up menu at the mouse pointer; its choice comes back as WM_COMMAND.
    void ShowTrayMenu();

protected:
    TUNELORE_BEGIN_MSG_MAP()
        TUNELORE_MSG_WM_TIMER(OnTimer)
        TUNELORE_MSG_NOTIFYICON(WM_NOTIFYICON, OnNotifyIcon)
        TUNELORE_MSG_WM_COMMAND(OnCommand)
        TUNELORE_MESSAGE_HANDLER(m_uTaskbarCreated, OnTaskbarCreated)
        TUNELORE_CHAIN_MSG_MAP(CWnd)
    TUNELORE_END_MSG_MAP()

    void OnTimer(UINT_PTR id);

    HICON m_hIconFound = nullptr;
    HICON m_hIconIdle = nullptr;
    std::string m_strLyricsUrl;
    NOTIFYICONDATAA m_nid{};
    UINT_PTR m_nClickTimer = 0;
    bool m_bUpdateChecked = false;
    BalloonSchedule m_balloon;
    // Explorer broadcasts it when it re-creates the notification area, which forgets our icon.
    UINT m_uTaskbarCreated = 0;

private:
    void OnNotifyIcon(UINT iconId, UINT event);
    void OnCommand(UINT id);
    LRESULT OnTaskbarCreated(UINT message, WPARAM wParam, LPARAM lParam);
    void OpenLyricsPage();
    void SetIconState(HICON icon, const std::string& tip);

    TickWork m_tickWork;
    const ServiceEndpoint* m_endpoint;
    std::string m_strStoppedTip;
    std::string m_strFoundTip;
    std::string m_strNotFoundTip;
    std::string m_strBalloonText;
};
