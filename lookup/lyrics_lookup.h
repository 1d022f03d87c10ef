// The lookup object: the one place where the player side meets the rest of the plug-in. It
// owns the notifier window, turns a captured item into a request, runs the exchange and
// hands the outcome to the window.
#pragma once

#include "lookup/ilyrics_lookup.h"
#include "net/field_map.h"
#include "notifier/notifier_wnd.h"

#include <windows.h>

#include <memory>

// Opens the settings dialog under the parent, or brings the open one forward.
using SettingsOpener = void (*)(HWND parent);

class LyricsLookup : public ILyricsLookup {
public:
    // Creates the notifier window, whose tick runs the tick work, and its tray icon in the
    // "Stopped" state. Lookups and the window's update check go to the endpoint;
    // showSettings() calls the opener, when there is one.
    LyricsLookup(HINSTANCE module, ServiceEndpoint endpoint, TickWork tickWork = nullptr,
                 SettingsOpener openSettings = nullptr);
    ~LyricsLookup() override;
    LyricsLookup(const LyricsLookup&) = delete;
    LyricsLookup& operator=(const LyricsLookup&) = delete;

    void lookUp(Track track) override;
    void playbackStopped() override;
    void showSettings() override;

    // The request's seven fields; a source that is not a URL is reduced to its file name.
    static FieldMap buildRequest(Track track);

    CNotifierWnd& Window() { return *m_pWnd; }

private:
    const ServiceEndpoint m_endpoint;  // before the window, which refers to it
    std::unique_ptr<CNotifierWnd> m_pWnd;
    SettingsOpener m_openSettings;
};
