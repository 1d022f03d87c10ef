// The notifier window against a recording shell and a test clock: the icon's states, the
// balloon's cycle, what a click or a double-click does, and the icon's life.
#include "notifier/notifier_wnd.h"

#include <cstddef>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "tests/win/menu_watcher.h"
#include "tests/win/notifier_fixture.h"
#include "res/resource.h"
#include "tests/table_row.h"

namespace {

constexpr char kFoundTip[] = "Lyrics found! Doubleclick to view";
constexpr char kNotFoundTip[] = "Lyrics not found";
constexpr char kStoppedTip[] = "Stopped";
constexpr char kBalloonText[] = "Click here for lyrics";
constexpr char kLyricsPage[] = "http://lyrics.example/view?song=1";
constexpr UINT kIconAndTip = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr UINT kIconTipAndBalloon = kIconAndTip | NIF_INFO;

// What one notification did to the balloon: 'S' showed it, 'H' removed it, '.' neither.
char BalloonEvent(const NotifyIconCall& call)
{
    if (call.message != NIM_MODIFY)
        return '?';
    if (call.uFlags == kIconTipAndBalloon)
        return 'S';
    if (call.uFlags == NIF_INFO && call.szInfo.empty())
        return 'H';
    return '.';
}

HICON ModuleIcon(UINT id)
{
    return ::LoadIconA(ModuleInstance(), MAKEINTRESOURCEA(id));
}

using Action = std::function<void(NotifierUnderTest&)>;

void Send(NotifierUnderTest& wnd, LPARAM event)
{
    ::SendMessageA(wnd.m_hWnd, WM_NOTIFYICON, 0, event);
}

class BalloonTest : public NotifierTest {
protected:
    // One character per tick, a tick a second from the given moment: '.' nothing, 'S' shown,
    // 'H' removed, 'B' shown and removed on the same tick.
    std::string Timeline(int ticks, std::int64_t from = kStart)
    {
        std::string line;
        for (int i = 0; i < ticks; ++i) {
            m_shell.notifications.clear();
            Tick(from + i);
            std::string events;
            for (const NotifyIconCall& call : m_shell.notifications)
                events += BalloonEvent(call);
            line += events.empty() ? '.' : events == "S" ? 'S' : events == "H" ? 'H' : events == "SH" ? 'B' : '?';
        }
        return line;
    }
};

// --- Creation and teardown --------------------------------------------------------------

TEST_F(NotifierTest, CreationAddsTheStoppedIconToAHiddenStaticWindow)
{
    char className[32] = {};
    char title[32] = {};
    ::GetClassNameA(m_wnd->m_hWnd, className, sizeof(className));
    ::GetWindowTextA(m_wnd->m_hWnd, title, sizeof(title));
    EXPECT_STRCASEEQ(className, "Static");
    EXPECT_STREQ(title, "TuneloreWnd");
    EXPECT_FALSE(::IsWindowVisible(m_wnd->m_hWnd));
    EXPECT_EQ(::GetParent(m_wnd->m_hWnd), nullptr);
    EXPECT_EQ(static_cast<DWORD>(::GetWindowLongA(m_wnd->m_hWnd, GWL_STYLE)) & (WS_CHILD | WS_POPUP | WS_VISIBLE), 0u);

    ASSERT_EQ(m_shell.notifications.size(), 1u);
    const NotifyIconCall& add = m_shell.notifications[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.cbSize, offsetof(NOTIFYICONDATAA, hBalloonIcon));
    if (sizeof(void*) == 4) {
        EXPECT_EQ(add.cbSize, 504u);
    }
    EXPECT_EQ(add.hWnd, m_wnd->m_hWnd);
    EXPECT_EQ(add.uID, 0u);
    EXPECT_EQ(add.uCallbackMessage, 0x8001u);
    EXPECT_EQ(add.uTimeout, 10000u);
    EXPECT_EQ(add.uFlags, kIconAndTip);
    EXPECT_EQ(add.szTip, kStoppedTip);
    EXPECT_NE(add.hIcon, nullptr);
    EXPECT_EQ(add.hIcon, ModuleIcon(IDI_IDLE));
    EXPECT_EQ(m_wnd->m_hIconFound, ModuleIcon(IDI_FOUND));
    EXPECT_NE(m_wnd->m_hIconFound, m_wnd->m_hIconIdle);
}

TEST_F(NotifierTest, TeardownRemovesTheIconAndTheWindow)
{
    const HWND window = m_wnd->m_hWnd;
    m_shell.notifications.clear();
    m_wnd.reset();
    ASSERT_EQ(m_shell.notifications.size(), 1u);
    EXPECT_EQ(m_shell.notifications[0].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(m_shell.notifications[0].uFlags, 0u);
    EXPECT_EQ(m_shell.notifications[0].hWnd, window);
    EXPECT_EQ(m_shell.notifications[0].uID, 0u);
    EXPECT_FALSE(::IsWindow(window));
}

TEST_F(NotifierTest, NewTaskbarGetsTheIconBackInItsCurrentStateWithoutTheBalloon)
{
    GetSettings().BalloonDelay = 0;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    Tick(kStart);
    ASSERT_EQ(BalloonEvent(m_shell.notifications.back()), 'S');
    m_shell.notifications.clear();

    EXPECT_EQ(::SendMessageA(m_wnd->m_hWnd, ::RegisterWindowMessageA("TaskbarCreated"), 0, 0), 0);

    ASSERT_EQ(m_shell.notifications.size(), 1u);
    const NotifyIconCall& add = m_shell.notifications[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.uFlags, kIconAndTip);
    EXPECT_EQ(add.hIcon, m_wnd->m_hIconFound);
    EXPECT_EQ(add.szTip, kFoundTip);
    EXPECT_EQ(add.hWnd, m_wnd->m_hWnd);
    EXPECT_EQ(add.uCallbackMessage, WM_NOTIFYICON);
    EXPECT_EQ(add.cbSize, offsetof(NOTIFYICONDATAA, hBalloonIcon));
}

// --- Icon states ------------------------------------------------------------------------

struct StateCase {
    const char* name;
    Action show;
    bool foundIcon;
    const char* tip;
};

const StateCase kStates[] = {
    {"Found", [](NotifierUnderTest& w) { w.ShowFound("Song", kLyricsPage, 0); }, true, kFoundTip},
    {"NotFound", [](NotifierUnderTest& w) { w.ShowNotFound(kLyricsPage); }, false, kNotFoundTip},
    {"Stopped", [](NotifierUnderTest& w) { w.ShowStopped(); }, false, kStoppedTip},
};

class IconStateTest : public NotifierTest,
                      public ::testing::WithParamInterface<std::tuple<StateCase, StateCase>> {};

// Each display operation removes any balloon, then sets icon and tooltip whole, whatever
// state came before.
TEST_P(IconStateTest, SetsIconAndTooltipWholeAfterRemovingTheBalloon)
{
    const StateCase& before = std::get<0>(GetParam());
    const StateCase& state = std::get<1>(GetParam());
    before.show(*m_wnd);
    m_shell.notifications.clear();

    state.show(*m_wnd);

    ASSERT_EQ(m_shell.notifications.size(), 2u);
    EXPECT_EQ(BalloonEvent(m_shell.notifications[0]), 'H');
    const NotifyIconCall& modify = m_shell.notifications[1];
    EXPECT_EQ(modify.message, static_cast<DWORD>(NIM_MODIFY));
    EXPECT_EQ(modify.uFlags, kIconAndTip);
    EXPECT_EQ(modify.hIcon, state.foundIcon ? m_wnd->m_hIconFound : m_wnd->m_hIconIdle);
    EXPECT_EQ(modify.szTip, state.tip);
    EXPECT_EQ(modify.uID, 0u);
}

INSTANTIATE_TEST_SUITE_P(AllStates, IconStateTest,
                         ::testing::Combine(::testing::ValuesIn(kStates), ::testing::ValuesIn(kStates)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param).name) + "Then" +
                                    std::get<1>(info.param).name;
                         });

