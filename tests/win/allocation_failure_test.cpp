// Allocation failures at the boundaries where the player and the window manager call the
// plug-in. Each step (a tick that finds a new item and looks it up, a menu command, the tray
// menu, the settings dialog run by the player's property page, the update question, the class
// factory) is run to count the allocations it makes, then once for every one of them with
// that allocation failing. Nothing may escape to the caller, no window or handle may be
// left behind, no memory may stay taken, and the next tick must work again.
#include "framework/clock.h"
#include "framework/com_module.h"
#include "framework/module.h"
#include "framework/shell.h"
#include "lookup/lyrics_lookup.h"
#include "notifier/notifier_wnd.h"
#include "plugin/player_poll.h"
#include "plugin/plugin_app.h"
#include "plugin/tunelore_plugin.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"
#include "tests/win/built_dll.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/failing_allocator.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/process_counts.h"
#include "tools/dll_watch/thread_windows.h"
#include "tools/fake_player/fake_player.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <ostream>
#include <string>

namespace {

constexpr std::int64_t kNow = 1300000000;
constexpr char kFoundTip[] = "Lyrics found! Doubleclick to view";
constexpr char kNotFoundTip[] = "Lyrics not found";
constexpr char kStoppedTip[] = "Stopped";
constexpr char kSettingsCaption[] = "Tunelore Settings";
constexpr char kQuestionCaption[] = "Update found";
constexpr UINT kDriverTickMs = 20;
constexpr DWORD kDriverLimitMs = 5000;
// WinINet may keep a connection to the service open between exchanges.
constexpr DWORD kPooledHandles = 4;

const ObjectMapEntry kTestObjectMap[] = {{&CLSID_TunelorePlugin, &TunelorePlugin::CreateInstance, 0}};

std::int64_t FixedNow()
{
    return kNow;
}

// The shell seam, recording without allocating: what it records is no part of the step.
class QuietShell : public IShell {
public:
    BOOL NotifyIcon(DWORD, NOTIFYICONDATAA* data) override
    {
        if (data != nullptr && (data->uFlags & NIF_TIP) != 0)
            ::lstrcpynA(tip, data->szTip, sizeof(tip));
        return TRUE;
    }
    void Open(const std::string& address) override
    {
        ++opened;
        ::lstrcpynA(lastOpened, address.c_str(), sizeof(lastOpened));
    }

    char tip[128] = {};
    int opened = 0;
    char lastOpened[512] = {};
};

// A notifier whose first tick, with its update check, can come again.
class FirstTickNotifier : public CNotifierWnd {
public:
    using CNotifierWnd::CNotifierWnd;
    using CNotifierWnd::m_bUpdateChecked;
};

BOOL CALLBACK CountWindow(HWND, LPARAM lParam)
{
    ++*reinterpret_cast<int*>(lParam);
    return TRUE;
}

int ThreadWindowCount()
{
    int count = 0;
    ::EnumThreadWindows(::GetCurrentThreadId(), &CountWindow, reinterpret_cast<LPARAM>(&count));
    return count;
}

// Plays the user's part from a thread timer, inside whatever loop the step runs. Its own
// allocations are the test's, not the step's. After the time limit it ends every dialog and
// menu, so that a step gone wrong fails instead of hanging.
class PausedDriver {
public:
    explicit PausedDriver(std::function<void()> tick)
        : m_tick(std::move(tick)), m_deadline(::GetTickCount64() + kDriverLimitMs)
    {
        s_active = this;
        m_timer = ::SetTimer(nullptr, 0, kDriverTickMs, &PausedDriver::OnTimer);
    }
    ~PausedDriver()
    {
        ::KillTimer(nullptr, m_timer);
        s_active = nullptr;
    }
    PausedDriver(const PausedDriver&) = delete;
    PausedDriver& operator=(const PausedDriver&) = delete;

    bool timedOut = false;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        const failing_allocator::Paused paused;
        PausedDriver* const self = s_active;
        if (self == nullptr)
            return;
        if (::GetTickCount64() > self->m_deadline) {
            self->timedOut = true;
            if (OpenMenu() != nullptr)
                ::EndMenu();
            for (const char* caption : {kSettingsCaption, kQuestionCaption, "Tunelore plugin"}) {
                if (const HWND dialog = FindDialog(caption))
                    ::EndDialog(dialog, IDCANCEL);
            }
            return;
        }
        self->m_tick();
    }

    std::function<void()> m_tick;
    ULONGLONG m_deadline;
    UINT_PTR m_timer = 0;
    static PausedDriver* s_active;
};

PausedDriver* PausedDriver::s_active = nullptr;

