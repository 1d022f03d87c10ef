// The broadcast that running players listen for, heard as they hear it.
#pragma once

#include <windows.h>

#include <utility>
#include <vector>

#include "framework/unique_handle.h"

using Notice = std::pair<WPARAM, LPARAM>;
const std::vector<Notice> kOneNotice{{0, 0}};

// A hidden top-level window that records every "WMPlayer_PluginAddRemove" it is sent.
class NoticeListener {
public:
    NoticeListener();
    ~NoticeListener();
    NoticeListener(const NoticeListener&) = delete;
    NoticeListener& operator=(const NoticeListener&) = delete;

    bool ready() const { return m_message != 0 && m_window; }

    // What arrived since the last call: waits a while for the first notice, then takes
    // whatever else is already queued.
    std::vector<Notice> Collect();

private:
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    static NoticeListener* s_listener;
    UINT m_message;
    unique_hwnd m_window;
    std::vector<Notice> m_notices;
};
