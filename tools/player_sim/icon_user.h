// The user at the tray icon: the mouse and balloon events the shell would send to the icon's
// window. The window, icon id and callback message are the ones the plug-in handed the shell
// when it added the icon.
#pragma once

#include "tools/dll_watch/dll_watch.h"
#include "tools/player_sim/transcript.h"
#include "tools/player_sim/tray_view.h"

#include <windows.h>

class IconUser {
public:
    IconUser(Transcript& transcript, const TrayView& tray) : m_transcript(transcript), m_tray(tray) {}

    // Learns the icon's window and callback from an icon call that adds it.
    void Learn(const NotifyIconCall& call);

    // Each returns false (and says why in the transcript) when there is nothing to click.
    bool Click();
    bool RightClick();
    bool DoubleClick();
    bool BalloonClick();

private:
    bool Send(const char* action, std::initializer_list<UINT> events);

    Transcript& m_transcript;
    const TrayView& m_tray;
    HWND m_window = nullptr;
    UINT m_id = 0;
    UINT m_callbackMessage = 0;
};