// Public: the table of steps below reaches into it.
class AllocationFailureTest : public ::testing::Test {
public:
    void SetUp() override
    {
        ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
        ASSERT_TRUE(m_service.setVersion("9.9"));
        m_previousShell = SetShell(&m_shell);
        m_previousClock = SetClockSource(&FixedNow);
        m_previousSettings = GetSettings();
        // No balloons, no update check but where a step asks for one.
        GetSettings() = Settings{0, 0, 1, 5, 7};
        Module().Init(kTestObjectMap, 1, nullptr);
        g_lastTrackKey.clear();

        m_lookup = std::make_unique<LyricsLookup>(ModuleInstance(), ModuleServiceEndpoint(), &PollPlayers,
                                                  &ShowSettingsDialog);
        ASSERT_TRUE(::IsWindow(Window()));
        // Ticks come from the test only; the first one, with its update check turned off, now.
        ::KillTimer(Window(), IDT_TICK);
        g_lookup = m_lookup.get();
        Tick();

        ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, m_factory.put_void()), S_OK);
        ASSERT_EQ(m_factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), m_plugin.put_void()), S_OK);
        m_core = FakeCore::Create();
        m_plugin->SetCore(m_core.get());
        m_core->SetCurrentMedia(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, L"audio",
                                                  L"C:\\Music\\07 Rain Song.mp3")
                                    .get());
        m_core->SetPlayState(wmppsPlaying);
    }

    void TearDown() override
    {
        m_created.reset();
        if (m_plugin)
            m_plugin->SetCore(nullptr);
        m_plugin.reset();
        m_factory.reset();
        m_core.reset();
        m_question.reset();
        g_lookup = nullptr;
        m_lookup.reset();
        Module().Term();
        EXPECT_EQ(Module().LockCount(), 0);
        EXPECT_TRUE(g_livePlugins.empty());
        EXPECT_EQ(FakeCore::LiveObjects(), 0);
        EXPECT_EQ(FakeMedia::LiveObjects(), 0);
        g_lastTrackKey.clear();
        GetSettings() = m_previousSettings;
        SetClockSource(m_previousClock);
        SetShell(m_previousShell);
    }

    HWND Window() { return m_lookup->Window().m_hWnd; }

    void Tick() { ::SendMessageA(Window(), WM_TIMER, IDT_TICK, 0); }

    // The playing item is new to the poll again, and the next tick looks it up.
    void MakeItemNew()
    {
        g_lastTrackKey.clear();
        m_core->SetPlayState(wmppsPlaying);
    }

    // Dispatches this thread's messages for a while, or until done() holds.
    static void Pump(DWORD milliseconds, const std::function<bool()>& done) { PumpUntil(done, milliseconds, 10); }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
    QuietShell m_shell;
    IShell* m_previousShell = nullptr;
    ClockSource m_previousClock = nullptr;
    Settings m_previousSettings{};
    std::unique_ptr<LyricsLookup> m_lookup;
    com_ptr<IClassFactory> m_factory;
    com_ptr<IWMPPluginUI> m_plugin;
    com_ptr<FakeCore> m_core;

    // What the steps leave for their checks; the question's window asks the module's service.
    const ServiceEndpoint m_endpoint = ModuleServiceEndpoint();
    std::unique_ptr<FirstTickNotifier> m_question;
    com_ptr<IWMPPluginUI> m_created;
    HRESULT m_result = S_OK;
    int m_openedBefore = 0;
};

struct InjectionStep {
    const char* name;
    std::function<void(AllocationFailureTest&)> prepare;
    // Runs inside the armed window: calls the plug-in only through its boundaries.
    std::function<void(AllocationFailureTest&)> run;
    // Whether a run without failures did the step's work.
    std::function<bool(AllocationFailureTest&)> worked;
};

class AllocationFailureStepTest : public AllocationFailureTest,
                                  public ::testing::WithParamInterface<InjectionStep> {
protected:
    // Runs the step with its failAt-th allocation failing (0: none); whether anything escaped.
    bool RunArmed(std::size_t failAt, std::size_t& allocations)
    {
        bool escaped = false;
        failing_allocator::Arm(failAt);
        try {
            GetParam().run(*this);
        } catch (...) {
            escaped = true;
        }
        allocations = failing_allocator::Disarm();
        return escaped;
    }

    // Changes to the plug-in's memory that a run of the step leaves.
    long RetainedBy(std::size_t failAt, bool& escaped, std::size_t& allocations)
    {
        GetParam().prepare(*this);
        m_openedBefore = m_shell.opened;
        const long before = failing_allocator::Outstanding();
        escaped = RunArmed(failAt, allocations);
        return failing_allocator::Outstanding() - before;
    }
};

