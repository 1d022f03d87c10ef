// A notifier window for tests: its state made readable, its tick left to the test, and
// helpers that send it the messages the shell and the timers would.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>

#include "framework/module.h"
#include "notifier/notifier_wnd.h"
#include "plugin/plugin_app.h"
#include "tests/win/shell_recorder.h"

class NotifierUnderTest : public CNotifierWnd {
public:
    using CNotifierWnd::CNotifierWnd;
    using CNotifierWnd::m_bUpdateChecked;
    using CNotifierWnd::m_hIconFound;
    using CNotifierWnd::m_hIconIdle;
};

class NotifierTest : public ShellAndClockTest {
protected:
    void SetUp() override
    {
        ShellAndClockTest::SetUp();
        m_wnd = std::make_unique<NotifierUnderTest>(ModuleInstance(), nullptr, &m_endpoint);
        ASSERT_TRUE(::IsWindow(m_wnd->m_hWnd));
        // Ticks come from the test, at the moments it chooses, and never while it pumps.
        ::KillTimer(m_wnd->m_hWnd, IDT_TICK);
    }

    void TearDown() override
    {
        // A test's observer may look at the window, which is going now.
        m_shell.onNotify = nullptr;
        m_wnd.reset();
        ShellAndClockTest::TearDown();
    }

    void Tick(std::int64_t now)
    {
        test_clock::Set(now);
        ::SendMessageA(m_wnd->m_hWnd, WM_TIMER, IDT_TICK, 0);
    }

    LRESULT IconEvent(LPARAM event, WPARAM iconId = 0)
    {
        return ::SendMessageA(m_wnd->m_hWnd, WM_NOTIFYICON, iconId, event);
    }

    // The window's update check asks the module's own service, as in the plug-in.
    const ServiceEndpoint m_endpoint = ModuleServiceEndpoint();
    std::unique_ptr<NotifierUnderTest> m_wnd;
};
