// The built DLL asked to unload from inside its own nested loops. A player may release its
// plug-in object and tidy up its DLLs at any moment, also while the plug-in's tray menu, one of
// its dialogs or its validation message box runs a loop with the DLL's code below it. From
// inside each loop this host does exactly that: it releases the object, calls
// CoFreeUnusedLibrariesEx, and, since it loaded the DLL itself rather than through COM, takes
// COM's own step too: it asks DllCanUnloadNow and frees the DLL on S_OK. The DLL must answer
// S_FALSE there and stay; once the loop has returned, the next request unloads it, with the
// settings written and the icon removed.
#include "plugin/player_interface.h"
#include "tests/win/built_dll.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/settings_registry.h"
#include "tools/dll_watch/dll_watch.h"
#include "tools/dll_watch/hosted_plugin.h"
#include "tools/dll_watch/thread_windows.h"
#include "tools/fake_player/fake_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;

// {921BC298-60F8-4557-A01D-ECEE7CC020A1}
constexpr CLSID kPluginClass = {0x921bc298, 0x60f8, 0x4557, {0xa0, 0x1d, 0xec, 0xee, 0x7c, 0xc0, 0x20, 0xa1}};
constexpr UINT kIconCallbackMessage = WM_APP + 1;
constexpr WPARAM kSettingsCommand = 2;
constexpr int kDelayEdit = 2002;
constexpr char kSettingsCaption[] = "Tunelore Settings";
constexpr char kQuestionCaption[] = "Update found";
constexpr char kMessageBoxCaption[] = "Tunelore plugin";
constexpr UINT kHostTickMs = 30;
constexpr auto kDeadline = 30s;

enum class Loop {
    TrayMenu,          // the click's menu
    PropertyPage,      // the settings dialog, inside the player's DisplayPropertyPage call
    SettingsFromMenu,  // the settings dialog, from the menu's command
    ValidationBox,     // the settings dialog's message box about a wrong number
    UpdateQuestion,    // the new-version dialog of the first tick's update check
};

struct LoopCase {
    const char* name;
    Loop loop;
};

void PrintTo(const LoopCase& c, std::ostream* os)
{
    *os << c.name;
}

class NestedLoopUnloadTest : public ::testing::TestWithParam<LoopCase> {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        const bool question = GetParam().loop == Loop::UpdateQuestion;
        ASSERT_TRUE(WriteSetting("Check updates", question ? 1 : 0));
        ASSERT_TRUE(WriteSetting("Tip enabled", 0));
        // Only the question needs the service. The other cases make no exchange and open no
        // socket (the prefix's proxy stays on its port where nothing listens), so they also
        // run where a 32-bit process's sockets are not reliable (under emulation).
        if (question) {
            ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
            ASSERT_TRUE(m_service.setVersion("9.9"));
        }
        s_active = this;
    }

    void TearDown() override
    {
        if (m_timer != 0)
            ::KillTimer(nullptr, m_timer);
        s_active = nullptr;
        m_host.reset();
        DeleteSettingsKey();
    }

    // As the player does: the class factory, one plug-in object with the core, the factory let go.
    void LoadAndCreate()
    {
        m_host = HostedPlugin::Load(DllPath(), DllWatchOptions{false});
        ASSERT_TRUE(m_host) << DllPath();
        ASSERT_TRUE(m_host->CanUnloadNowExport() && m_host->ClassObjectExport());
        ASSERT_EQ(m_host->CreateFromFactory(kPluginClass), S_OK);
        m_host->ReleaseFactory();
        m_core = FakeCore::Create();
        m_host->HandCore(m_core.get());
        // What exit writes back shows only in a key emptied after start-up has read it.
        ASSERT_EQ(::RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath), ERROR_SUCCESS);
        m_window = NotifierWindow();
        ASSERT_TRUE(m_window);
    }

    bool DllMapped() const { return ::GetModuleHandleA(DllPath().c_str()) != nullptr; }

    // The loop of this case, seen from inside it: its window, or null while it is not running.
    HWND LoopWindow() const
    {
        switch (GetParam().loop) {
        case Loop::TrayMenu:
            return OpenMenu();
        case Loop::PropertyPage:
        case Loop::SettingsFromMenu:
            return FindDialog(kSettingsCaption);
        case Loop::ValidationBox:
            return FindDialog(kMessageBoxCaption);
        case Loop::UpdateQuestion:
            return FindDialog(kQuestionCaption);
        }
        return nullptr;
    }

    // Runs on this thread's timer, which every one of the DLL's loops goes on dispatching.
    void HostTick()
    {
        if (m_actedInside) {
            Close();
            return;
        }
        if (GetParam().loop == Loop::ValidationBox && !m_validationAsked) {
            // A number the dialog refuses: OK then shows the message box.
            if (const HWND dialog = FindDialog(kSettingsCaption)) {
                ::SetDlgItemTextA(dialog, kDelayEdit, "x");
                PostClick(dialog, IDOK);
                m_validationAsked = true;
            }
            return;
        }
        const HWND loop = LoopWindow();
        if (loop == nullptr)
            return;
        m_actedInside = true;
        m_host->ReleasePlugin();
        m_answerInside = m_host->UnloadIfUnused();
        m_mappedInside = DllMapped();
        Close();
    }

    // Ends whatever is still open; posted, so each loop returns by itself.
    void Close()
    {
        if (OpenMenu() != nullptr)
            ::EndMenu();
        if (const HWND box = FindDialog(kMessageBoxCaption))
            PostClick(box, IDOK);
        else if (const HWND settings = FindDialog(kSettingsCaption))
            PostClick(settings, IDCANCEL);
        if (const HWND question = FindDialog(kQuestionCaption))
            PostClick(question, IDCANCEL);
    }

    bool AnythingOpen() const
    {
        return OpenMenu() != nullptr || FindDialog(kSettingsCaption) != nullptr ||
               FindDialog(kMessageBoxCaption) != nullptr || FindDialog(kQuestionCaption) != nullptr;
    }

    static void CALLBACK OnHostTimer(HWND, UINT, UINT_PTR, DWORD)
    {
        if (s_active != nullptr)
            s_active->HostTick();
    }

    void StartHostTimer() { m_timer = ::SetTimer(nullptr, 0, kHostTickMs, &NestedLoopUnloadTest::OnHostTimer); }

    // Runs this thread's messages, outside every loop of the DLL, until done() holds.
    bool PumpUntil(const std::function<bool()>& done)
    {
        return ::PumpUntil(done, static_cast<DWORD>(std::chrono::milliseconds(kDeadline).count()), 20);
    }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
    std::unique_ptr<HostedPlugin> m_host;
    com_ptr<FakeCore> m_core;
    HWND m_window = nullptr;
    UINT_PTR m_timer = 0;

    bool m_validationAsked = false;
    bool m_actedInside = false;
    HRESULT m_answerInside = E_FAIL;
    bool m_mappedInside = false;

    static NestedLoopUnloadTest* s_active;
};