TEST_P(AllocationFailureStepTest, EveryFailingAllocationEndsTheStepQuietly)
{
    bool escaped = false;
    std::size_t allocations = 0;
    // Twice cleanly: the first run also makes what is made once per process.
    RetainedBy(0, escaped, allocations);
    ASSERT_FALSE(escaped);
    ASSERT_TRUE(GetParam().worked(*this));
    m_created.reset();
    const long cleanRetained = RetainedBy(0, escaped, allocations);
    ASSERT_FALSE(escaped);
    ASSERT_TRUE(GetParam().worked(*this));
    m_created.reset();
    ASSERT_GT(allocations, 0u);
    const std::size_t steps = allocations;
    RecordProperty("allocations", static_cast<int>(steps));
    std::printf("[          ] %zu allocations, each made to fail in turn\n", steps);
    const int windows = ThreadWindowCount();
    const DWORD handles = KernelHandles();
    const LONG locks = Module().LockCount();

    for (std::size_t failAt = 1; failAt <= steps; ++failAt) {
        SCOPED_TRACE("allocation " + std::to_string(failAt) + " of " + std::to_string(steps));
        const long retained = RetainedBy(failAt, escaped, allocations);
        m_created.reset();
        EXPECT_FALSE(escaped);
        EXPECT_TRUE(failing_allocator::Failed());
        EXPECT_LE(retained, cleanRetained);
        EXPECT_EQ(ThreadWindowCount(), windows);
        EXPECT_EQ(Module().LockCount(), locks);

        MakeItemNew();
        Tick();
        EXPECT_STREQ(m_shell.tip, kFoundTip);
        if (HasFatalFailure() || HasNonfatalFailure())
            break;
    }
    EXPECT_LE(KernelHandles(), handles + kPooledHandles);
}

const InjectionStep kSteps[] = {
    {"TickThatFindsANewItemAndLooksItUp",
     [](AllocationFailureTest& t) {
         t.MakeItemNew();
         // The state before the lookup, so that a lookup that did not finish shows.
         t.m_lookup->playbackStopped();
     },
     [](AllocationFailureTest& t) { t.Tick(); },
     [](AllocationFailureTest& t) { return std::strcmp(t.m_shell.tip, kFoundTip) == 0; }},
    {"MenuCommandHome", [](AllocationFailureTest&) {},
     [](AllocationFailureTest& t) { ::SendMessageA(t.Window(), WM_COMMAND, IDM_HOME, 0); },
     [](AllocationFailureTest& t) {
         return t.m_shell.opened == t.m_openedBefore + 1 && LoadStringResource(IDS_HOME_PAGE) == t.m_shell.lastOpened;
     }},
    {"TrayMenuChoosesHome", [](AllocationFailureTest&) {},
     [](AllocationFailureTest& t) {
         // Down lands on the first item; its command is posted to the window once the menu
         // has closed, and is dispatched here.
         bool keysSent = false;
         PausedDriver driver([&keysSent] {
             const HWND menu = OpenMenu();
             if (menu == nullptr || keysSent)
                 return;
             keysSent = true;
             ::PostMessageA(menu, WM_KEYDOWN, VK_DOWN, 0);
             ::PostMessageA(menu, WM_KEYDOWN, VK_RETURN, 0);
         });
         ::SendMessageA(t.Window(), WM_TIMER, IDT_CLICK, 0);
         AllocationFailureTest::Pump(300, [] { return false; });
     },
     [](AllocationFailureTest& t) {
         return t.m_shell.opened == t.m_openedBefore + 1 && LoadStringResource(IDS_HOME_PAGE) == t.m_shell.lastOpened;
     }},
    {"SettingsDialogOfThePropertyPage",
     [](AllocationFailureTest&) { GetSettings().BalloonDelay = 5; },
     [](AllocationFailureTest& t) {
         // A refused number first, whose message box is answered, then an accepted one.
         int phase = 0;
         int waited = 0;
         PausedDriver driver([&phase, &waited] {
             const HWND box = FindDialog("Tunelore plugin");
             const HWND dialog = FindDialog(kSettingsCaption);
             if (box != nullptr) {
                 PostClick(box, IDOK);
                 phase = 2;
                 return;
             }
             if (dialog == nullptr)
                 return;
             ++waited;
             if (phase == 0) {
                 ::SetDlgItemTextA(dialog, IDC_DELAY_EDIT, "abc");
                 PostClick(dialog, IDOK);
                 phase = 1;
                 waited = 0;
             } else if (phase == 2 || (phase == 1 && waited > 10)) {
                 ::SetDlgItemTextA(dialog, IDC_DELAY_EDIT, "7");
                 PostClick(dialog, IDOK);
                 phase = 3;
                 waited = 0;
             } else if (phase == 3 && waited > 10) {
                 PostClick(dialog, IDCANCEL);
             }
         });
         t.m_result = t.m_plugin->DisplayPropertyPage(nullptr);
     },
     [](AllocationFailureTest& t) { return t.m_result == S_OK && GetSettings().BalloonDelay == 7; }},
    {"UpdateQuestionOfTheFirstTick",
     [](AllocationFailureTest& t) {
         if (!t.m_question) {
             t.m_question = std::make_unique<FirstTickNotifier>(ModuleInstance(), nullptr, &t.m_endpoint);
             ::KillTimer(t.m_question->m_hWnd, IDT_TICK);
         }
         t.m_question->m_bUpdateChecked = false;
         GetSettings().CheckUpdates = 1;
         GetSettings().LastUpdateCheck = 1;
         // Nothing to look up on this tick: only the check runs.
         t.m_core->SetPlayState(wmppsStopped);
     },
     [](AllocationFailureTest& t) {
         PausedDriver driver([] {
             if (const HWND question = FindDialog(kQuestionCaption))
                 PostClick(question, IDOK);
         });
         ::SendMessageA(t.m_question->m_hWnd, WM_TIMER, IDT_TICK, 0);
     },
     [](AllocationFailureTest& t) {
         return t.m_shell.opened == t.m_openedBefore + 1 &&
                LoadStringResource(IDS_DOWNLOAD_PAGE) == t.m_shell.lastOpened;
     }},
    {"ClassFactoryCreatesAnObject", [](AllocationFailureTest&) {},
     [](AllocationFailureTest& t) {
         t.m_result = t.m_factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), t.m_created.put_void());
     },
     [](AllocationFailureTest& t) { return t.m_result == S_OK && g_livePlugins.size() == 2; }},
};

