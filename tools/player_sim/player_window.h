// The simulated player's own window: hidden and top-level, so that the broadcast a plug-in's
// registration sends reaches it, as it reaches a running player.
#pragma once

#include "framework/unique_handle.h"

#include <windows.h>

#include <functional>

class PlayerWindow {
public:
    // onPluginsChanged runs when "WMPlayer_PluginAddRemove" arrives; onPropertyPage when a
    // property-page request posted with RequestPropertyPage is taken from the queue.
    PlayerWindow(std::function<void()> onPluginsChanged, std::function<void()> onPropertyPage);
    PlayerWindow(const PlayerWindow&) = delete;
    PlayerWindow& operator=(const PlayerWindow&) = delete;

    HWND Handle() const { return m_window.get(); }
    // The request goes through the queue, so that the dialog's modal loop runs from the
    // message loop and not inside the playlist step that asked for it.
    void RequestPropertyPage();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    std::function<void()> m_onPluginsChanged;
    std::function<void()> m_onPropertyPage;
    UINT m_pluginAddRemove = 0;
    unique_hwnd m_window;
};
