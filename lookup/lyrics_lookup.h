// The lookup object: the one place where the player side meets the rest of the plug-in. It
// owns the notifier window, turns a captured item into a request, runs the exchange and
// hands the outcome to the window.
#pragma once

#include "lookup/field_map.h"
#include "plugin/ilyrics_lookup.h"

#include <windows.h>

#include <memory>

class CNotifierWnd;

class LyricsLookup : public ILyricsLookup {
public:
    // Creates the notifier window, its tick and its tray icon in the "Stopped" state.
    explicit LyricsLookup(HINSTANCE module);
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
    std::unique_ptr<CNotifierWnd> m_pWnd;
};