INSTANTIATE_TEST_SUITE_P(Steps, AllocationFailureStepTest, ::testing::ValuesIn(kSteps),
                         RowName{});

// A failing creation is the out-of-memory answer, with no object made.
TEST_F(AllocationFailureTest, FailedCreationAnswersOutOfMemory)
{
    const LONG locks = Module().LockCount();
    failing_allocator::Arm(1);
    const HRESULT hr = m_factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), m_created.put_void());
    failing_allocator::Disarm();
    EXPECT_EQ(hr, E_OUTOFMEMORY);
    EXPECT_FALSE(m_created);
    EXPECT_EQ(Module().LockCount(), locks);
    EXPECT_EQ(g_livePlugins.size(), 1u);
}

// Ticks that change nothing, the same item playing or the player at rest, take no memory at
// all: the player's thread calls them every second for as long as it runs.
TEST_F(AllocationFailureTest, TicksThatChangeNothingAllocateNothing)
{
    m_core->SetCurrentMedia(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"},
                                               {L"WM/AlbumTitle", L"Night Drive, a record of some length"},
                                               {L"WM/Genre", L"Bj\u00f6rk-like Pop"}},
                                              L"audio", L"C:\\Music\\Night Drive\\07 Rain Song.mp3")
                                .get());
    auto allocationsOfThreeTicks = [this] {
        failing_allocator::Arm(0);
        for (int i = 0; i < 3; ++i)
            Tick();
        return failing_allocator::Disarm();
    };
    MakeItemNew();
    Tick();
    ASSERT_STREQ(m_shell.tip, kFoundTip);
    EXPECT_EQ(allocationsOfThreeTicks(), 0u) << "while playing";
    EXPECT_STREQ(m_shell.tip, kFoundTip);

    m_core->SetPlayState(wmppsStopped);
    Tick();
    ASSERT_STREQ(m_shell.tip, kStoppedTip);
    EXPECT_EQ(allocationsOfThreeTicks(), 0u) << "while stopped";
}

// An item whose title is 16 MB long: the tick finishes, the request is made or skipped, and
// the outcome is "not found"; the next item is looked up as usual.
TEST_F(AllocationFailureTest, SixteenMegabyteTitleIsLookedUpOrSkippedSoundly)
{
    const std::wstring title(16 * 1024 * 1024, L'a');
    m_core->SetCurrentMedia(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", title}}, L"audio").get());
    MakeItemNew();
    const auto start = std::chrono::steady_clock::now();
    Tick();
    const auto lookedUp = std::chrono::steady_clock::now();
    EXPECT_LT(lookedUp - start, std::chrono::seconds(60));
    EXPECT_STREQ(m_shell.tip, kNotFoundTip);
    EXPECT_EQ(g_lastTrackKey.size(), std::strlen("The Lanterns") + title.size());
    // Later ticks see the same item and leave it alone.
    Tick();
    EXPECT_STREQ(m_shell.tip, kNotFoundTip);
    std::printf("[          ] lookup tick %lld ms, next tick %lld ms\n",
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(lookedUp - start).count()),
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                           std::chrono::steady_clock::now() - lookedUp)
                                           .count()));

    m_core->SetCurrentMedia(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, L"audio").get());
    Tick();
    EXPECT_STREQ(m_shell.tip, kFoundTip);
}

}  // namespace