struct TitleCase {
    const char* name;
    std::size_t length;
    std::size_t shown;
};

class BalloonTitleTest : public NotifierTest, public ::testing::WithParamInterface<TitleCase> {};

TEST_P(BalloonTitleTest, LongTitlesAreCutToTheirField)
{
    std::string title;
    for (std::size_t i = 0; i < GetParam().length; ++i)
        title += static_cast<char>('a' + i % 26);
    GetSettings().BalloonDelay = 0;
    m_wnd->ShowFound(title, kLyricsPage, kStart);
    Tick(kStart);
    ASSERT_EQ(BalloonEvent(m_shell.notifications.back()), 'S');
    EXPECT_EQ(m_shell.notifications.back().szInfoTitle, title.substr(0, GetParam().shown));
}

INSTANTIATE_TEST_SUITE_P(Lengths, BalloonTitleTest,
                         ::testing::Values(TitleCase{"Empty", 0, 0}, TitleCase{"FitsExactly", 63, 63},
                                           TitleCase{"OneTooLong", 64, 63}, TitleCase{"FarTooLong", 1000, 63}),
                         RowName{});

// --- The balloon's cycle ------------------------------------------------------------------

struct CycleCase {
    const char* name;
    std::int32_t tipEnabled;
    std::int32_t delay;
    std::int32_t timeout;
    std::int64_t lookupStartOffset;  // from kStart, the moment of the result
    const char* timeline;            // ticks at kStart, kStart + 1, ...
};

