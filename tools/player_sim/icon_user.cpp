// Clicks on the icon as the shell reports them to an icon that asked for no newer behaviour:
// the callback message with the icon id and the mouse message itself.
#include "tools/player_sim/icon_user.h"

#include <shellapi.h>

void IconUser::Learn(const NotifyIconCall& call)
{
    if (call.message != NIM_ADD || !call.hasData || !(call.uFlags & NIF_MESSAGE))
        return;
    m_window = call.hWnd;
    m_id = call.uID;
    m_callbackMessage = call.uCallbackMessage;
}

bool IconUser::Send(const char* action, std::initializer_list<UINT> events)
{
    if (!m_tray.IconShown() || !::IsWindow(m_window)) {
        m_transcript.Error(std::string("cannot ") + action + ": there is no icon in the notification area");
        return false;
    }
    m_transcript.Add("user", "user", std::string(action) + " on the icon", JsonLine().Str("action", action));
    // Posted, as the shell does: the icon's window handles them in its own time.
    for (const UINT event : events)
        ::PostMessageA(m_window, m_callbackMessage, m_id, static_cast<LPARAM>(event));
    return true;
}

bool IconUser::Click()
{
    return Send("click", {WM_LBUTTONDOWN, WM_LBUTTONUP});
}

bool IconUser::RightClick()
{
    return Send("right-click", {WM_RBUTTONDOWN, WM_RBUTTONUP});
}

bool IconUser::DoubleClick()
{
    return Send("double-click", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP});
}

bool IconUser::BalloonClick()
{
    if (!m_tray.BalloonShown()) {
        m_transcript.Error("cannot click the balloon: no balloon is showing");
        return false;
    }
    return Send("balloon-click", {NIN_BALLOONUSERCLICK});
}
