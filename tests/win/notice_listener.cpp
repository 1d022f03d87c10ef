// The listener's window and its wait for the broadcast.
#include "tests/win/notice_listener.h"

#include "framework/module.h"
#include "plugin/registration.h"
#include "tools/dll_watch/thread_windows.h"

namespace {

constexpr char kClassName[] = "TuneloreRegistrationTestListener";
constexpr DWORD kWaitMs = 5000;

}  // namespace

NoticeListener* NoticeListener::s_listener = nullptr;

NoticeListener::NoticeListener() : m_message(::RegisterWindowMessageA(kPluginAddRemoveMessage))
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &WindowProc;
    windowClass.hInstance = ModuleInstance();
    windowClass.lpszClassName = kClassName;
    ::RegisterClassA(&windowClass);
    s_listener = this;
    m_window.reset(::CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                     ModuleInstance(), nullptr));
    DispatchQueued();
    m_notices.clear();
}

NoticeListener::~NoticeListener()
{
    m_window.reset();
    s_listener = nullptr;
}

std::vector<Notice> NoticeListener::Collect()
{
    PumpUntil([this] { return !m_notices.empty(); }, kWaitMs);
    DispatchQueued();
    return std::exchange(m_notices, {});
}

LRESULT CALLBACK NoticeListener::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (s_listener != nullptr && message == s_listener->m_message && message != 0) {
        s_listener->m_notices.emplace_back(wParam, lParam);
        return 0;
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}