const CycleCase kCycles[] = {
    {"WaitsForTheDelayAndStaysForTheTimeout", 1, 5, 7, 0, ".....S......H.."},
    {"ZeroDelayShowsOnTheResultsOwnTick", 1, 0, 2, 0, "S.H.."},
    {"ZeroTimeoutShowsAndRemovesOnOneTick", 1, 0, 0, 0, "B...."},
    {"NegativeTimeoutShowsAndRemovesOnOneTick", 1, 0, -5, 0, "B...."},
    {"NegativeDelayIsAlreadyDue", 1, -3, 1, 0, "SH..."},
    {"ExchangeLongerThanTheDelayShowsAtOnce", 1, 5, 1, -10, "SH..."},
    {"DelayCountsFromTheLookupStart", 1, 5, 1, -3, "..SH."},
    {"BalloonsOffScheduleNothing", 0, 0, 1, 0, "....."},
    {"AnyNonZeroSwitchMeansOn", 5, 0, 1, 0, "SH..."},
};

class BalloonCycleTest : public BalloonTest, public ::testing::WithParamInterface<CycleCase> {};

TEST_P(BalloonCycleTest, ShowsAndRemovesOnTheFirstTickAtOrPastEachMoment)
{
    const CycleCase& c = GetParam();
    GetSettings().TipEnabled = c.tipEnabled;
    GetSettings().BalloonDelay = c.delay;
    GetSettings().BalloonTimeout = c.timeout;
    m_wnd->ShowFound("Song", kLyricsPage, kStart + c.lookupStartOffset);
    EXPECT_EQ(Timeline(static_cast<int>(std::string(c.timeline).size())), c.timeline);
}

INSTANTIATE_TEST_SUITE_P(Schedules, BalloonCycleTest, ::testing::ValuesIn(kCycles),
                         RowName{});

TEST_F(BalloonTest, ShownBalloonCarriesTheTitleAndItsText)
{
    GetSettings().BalloonDelay = 0;
    m_wnd->ShowFound("Song Title", kLyricsPage, kStart);
    Tick(kStart);
    const NotifyIconCall& shown = m_shell.notifications.back();
    ASSERT_EQ(BalloonEvent(shown), 'S');
    EXPECT_EQ(shown.szInfoTitle, "Song Title");
    EXPECT_EQ(shown.szInfo, kBalloonText);
    EXPECT_EQ(shown.dwInfoFlags, static_cast<DWORD>(NIIF_INFO | NIIF_NOSOUND));
    EXPECT_EQ(shown.hIcon, m_wnd->m_hIconFound);
    EXPECT_EQ(shown.szTip, kFoundTip);
}

TEST_F(BalloonTest, SwitchingBalloonsOffLaterKeepsTheScheduledOne)
{
    GetSettings().BalloonDelay = 2;
    GetSettings().BalloonTimeout = 1;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    GetSettings().TipEnabled = 0;
    EXPECT_EQ(Timeline(5), "..SH.");
}

TEST_F(BalloonTest, DisplayTimeCountsFromTheMomentTheShellReturned)
{
    GetSettings().BalloonDelay = 0;
    GetSettings().BalloonTimeout = 2;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    // A shell that takes three seconds to show the balloon.
    m_shell.onNotify = [](const NotifyIconCall& call) {
        if (BalloonEvent(call) == 'S')
            test_clock::Set(test_clock::Now() + 3);
    };
    Tick(kStart);
    m_shell.onNotify = nullptr;
    EXPECT_EQ(Timeline(6, kStart + 1), "....H.");
}

struct CancelCase {
    const char* name;
    Action cancel;
};

const CancelCase kCancels[] = {
    {"NotFound", [](NotifierUnderTest& w) { w.ShowNotFound(""); }},
    {"Stopped", [](NotifierUnderTest& w) { w.ShowStopped(); }},
    {"FoundWithBalloonsOff",
     [](NotifierUnderTest& w) {
         GetSettings().TipEnabled = 0;
         w.ShowFound("Next Song", kLyricsPage, 0);
     }},
    {"DoubleClick", [](NotifierUnderTest& w) { Send(w, WM_LBUTTONDBLCLK); }},
    {"BalloonClick", [](NotifierUnderTest& w) { Send(w, NIN_BALLOONUSERCLICK); }},
};

