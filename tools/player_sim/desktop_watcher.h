// Watches the windows the plug-in opens on the simulator's thread, its dialogs and its pop-up
// menu, from outside: each scan lists the thread's top-level windows, tells what opened and
// closed, and reads what they show. Acting as the user, it clicks dialog buttons and walks the
// menu with the keyboard, always by posting, so that no modal loop runs inside a scan.
#pragma once

#include "tools/player_sim/transcript.h"

#include <windows.h>

#include <string>
#include <vector>

class DesktopWatcher {
public:
    explicit DesktopWatcher(Transcript& transcript) : m_transcript(transcript) {}

    // Records the dialogs and menus that opened or closed since the last scan.
    void Scan();

    // An open dialog with this caption, or null.
    HWND FindDialog(const std::string& caption) const;
    // Posts a click to the dialog's button with this text (ignoring "&"); false without one.
    bool ClickButton(HWND dialog, const std::string& text);

    enum class MenuProgress { Pending, Chosen, NoSuchItem };
    // The open pop-up menu, or null.
    HWND OpenMenu() const;
    // One key towards the item: Down until it is highlighted, then Enter.
    MenuProgress ChooseMenuItem(const std::string& text);
    void CloseMenu();

    // Ends the open menu, and every open dialog as its Escape key would.
    void EndEverything();
    bool AnythingOpen() const { return !m_seen.empty(); }

private:
    struct Seen {
        HWND window;
        bool menu;
        std::string caption;
    };

    void Opened(HWND window, bool menu);

    Transcript& m_transcript;
    std::vector<Seen> m_seen;
    std::vector<HWND> m_ended;
    int m_menuKeys = 0;
};