NestedLoopUnloadTest* NestedLoopUnloadTest::s_active = nullptr;

TEST_P(NestedLoopUnloadTest, DllStaysUnderItsLoopAndUnloadsAtTheNextRequest)
{
    LoadAndCreate();
    StartHostTimer();
    switch (GetParam().loop) {
    case Loop::TrayMenu:
        ASSERT_TRUE(::PostMessageA(m_window, kIconCallbackMessage, 0, WM_LBUTTONDOWN));
        break;
    case Loop::PropertyPage: {
        // The player's own call: the object it is made on goes away inside it.
        IWMPPluginUI* const plugin = m_host->Plugin();
        EXPECT_EQ(plugin->DisplayPropertyPage(nullptr), S_OK);
        break;
    }
    case Loop::SettingsFromMenu:
    case Loop::ValidationBox:
        ASSERT_TRUE(::PostMessageA(m_window, WM_COMMAND, kSettingsCommand, 0));
        break;
    case Loop::UpdateQuestion:
        // The first tick, about a second after start-up, asks.
        break;
    }
    ASSERT_TRUE(PumpUntil([this] { return m_actedInside && !AnythingOpen(); }))
        << "acted inside: " << m_actedInside << ", still open: " << AnythingOpen();
    ::KillTimer(nullptr, m_timer);
    m_timer = 0;

    // Inside the loop the host heard "not now", and the DLL stayed.
    EXPECT_EQ(m_answerInside, S_FALSE);
    EXPECT_TRUE(m_mappedInside);
    EXPECT_FALSE(m_host->Plugin());
    ASSERT_TRUE(DllMapped());

    // Back in the host's own loop, with every loop of the DLL returned: the next request
    // unloads it, and its exit ran in full.
    EXPECT_EQ(m_host->UnloadIfUnused(), S_OK);
    EXPECT_FALSE(DllMapped());
    EXPECT_EQ(NotifierWindow(), nullptr);
    std::vector<DWORD> messages;
    for (const NotifyIconCall& call : m_host->Watch().CallsOf<NotifyIconCall>())
        messages.push_back(call.message);
    ASSERT_FALSE(messages.empty());
    EXPECT_EQ(messages.back(), static_cast<DWORD>(NIM_DELETE));
    for (const char* name : {"Tip enabled", "Check updates", "Balloon delay", "Balloon timeout", "Last update check"})
        EXPECT_TRUE(ReadSetting(name)) << name;

    m_core.reset();
    EXPECT_EQ(FakeCore::LiveObjects(), 0);
    EXPECT_EQ(FakeMedia::LiveObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(Loops, NestedLoopUnloadTest,
                         ::testing::Values(LoopCase{"TrayMenu", Loop::TrayMenu},
                                           LoopCase{"SettingsDialogOfThePropertyPage", Loop::PropertyPage},
                                           LoopCase{"SettingsDialogOfTheMenu", Loop::SettingsFromMenu},
                                           LoopCase{"ValidationMessageBox", Loop::ValidationBox},
                                           LoopCase{"UpdateQuestion", Loop::UpdateQuestion}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