class BalloonCancelTest : public BalloonTest,
                          public ::testing::WithParamInterface<std::tuple<bool, CancelCase>> {};

TEST_P(BalloonCancelTest, CancelsThePendingOrShownBalloonForGood)
{
    const bool shown = std::get<0>(GetParam());
    GetSettings().BalloonDelay = shown ? 0 : 3;
    GetSettings().BalloonTimeout = 3;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    if (shown) {
        ASSERT_EQ(Timeline(1), "S");
    }
    m_shell.notifications.clear();

    std::get<1>(GetParam()).cancel(*m_wnd);

    ASSERT_FALSE(m_shell.notifications.empty());
    EXPECT_EQ(BalloonEvent(m_shell.notifications[0]), 'H');
    EXPECT_EQ(Timeline(8, kStart + 1), "........");
}

INSTANTIATE_TEST_SUITE_P(Cancels, BalloonCancelTest,
                         ::testing::Combine(::testing::Bool(), ::testing::ValuesIn(kCancels)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) ? "Shown" : "Pending") + "BalloonBy" +
                                    std::get<1>(info.param).name;
                         });

// --- Opening the lyrics page --------------------------------------------------------------

struct OpenCase {
    const char* name;
    const char* address;
    bool opens;
};

const OpenCase kAddresses[] = {
    {"WebPage", kLyricsPage, true},
    {"SecureWebPageInCapitals", "HTTPS://Lyrics.Example/Song", true},
    {"ProgramPath", "C:\\Windows\\system32\\calc.exe", false},
    {"SharePath", "\\\\server\\share\\setup.exe", false},
    {"FileScheme", "file:///C:/Windows/notepad.exe", false},
    {"ScriptScheme", "javascript:alert(1)", false},
    {"OtherScheme", "ftp://lyrics.example/song", false},
    {"Empty", "", false},
};

class OpenAddressTest : public NotifierTest,
                        public ::testing::WithParamInterface<std::tuple<LPARAM, OpenCase>> {};

TEST_P(OpenAddressTest, OpensOnlyWebPages)
{
    const OpenCase& c = std::get<1>(GetParam());
    m_wnd->ShowFound("Song", c.address, kStart);
    EXPECT_EQ(IconEvent(std::get<0>(GetParam())), 0);
    const std::vector<std::string> expected = c.opens ? std::vector<std::string>{c.address} : std::vector<std::string>{};
    EXPECT_EQ(m_shell.opened, expected);
}

INSTANTIATE_TEST_SUITE_P(Addresses, OpenAddressTest,
                         ::testing::Combine(::testing::Values(LPARAM{WM_LBUTTONDBLCLK}, LPARAM{NIN_BALLOONUSERCLICK}),
                                            ::testing::ValuesIn(kAddresses)),
                         [](const auto& info) {
                             return std::string(std::get<0>(info.param) == WM_LBUTTONDBLCLK ? "DoubleClick"
                                                                                             : "BalloonClick") +
                                    "On" + std::get<1>(info.param).name;
                         });

TEST_F(NotifierTest, StopKeepsTheLastAddressAndNotFoundReplacesIt)
{
    m_wnd->ShowFound("Song", "http://lyrics.example/a", kStart);
    m_wnd->ShowStopped();
    IconEvent(WM_LBUTTONDBLCLK);
    m_wnd->ShowNotFound("http://lyrics.example/b");
    IconEvent(WM_LBUTTONDBLCLK);
    m_wnd->ShowNotFound("");
    IconEvent(WM_LBUTTONDBLCLK);
    EXPECT_EQ(m_shell.opened, (std::vector<std::string>{"http://lyrics.example/a", "http://lyrics.example/b"}));
}

TEST_F(NotifierTest, NothingOpensBeforeAnyResult)
{
    IconEvent(WM_LBUTTONDBLCLK);
    IconEvent(NIN_BALLOONUSERCLICK);
    EXPECT_TRUE(m_shell.opened.empty());
}

// --- Clicks and the menu ------------------------------------------------------------------

struct ClickCase {
    const char* name;
    std::vector<LPARAM> events;
    WPARAM iconId;
    std::size_t menus;
};

