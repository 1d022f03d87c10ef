// The window wrapper on the system's "Static" class: messages reach the object, the map
// unpacks timers, what the object leaves goes to the class's own procedure, and the window
// goes when the object does (or earlier, without harm).
#include "framework/window.h"

#include <gtest/gtest.h>

#include <future>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr UINT WM_PROBE = WM_APP + 5;
constexpr LRESULT kProbeAnswer = 42;

class ProbeWnd : public CWnd {
public:
    std::vector<UINT_PTR> timers;
    int textChanges = 0;

protected:
    TUNELORE_BEGIN_MSG_MAP()
        TUNELORE_MSG_WM_TIMER(OnTimer)
        TUNELORE_CHAIN_MSG_MAP(CWnd)
    TUNELORE_END_MSG_MAP()

    LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam) override
    {
        if (message == WM_PROBE)
            return kProbeAnswer;
        if (message == WM_SETTEXT) {
            ++textChanges;
            // A nested message first: Default() must still pass on this one.
            ::SendMessageA(m_hWnd, WM_PROBE, 0, 0);
            return Default();
        }
        return CWnd::WindowProc(message, wParam, lParam);
    }

    void OnTimer(UINT_PTR id)
    {
        timers.push_back(id);
        Default();
    }
};

std::string WindowText(HWND window)
{
    char text[64] = {};
    ::GetWindowTextA(window, text, sizeof(text));
    return text;
}

class WindowTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const RECT noArea{};
        ASSERT_TRUE(m_wnd.CreateEx(0, "Static", "Probe", 0, noArea, nullptr, 0));
        ASSERT_TRUE(::IsWindow(m_wnd.m_hWnd));
    }

    ProbeWnd m_wnd;
};

TEST_F(WindowTest, MessagesReachTheObject)
{
    EXPECT_EQ(::SendMessageA(m_wnd.m_hWnd, WM_PROBE, 0, 0), kProbeAnswer);
}

TEST_F(WindowTest, TimersReachTheirHandlerWithTheirId)
{
    ::SendMessageA(m_wnd.m_hWnd, WM_TIMER, 17, 0);
    ::SetTimer(m_wnd.m_hWnd, 3, 10, nullptr);
    MSG message;
    while (m_wnd.timers.size() < 2 && ::GetMessageA(&message, nullptr, 0, 0) > 0)
        ::DispatchMessageA(&message);
    ::KillTimer(m_wnd.m_hWnd, 3);
    EXPECT_EQ(m_wnd.timers, (std::vector<UINT_PTR>{17, 3}));
}

TEST_F(WindowTest, WhatTheObjectPassesOnReachesTheClassProcedure)
{
    EXPECT_EQ(WindowText(m_wnd.m_hWnd), "Probe");
    EXPECT_TRUE(::SetWindowTextA(m_wnd.m_hWnd, "Changed"));
    EXPECT_EQ(m_wnd.textChanges, 1);
    EXPECT_EQ(WindowText(m_wnd.m_hWnd), "Changed");
}

TEST_F(WindowTest, SecondCreationIsRefused)
{
    const HWND first = m_wnd.m_hWnd;
    const RECT noArea{};
    EXPECT_FALSE(m_wnd.CreateEx(0, "Static", "Again", 0, noArea, nullptr, 0));
    EXPECT_EQ(m_wnd.m_hWnd, first);
}

TEST_F(WindowTest, WindowDestroyedFromOutsideLetsGoOfTheObject)
{
    ASSERT_TRUE(::DestroyWindow(m_wnd.m_hWnd));
    EXPECT_EQ(m_wnd.m_hWnd, nullptr);
}

TEST(WindowLifeTest, WindowGoesWithItsObject)
{
    HWND window = nullptr;
    {
        ProbeWnd wnd;
        const RECT noArea{};
        ASSERT_TRUE(wnd.CreateEx(0, "Static", "Probe", 0, noArea, nullptr, 0));
        window = wnd.m_hWnd;
    }
    EXPECT_FALSE(::IsWindow(window));
}

// Someone who subclasses the window after the object, the player say, stays in the chain to
// the window's end: the object's going must not put the class's procedure back over them.
WNDPROC g_laterSuper = nullptr;
std::vector<UINT> g_laterSeen;

LRESULT CALLBACK LaterSubclass(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    g_laterSeen.push_back(message);
    return ::CallWindowProcA(g_laterSuper, window, message, wParam, lParam);
}

TEST(WindowLifeTest, ALaterSubclassKeepsItsPlaceWhenTheObjectGoes)
{
    g_laterSeen.clear();
    HWND window = nullptr;
    {
        ProbeWnd wnd;
        const RECT noArea{};
        ASSERT_TRUE(wnd.CreateEx(0, "Static", "Probe", 0, noArea, nullptr, 0));
        window = wnd.m_hWnd;
        g_laterSuper = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LaterSubclass)));
        ASSERT_NE(g_laterSuper, nullptr);
        // Through the later procedure to the object, and on to the class.
        EXPECT_EQ(::SendMessageA(window, WM_PROBE, 0, 0), kProbeAnswer);
        EXPECT_TRUE(::SetWindowTextA(window, "Changed"));
        EXPECT_EQ(wnd.textChanges, 1);
        EXPECT_EQ(WindowText(window), "Changed");
    }
    EXPECT_FALSE(::IsWindow(window));
    ASSERT_FALSE(g_laterSeen.empty());
    EXPECT_EQ(g_laterSeen.back(), static_cast<UINT>(WM_NCDESTROY));
}

// A window that outlives its object (another thread's, which this one cannot destroy) gets its
// class's procedure back even from under a later subclass: no message may reach the code of a
// module that may be unloaded next.
TEST(WindowLifeTest, AWindowThatOutlivesItsObjectGetsTheClassProcedureBack)
{
    auto wnd = std::make_unique<ProbeWnd>();
    std::promise<HWND> created;
    std::promise<void> release;
    std::thread owner([&] {
        HWND window = nullptr;
        const RECT noArea{};
        if (wnd->CreateEx(0, "Static", "Probe", 0, noArea, nullptr, 0)) {
            window = wnd->m_hWnd;
            g_laterSuper = reinterpret_cast<WNDPROC>(
                ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&LaterSubclass)));
        }
        created.set_value(window);
        // The window lives as long as its thread.
        release.get_future().wait();
    });
    const HWND window = created.get_future().get();
    EXPECT_NE(window, nullptr);
    wnd.reset();
    if (window != nullptr) {
        EXPECT_TRUE(::IsWindow(window));
        EXPECT_EQ(::GetWindowLongPtrA(window, GWLP_WNDPROC),
                  static_cast<LONG_PTR>(::GetClassLongPtrA(window, GCLP_WNDPROC)));
    }
    release.set_value();
    owner.join();
}

TEST(WindowLifeTest, UnknownClassCreatesNothing)
{
    ProbeWnd wnd;
    const RECT noArea{};
    EXPECT_FALSE(wnd.CreateEx(0, "NoSuchClass.Tunelore", "Probe", 0, noArea, nullptr, 0));
    EXPECT_EQ(wnd.m_hWnd, nullptr);
}

}  // namespace
