// The notifier window: creation and teardown of the tray icon, its three states, the balloon
// schedule run by the tick, and the icon's mouse and balloon events.
#include "notifier/notifier_wnd.h"

#include <algorithm>
#include <cstddef>
#include <cstring>
#include <utility>

#include "framework/clock.h"
#include "framework/module.h"
#include "framework/shell.h"
#include "notifier/balloon_schedule.h"
#include "notifier/safe_address.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "settings/update_check.h"

namespace {

// The narrow record up to and including its item GUID: the balloon-icon handle is left out,
// which every shell since the balloon's introduction accepts.
constexpr DWORD kNotifyIconDataSize = NOTIFYICONDATAA_V3_SIZE;
static_assert(sizeof(void*) != 4 || kNotifyIconDataSize == 504, "the 32-bit record is 504 bytes");

constexpr UINT kIconAndTip = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT kIconTipAndBalloon = kIconAndTip | NIF_INFO;
// Milliseconds; the window removes the balloon itself after BalloonTimeout seconds.
constexpr UINT kShellBalloonTimeout = 10000;

// Texts longer than their field are cut without notice.
template <std::size_t N>
void CopyCut(char (&field)[N], const std::string& text)
{
    const std::size_t length = std::min(text.size(), N - 1);
    std::memcpy(field, text.data(), length);
    field[length] = '\0';
}

// Without a window there is no icon, and nothing for the shell to change.
void Notify(DWORD message, NOTIFYICONDATAA& nid)
{
    if (nid.hWnd != nullptr)
        Shell().NotifyIcon(message, &nid);
}

}  // namespace

CNotifierWnd::CNotifierWnd(HINSTANCE module, TickWork tickWork, const ServiceEndpoint* endpoint)
    : m_tickWork(tickWork), m_endpoint(endpoint)
{
    const RECT noArea{};
    if (!CreateEx(0, "Static", "TuneloreWnd", 0, noArea, nullptr, 0))
        return;
    m_uTaskbarCreated = ::RegisterWindowMessageA("TaskbarCreated");
    ::SetTimer(m_hWnd, IDT_TICK, IDT_TICK_INTERVAL, nullptr);
    m_hIconFound = ::LoadIconA(module, MAKEINTRESOURCEA(IDI_FOUND));
    m_hIconIdle = ::LoadIconA(module, MAKEINTRESOURCEA(IDI_IDLE));
    // Read once: the stopped state is set again on every tick while the player rests.
    m_strStoppedTip = LoadStringResource(IDS_STOPPED);
    m_strFoundTip = LoadStringResource(IDS_LYRICS_FOUND);
    m_strNotFoundTip = LoadStringResource(IDS_LYRICS_NOT_FOUND);
    m_strBalloonText = LoadStringResource(IDS_CLICK_FOR_LYRICS);

    m_nid.cbSize = kNotifyIconDataSize;
    m_nid.hWnd = m_hWnd;
    m_nid.uID = 0;
    m_nid.uCallbackMessage = WM_NOTIFYICON;
    m_nid.uTimeout = kShellBalloonTimeout;
    m_nid.uFlags = kIconAndTip;
    CopyCut(m_nid.szTip, m_strStoppedTip);
    m_nid.hIcon = m_hIconIdle;
    Notify(NIM_ADD, m_nid);
}

CNotifierWnd::~CNotifierWnd()
{
    m_nid.uFlags = 0;
    Notify(NIM_DELETE, m_nid);
}

void CNotifierWnd::HideBalloon()
{
    m_balloon = BalloonSchedule{};
    // An empty balloon text removes a balloon that is showing; icon and tooltip stay.
    m_nid.uFlags = NIF_INFO;
    m_nid.szInfo[0] = '\0';
    Notify(NIM_MODIFY, m_nid);
}

void CNotifierWnd::ShowFound(std::string title, std::string address, std::int64_t lookupStart)
{
    HideBalloon();
    m_strLyricsUrl = std::move(address);
    const Settings& settings = GetSettings();
    if (settings.TipEnabled != 0)
        m_balloon.show = AddSeconds(lookupStart, settings.BalloonDelay);
    // The balloon is prepared here and shown by the tick once its moment has come.
    CopyCut(m_nid.szInfo, m_strBalloonText);
    CopyCut(m_nid.szInfoTitle, title);
    m_nid.dwInfoFlags = NIIF_INFO | NIIF_NOSOUND;
    SetIconState(m_hIconFound, m_strFoundTip);
}

void CNotifierWnd::ShowNotFound(std::string address)
{
    HideBalloon();
    m_strLyricsUrl = std::move(address);
    SetIconState(m_hIconIdle, m_strNotFoundTip);
}

void CNotifierWnd::ShowStopped()
{
    HideBalloon();
    SetIconState(m_hIconIdle, m_strStoppedTip);
}

void CNotifierWnd::SetIconState(HICON icon, const std::string& tip)
{
    m_nid.uFlags = kIconAndTip;
    CopyCut(m_nid.szTip, tip);
    m_nid.hIcon = icon;
    Notify(NIM_MODIFY, m_nid);
}

void CNotifierWnd::CheckForUpdate()
{
    m_bUpdateChecked = true;
    if (m_endpoint != nullptr)
        RunUpdateCheck(m_hWnd, *m_endpoint);
}

LRESULT CNotifierWnd::OnTaskbarCreated(UINT, WPARAM, LPARAM)
{
    // The new notification area knows nothing of us: the icon comes back as it was, but a
    // balloon is not shown a second time.
    m_nid.uFlags = kIconAndTip;
    Notify(NIM_ADD, m_nid);
    return 0;
}

void CNotifierWnd::OnNotifyIcon(UINT iconId, UINT event)
{
    if (iconId != 0)
        return;
    // No version was requested from the shell, so the event is the mouse message itself.
    switch (event) {
    case WM_LBUTTONDOWN:
    case WM_RBUTTONDOWN:
        // The first press of a double-click arms it too; the double-click kills it in time.
        m_nClickTimer = ::SetTimer(m_hWnd, IDT_CLICK, IDT_CLICK_INTERVAL, nullptr);
        break;
    case WM_LBUTTONDBLCLK:
    case NIN_BALLOONUSERCLICK:
        ::KillTimer(m_hWnd, m_nClickTimer);
        HideBalloon();
        OpenLyricsPage();
        break;
    default:
        break;
    }
}

void CNotifierWnd::OpenLyricsPage()
{
    // The address came from the network: only web pages go to the shell.
    if (IsWebAddress(m_strLyricsUrl))
        Shell().Open(m_strLyricsUrl);
}

void CNotifierWnd::OnTimer(UINT_PTR id)
{
    if (id == IDT_CLICK) {
        ::KillTimer(m_hWnd, m_nClickTimer);
        ShowTrayMenu();
    } else {
        // The poll may run a lookup whose result schedules a balloon due on this very tick.
        if (m_tickWork != nullptr)
            m_tickWork();
        // The clock is read only for a moment that is set: most ticks have none.
        if (m_balloon.show != 0 && DueBalloonStep(m_balloon, CurrentTime()) == BalloonStep::Show) {
            m_nid.uFlags = kIconTipAndBalloon;
            Notify(NIM_MODIFY, m_nid);
            BalloonShown(m_balloon, CurrentTime(), GetSettings().BalloonTimeout);
        }
        if (m_balloon.hide != 0 && DueBalloonStep(m_balloon, CurrentTime()) == BalloonStep::Hide)
            HideBalloon();
        if (!m_bUpdateChecked)
            CheckForUpdate();
    }
    Default();
}