const ClickCase kClicks[] = {
    {"LeftPressOpensTheMenu", {WM_LBUTTONDOWN, WM_LBUTTONUP}, 0, 1},
    {"RightPressOpensTheMenu", {WM_RBUTTONDOWN, WM_RBUTTONUP}, 0, 1},
    {"SecondPressRearmsTheSameTimer", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_RBUTTONDOWN}, 0, 1},
    {"DoubleClickKillsTheClickTimer", {WM_LBUTTONDOWN, WM_LBUTTONUP, WM_LBUTTONDBLCLK, WM_LBUTTONUP}, 0, 0},
    {"RightDoubleClickOpensTheMenuOnce", {WM_RBUTTONDOWN, WM_RBUTTONUP, WM_RBUTTONDBLCLK, WM_RBUTTONUP}, 0, 1},
    {"OtherIconsPressIsIgnored", {WM_LBUTTONDOWN, WM_RBUTTONDOWN}, 1, 0},
    {"ReleasesMovesAndMiddleButtonAreIgnored",
     {WM_LBUTTONUP, WM_RBUTTONUP, WM_MOUSEMOVE, WM_MBUTTONDOWN, WM_MBUTTONUP, WM_MBUTTONDBLCLK, WM_CONTEXTMENU},
     0,
     0},
};

class ClickTest : public NotifierTest, public ::testing::WithParamInterface<ClickCase> {};

TEST_P(ClickTest, MenuOpensThreeHundredMillisecondsAfterASinglePress)
{
    MenuWatcher watcher(m_wnd->m_hWnd);
    for (const LPARAM event : GetParam().events)
        EXPECT_EQ(IconEvent(event, GetParam().iconId), 0);
    PumpMessagesFor(800);
    EXPECT_EQ(watcher.menus.size(), GetParam().menus);
}

INSTANTIATE_TEST_SUITE_P(Events, ClickTest, ::testing::ValuesIn(kClicks),
                         RowName{});

// Events that are neither presses nor double-clicks, or that name another icon, leave a
// pending balloon and the address alone and are answered with 0.
TEST_F(BalloonTest, IgnoredEventsChangeNothing)
{
    GetSettings().BalloonDelay = 2;
    GetSettings().BalloonTimeout = 1;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    m_shell.notifications.clear();
    const struct {
        LPARAM event;
        WPARAM iconId;
    } kIgnored[] = {
        {WM_LBUTTONDBLCLK, 1},  {NIN_BALLOONUSERCLICK, 7}, {WM_RBUTTONDBLCLK, 0}, {WM_MBUTTONDBLCLK, 0},
        {WM_LBUTTONUP, 0},      {WM_MOUSEMOVE, 0},         {NIN_BALLOONSHOW, 0},  {NIN_BALLOONHIDE, 0},
        {NIN_BALLOONTIMEOUT, 0}, {NIN_SELECT, 0},
    };
    for (const auto& ignored : kIgnored) {
        SCOPED_TRACE(ignored.event);
        EXPECT_EQ(IconEvent(ignored.event, ignored.iconId), 0);
    }
    EXPECT_TRUE(m_shell.notifications.empty());
    EXPECT_TRUE(m_shell.opened.empty());
    EXPECT_EQ(Timeline(4), "..SH");
}

// --- The update check on the tick ------------------------------------------------------------

TEST_F(NotifierTest, UpdateCheckStartsOnTheFirstTickAfterTheBalloonWork)
{
    GetSettings().BalloonDelay = 0;
    GetSettings().BalloonTimeout = 0;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    std::string flagAtBalloonCalls;
    m_shell.onNotify = [this, &flagAtBalloonCalls](const NotifyIconCall&) {
        flagAtBalloonCalls += m_wnd->m_bUpdateChecked ? '1' : '0';
    };
    EXPECT_FALSE(m_wnd->m_bUpdateChecked);
    Tick(kStart);
    EXPECT_EQ(flagAtBalloonCalls, "00");  // shown and removed before the check began
    EXPECT_TRUE(m_wnd->m_bUpdateChecked);
}

TEST_F(NotifierTest, UpdateCheckRunsOnlyOnTheFirstTick)
{
    // Switched on, but the last check lies ahead: the check reads the clock and stops there,
    // without a request.
    GetSettings().CheckUpdates = 1;
    GetSettings().LastUpdateCheck = kStart + 1000000;
    std::vector<int> clockReads;
    for (int i = 0; i < 3; ++i) {
        const int before = test_clock::Reads();
        Tick(kStart + i);
        clockReads.push_back(test_clock::Reads() - before);
    }
    EXPECT_GT(clockReads[0], clockReads[1]);
    EXPECT_EQ(clockReads[1], clockReads[2]);
    EXPECT_EQ(GetSettings().LastUpdateCheck, kStart + 1000000);
}

}  // namespace
