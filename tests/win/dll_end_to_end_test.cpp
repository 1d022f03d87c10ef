// The shipped plug-in DLL end to end: this process hosts the built Tunelore-WMP.dll as the
// player would, watches the shell calls it makes from its start-up to its exit, drives it with
// the fake player against the reference lyrics service, and reads back the settings it saved.
#include "plugin/player_interface.h"
#include "res/resource.h"
#include "tests/win/built_dll.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/menu_watcher.h"
#include "tests/win/settings_registry.h"
#include "tools/dll_watch/dll_watch.h"
#include "tools/dll_watch/hosted_plugin.h"
#include "tools/dll_watch/thread_windows.h"
#include "tools/fake_player/fake_player.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// {921BC298-60F8-4557-A01D-ECEE7CC020A1}
constexpr CLSID kPluginClass = {0x921bc298, 0x60f8, 0x4557, {0xa0, 0x1d, 0xec, 0xee, 0x7c, 0xc0, 0x20, 0xa1}};
constexpr UINT kIconCallbackMessage = WM_APP + 1;
constexpr UINT kIconAndTip = NIF_MESSAGE | NIF_ICON | NIF_TIP;
// The narrow record up to and including its item GUID.
constexpr DWORD kRecordSize = offsetof(NOTIFYICONDATAA, guidItem) + sizeof(GUID);
// Generous against a slow machine, or a 32-bit run under emulation; the tick itself is one
// second.
constexpr auto kDeadline = 30s;
constexpr DWORD kDialogLimitMs = 30000;

const char kStoppedTip[] = "Stopped";
const char kFoundTip[] = "Lyrics found! Doubleclick to view";
const char kNotFoundTip[] = "Lyrics not found";

// A song in the reference catalogue, with every field the request carries.
com_ptr<FakeMedia> RainSong()
{
    return FakeMedia::Create({{L"Author", L"The Lanterns"},
                              {L"Title", L"Rain Song"},
                              {L"WM/AlbumTitle", L"Night Drive!"},
                              {L"WM/Year", L"1999"},
                              {L"WM/TrackNumber", L"7"},
                              {L"WM/Genre", L"Pop"}},
                             L"audio", L"C:\\Music\\07 Rain Song.mp3");
}
const std::string kRainSongBody =
    "album=Night+Drive%21&artist=The+Lanterns&filename=07+Rain+Song%2Emp3&genre=Pop&title=Rain+Song&track=7"
    "&year=1999\0"s;
const std::string kRainSongPage = "http://lyrics.tunelore.example/lyrics/rain-song";

// A radio stream the catalogue does not know: its address goes whole, absent fields go empty.
com_ptr<FakeMedia> UnknownStream()
{
    return FakeMedia::Create({{L"Author", L"Nobody Known"}, {L"Title", L"Unheard Tune"}}, L"radio",
                             L"http://radio.example/live");
}
const std::string kUnknownStreamBody =
    "album=&artist=Nobody+Known&filename=http%3A%2F%2Fradio%2Eexample%2Flive&genre=&title=Unheard+Tune&track="
    "&year=\0"s;

bool IsState(const NotifyIconCall& call, IconPicture icon, const char* tip)
{
    return call.message == NIM_MODIFY && call.uFlags == kIconAndTip && call.icon == icon && call.szTip == tip;
}

// The built DLL hosted as the player hosts it. Its exchanges go wherever the prefix's proxy
// points, a loopback port where nothing listens unless a test says otherwise; this fixture
// itself talks to no service, so it also serves where sockets of a 32-bit process are not
// reliable (under emulation).
class BuiltDllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        DeleteSettingsKey();
        // No update check on the first tick, and no balloons, unless a test asks for them.
        ASSERT_TRUE(WriteSetting("Check updates", 0));
        ASSERT_TRUE(WriteSetting("Tip enabled", 0));
    }

    void TearDown() override
    {
        // The host lets go in the player's order, its core after the DLL.
        m_host.reset();
        DeleteSettingsKey();
    }

    void LoadDll()
    {
        // The page a double-click opens is only recorded: no browser starts from a test.
        m_host = HostedPlugin::Load(DllPath(), DllWatchOptions{false});
        ASSERT_TRUE(m_host) << DllPath();
        ASSERT_TRUE(Watch().WatchedFromStart());
    }

    DllWatch& Watch() const { return m_host->Watch(); }

    // As the player does: the class factory, one plug-in object, and the core handed to it.
    void CreatePlugin()
    {
        ASSERT_TRUE(m_host->ClassObjectExport());
        ASSERT_EQ(m_host->CreateFromFactory(kPluginClass), S_OK);
        m_core = FakeCore::Create();
        // The player's answer to the events subscription plays no part here.
        m_host->HandCore(m_core.get());
    }

    void Play(const com_ptr<FakeMedia>& item)
    {
        m_core->SetCurrentMedia(item.get());
        m_core->SetPlayState(wmppsPlaying);
    }

    // Runs this thread's messages, where the DLL's window and tick live, until done() holds.
    bool PumpUntil(const std::function<bool()>& done)
    {
        return ::PumpUntil(done, static_cast<DWORD>(std::chrono::milliseconds(kDeadline).count()), 50);
    }

    std::vector<NotifyIconCall> NotifyIconCalls() const { return Watch().CallsOf<NotifyIconCall>(); }
    std::vector<ShellExecuteCall> ShellExecuteCalls() const { return Watch().CallsOf<ShellExecuteCall>(); }

    // Index among all events of the first icon call at or after from that matches.
    template <typename Predicate>
    std::optional<std::size_t> WaitForIconCall(std::size_t from, Predicate matches)
    {
        std::optional<std::size_t> found;
        PumpUntil([&] {
            const std::vector<WatchedCall> events = Watch().Events();
            for (std::size_t i = from; i < events.size(); ++i) {
                if (events[i].notifyIcon() && matches(*events[i].notifyIcon())) {
                    found = i;
                    return true;
                }
            }
            return false;
        });
        return found;
    }

    std::optional<std::size_t> WaitForState(std::size_t from, IconPicture icon, const char* tip)
    {
        return WaitForIconCall(from, [&](const NotifyIconCall& call) { return IsState(call, icon, tip); });
    }

    // The tick asks the player for its state once per live plug-in object.
    bool WaitForTicks(int ticks)
    {
        const int start = m_core->CallCount(PlayerCall::GetPlayState);
        return PumpUntil([&] { return m_core->CallCount(PlayerCall::GetPlayState) >= start + ticks; });
    }

    std::unique_ptr<HostedPlugin> m_host;
    com_ptr<FakeCore> m_core;
};

// The built DLL against the reference service.
class DllEndToEndTest : public BuiltDllTest {
protected:
    void SetUp() override
    {
        // Before the DLL loads: no exchange may ever look up the compiled-in host.
        ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
        BuiltDllTest::SetUp();
    }

    std::vector<RecordedRequest> Received() const
    {
        std::vector<RecordedRequest> requests;
        EXPECT_TRUE(m_service.requests(requests));
        return requests;
    }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
};

// --- Module start-up and exit --------------------------------------------------------------

TEST_F(BuiltDllTest, LoadingAddsTheStoppedIconAndUnloadingRemovesIt)
{
    LoadDll();
    const HWND window = NotifierWindow();
    ASSERT_TRUE(window);

    std::vector<NotifyIconCall> calls = NotifyIconCalls();
    ASSERT_EQ(calls.size(), 1u);
    const NotifyIconCall& add = calls[0];
    EXPECT_EQ(add.message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(add.cbSize, kRecordSize);
    EXPECT_EQ(add.hWnd, window);
    EXPECT_EQ(add.uID, 0u);
    EXPECT_EQ(add.uCallbackMessage, kIconCallbackMessage);
    EXPECT_EQ(add.uFlags, kIconAndTip);
    EXPECT_EQ(add.icon, IconPicture::Idle);
    EXPECT_EQ(add.szTip, kStoppedTip);

    EXPECT_TRUE(m_host->Unload());
    calls = NotifyIconCalls();
    ASSERT_EQ(calls.size(), 2u);
    EXPECT_EQ(calls[1].message, static_cast<DWORD>(NIM_DELETE));
    EXPECT_EQ(calls[1].hWnd, window);
    EXPECT_EQ(calls[1].uID, 0u);
    EXPECT_FALSE(::IsWindow(window));
    EXPECT_EQ(NotifierWindow(), nullptr);
}

TEST_F(BuiltDllTest, UnloadingWritesAllFiveSettingsKeepingTheLoadedValues)
{
    ASSERT_TRUE(WriteSetting("Balloon delay", 9));
    LoadDll();
    // Start-up read the key; the exit writes every value back, so a key emptied meanwhile fills.
    ASSERT_EQ(::RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath), ERROR_SUCCESS);
    ASSERT_TRUE(m_host->Unload());

    const struct {
        const char* name;
        DWORD type;
        std::size_t size;
    } kStored[] = {
        {"Tip enabled", REG_DWORD, 4},     {"Check updates", REG_DWORD, 4},       {"Balloon delay", REG_DWORD, 4},
        {"Balloon timeout", REG_DWORD, 4}, {"Last update check", REG_BINARY, 8},
    };
    for (const auto& expected : kStored) {
        SCOPED_TRACE(expected.name);
        const std::optional<StoredValue> value = ReadSetting(expected.name);
        ASSERT_TRUE(value);
        EXPECT_EQ(value->type, expected.type);
        EXPECT_EQ(value->data.size(), expected.size);
    }
    EXPECT_EQ(ReadSetting("Tip enabled")->data, (std::vector<BYTE>{0, 0, 0, 0}));
    EXPECT_EQ(ReadSetting("Check updates")->data, (std::vector<BYTE>{0, 0, 0, 0}));
    EXPECT_EQ(ReadSetting("Balloon delay")->data, (std::vector<BYTE>{9, 0, 0, 0}));
}

TEST_F(BuiltDllTest, ExportsServeOnlyThePluginClassAndTellWhenTheModuleIsInUse)
{
    LoadDll();
    const auto getClassObject = m_host->ClassObjectExport();
    const auto canUnloadNow = m_host->CanUnloadNowExport();
    ASSERT_TRUE(getClassObject);
    ASSERT_TRUE(canUnloadNow);

    com_ptr<IClassFactory> refused;
    EXPECT_EQ(getClassObject(IID_IClassFactory, IID_IClassFactory, refused.put_void()), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_FALSE(refused);
    EXPECT_EQ(getClassObject(kPluginClass, IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(canUnloadNow(), S_OK);

    CreatePlugin();
    m_host->ReleaseFactory();
    EXPECT_EQ(canUnloadNow(), S_FALSE);
    m_host->TakeCore();
    m_host->ReleasePlugin();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(BuiltDllTest, HostLetsGoInThePlayersOrderAndTheCoreOutlivesTheDll)
{
    LoadDll();
    CreatePlugin();
    EXPECT_TRUE(m_host->ObjectFromWatchedModule());
    // From here only the host and the plug-in hold the core.
    m_core.reset();
    std::optional<int> coresAtExit;
    Watch().SetCallback([&](const WatchedCall& call) {
        if (call.notifyIcon() && call.notifyIcon()->message == NIM_DELETE)
            coresAtExit = FakeCore::LiveObjects();
    });

    // The object and the factory are still held: the unload takes them back first.
    EXPECT_TRUE(m_host->Unload());
    Watch().SetCallback({});
    EXPECT_FALSE(m_host->Plugin());
    EXPECT_FALSE(m_host->Factory());
    // The DLL's exit ran with the core still alive, and the host let it go afterwards.
    ASSERT_TRUE(coresAtExit);
    EXPECT_EQ(*coresAtExit, 1);
    EXPECT_EQ(FakeCore::LiveObjects(), 0);
}

// --- The road of two songs -----------------------------------------------------------------

TEST_F(DllEndToEndTest, TwoSongsAreLookedUpOnceEachAndTheIconFollowsThePlayer)
{
    // The balloon at once, and gone on a later tick.
    ASSERT_TRUE(WriteSetting("Tip enabled", 1));
    ASSERT_TRUE(WriteSetting("Balloon delay", 0));
    ASSERT_TRUE(WriteSetting("Balloon timeout", 2));
    LoadDll();
    CreatePlugin();

    Play(RainSong());
    const std::optional<std::size_t> found = WaitForState(0, IconPicture::Found, kFoundTip);
    ASSERT_TRUE(found);
    const std::vector<WatchedCall> afterFound = Watch().Events();
    const NotifyIconCall& foundCall = *afterFound[*found].notifyIcon();
    EXPECT_EQ(foundCall.szInfoTitle, "Rain Song");
    EXPECT_EQ(foundCall.szInfo, "Click here for lyrics");
    EXPECT_EQ(foundCall.dwInfoFlags, static_cast<DWORD>(NIIF_INFO | NIIF_NOSOUND));

    // A delay of 0 shows it in the lookup's own tick: the tick that changed the icon, handled
    // in one message, has shown the balloon too by the time the change is seen.
    std::optional<std::size_t> shown;
    for (std::size_t i = *found; i < afterFound.size() && !shown; ++i) {
        const NotifyIconCall* call = afterFound[i].notifyIcon();
        if (call != nullptr && call->uFlags == (kIconAndTip | NIF_INFO))
            shown = i;
    }
    ASSERT_TRUE(shown);
    const std::optional<std::size_t> hidden = WaitForIconCall(
        *shown + 1, [](const NotifyIconCall& call) { return call.uFlags == NIF_INFO && call.szInfo.empty(); });
    ASSERT_TRUE(hidden);
    const std::vector<WatchedCall> afterBalloon = Watch().Events();
    const NotifyIconCall& shownCall = *afterBalloon[*shown].notifyIcon();
    EXPECT_EQ(shownCall.icon, IconPicture::Found);
    EXPECT_EQ(shownCall.szInfoTitle, "Rain Song");
    EXPECT_EQ(shownCall.szInfo, "Click here for lyrics");
    // A timeout of 2 s counts from the whole second at or before the showing, so the removal
    // comes more than a second later, even when a late tick and the next one come close.
    EXPECT_GE(afterBalloon[*hidden].when - afterBalloon[*shown].when, 500ms);

    // The ticks that went by while the song kept playing sent nothing more.
    std::vector<RecordedRequest> requests = Received();
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].requestLine.rfind("POST ", 0), 0u) << requests[0].requestLine;
    EXPECT_EQ(requests[0].body, kRainSongBody);
    EXPECT_EQ(requests[0].header("Referer"), "WMP Tunelore plugin");

    Play(UnknownStream());
    const std::optional<std::size_t> notFound = WaitForState(*hidden, IconPicture::Idle, kNotFoundTip);
    ASSERT_TRUE(notFound);
    ASSERT_TRUE(WaitForTicks(2));
    requests = Received();
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_EQ(requests[1].requestLine.rfind("POST ", 0), 0u) << requests[1].requestLine;
    EXPECT_EQ(requests[1].body, kUnknownStreamBody);

    m_core->SetPlayState(wmppsStopped);
    EXPECT_TRUE(WaitForState(*notFound, IconPicture::Idle, kStoppedTip));

    EXPECT_EQ(m_host->TakeCore(), S_OK);
    m_host->ReleasePlugin();
    m_host->ReleaseFactory();
    EXPECT_EQ(m_host->CanUnloadNow(), S_OK);
    EXPECT_TRUE(m_host->Unload());
    const std::vector<NotifyIconCall> calls = NotifyIconCalls();
    EXPECT_EQ(calls.back().message, static_cast<DWORD>(NIM_DELETE));
    // The DLL gave back every player object it was handed.
    m_core.reset();
    EXPECT_EQ(FakeCore::LiveObjects(), 0);
    EXPECT_EQ(FakeMedia::LiveObjects(), 0);
}

// --- Polls, the tray menu and the settings dialog: no exchange, so they run anywhere ---------

TEST_F(BuiltDllTest, PollsFollowThePlayerThroughPlayingAndStoppedWithoutALookupForAVideo)
{
    LoadDll();
    CreatePlugin();
    ASSERT_TRUE(WaitForTicks(1));
    Play(FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, L"video", L"C:\\clip.wmv"));
    const int mediaAsked = m_core->CallCount(PlayerCall::GetCurrentMedia);
    ASSERT_TRUE(WaitForTicks(2));
    // Each playing tick looked at the item; a video is no song, so nothing was looked up.
    EXPECT_GE(m_core->CallCount(PlayerCall::GetCurrentMedia), mediaAsked + 2);
    // A lookup would have ended in "Lyrics not found" at least, its exchange refused.
    for (const NotifyIconCall& call : NotifyIconCalls()) {
        EXPECT_EQ(call.icon, IconPicture::Idle) << call.szTip;
        EXPECT_EQ(call.szTip, kStoppedTip);
    }

    const std::size_t before = Watch().Events().size();
    m_core->SetPlayState(wmppsStopped);
    EXPECT_TRUE(WaitForState(before, IconPicture::Idle, kStoppedTip));
}

TEST_F(BuiltDllTest, ClickOpensTheTrayMenuWhoseSettingsItemOpensTheSettingsDialog)
{
    LoadDll();
    CreatePlugin();
    const HWND window = NotifierWindow();
    ASSERT_TRUE(window);

    // Up from nothing chosen lands on the last item, "Settings".
    MenuWatcher menu(window, {VK_UP, VK_RETURN});
    HWND seen = nullptr;
    HWND owner = nullptr;
    DialogDriver driver({[&] {
                             seen = FindDialog("Tunelore Settings");
                             owner = ::GetWindow(seen, GW_OWNER);
                             return seen != nullptr;
                         },
                         [&] {
                             PostClick(seen, IDCANCEL);
                             return true;
                         }},
                        kDialogLimitMs);
    ASSERT_TRUE(::PostMessageA(window, kIconCallbackMessage, 0, WM_LBUTTONDOWN));
    ASSERT_TRUE(PumpUntil([&] { return driver.Completed() && FindDialog("Tunelore Settings") == nullptr; }))
        << driver.Outcome();

    ASSERT_EQ(menu.menus.size(), 1u);
    std::vector<std::string> texts;
    for (const MenuWatcher::Item& item : menu.menus[0])
        texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::string>{"Quillmark Home", "", "Enable Balloon", "Settings"}));
    EXPECT_EQ(owner, window);
    EXPECT_TRUE(ShellExecuteCalls().empty());
}

TEST_F(BuiltDllTest, PropertyPageOpensTheSettingsDialogAndReturnsWhenItCloses)
{
    LoadDll();
    CreatePlugin();
    bool seen = false;
    DialogDriver driver({[&] {
                            const HWND dialog = FindDialog("Tunelore Settings");
                            if (dialog == nullptr)
                                return false;
                            seen = true;
                            PostClick(dialog, IDCANCEL);
                            return true;
                        }},
                        kDialogLimitMs);
    EXPECT_EQ(m_host->Plugin()->DisplayPropertyPage(nullptr), S_OK);
    EXPECT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_TRUE(seen);
    EXPECT_EQ(FindDialog("Tunelore Settings"), nullptr);
}

// --- Opening the page ----------------------------------------------------------------------

struct DoubleClickCase {
    const char* name;
    std::string address;  // empty: the catalogue's own page
    bool opens;
};

// Names the case in test listings instead of its bytes.
void PrintTo(const DoubleClickCase& c, std::ostream* out)
{
    *out << c.name;
}

class DoubleClickTest : public DllEndToEndTest, public ::testing::WithParamInterface<DoubleClickCase> {};

TEST_P(DoubleClickTest, OpensTheFoundPageOnlyWhenItIsAWebAddress)
{
    const DoubleClickCase& c = GetParam();
    if (!c.address.empty()) {
        ASSERT_TRUE(m_service.scheduleNext({{"body", "<title>Rain Song</title>\n<url>" + c.address + "</url>"}}));
    }
    const std::string expected = c.address.empty() ? kRainSongPage : c.address;
    LoadDll();
    CreatePlugin();
    Play(RainSong());
    const std::optional<std::size_t> found = WaitForState(0, IconPicture::Found, kFoundTip);
    ASSERT_TRUE(found);
    const HWND window = NotifierWindow();
    ASSERT_TRUE(window);

    const std::size_t before = Watch().Events().size();
    ASSERT_TRUE(::PostMessageA(window, kIconCallbackMessage, 0, WM_LBUTTONDBLCLK));
    // The double-click removes the balloon and then opens the page in the same handler: once
    // the removal shows, the page has been opened or refused.
    ASSERT_TRUE(WaitForIconCall(before, [](const NotifyIconCall& call) { return call.uFlags == NIF_INFO; }));

    const std::vector<ShellExecuteCall> opened = ShellExecuteCalls();
    if (!c.opens) {
        EXPECT_TRUE(opened.empty()) << (opened.empty() ? "" : opened[0].file.value_or("(null)"));
        return;
    }
    ASSERT_EQ(opened.size(), 1u);
    EXPECT_EQ(opened[0].owner, nullptr);
    EXPECT_FALSE(opened[0].verb);
    EXPECT_EQ(opened[0].file, expected);
    EXPECT_FALSE(opened[0].parameters);
    EXPECT_FALSE(opened[0].directory);
    EXPECT_EQ(opened[0].show, SW_SHOW);
}

INSTANTIATE_TEST_SUITE_P(
    Addresses, DoubleClickTest,
    ::testing::Values(DoubleClickCase{"CataloguePageOpens", "", true},
                      DoubleClickCase{"HttpsPageOpens", "https://lyrics.example/rain-song", true},
                      DoubleClickCase{"FileAddressOpensNothing", "file:///C:/x", false},
                      DoubleClickCase{"LocalProgramOpensNothing", "C:\\Windows\\notepad.exe", false},
                      DoubleClickCase{"NetworkShareOpensNothing", "\\\\host\\share\\page.html", false},
                      DoubleClickCase{"SchemeOnlyOpensNothing", "http://", false}),
    [](const auto& info) { return std::string(info.param.name); });

// --- The watcher itself --------------------------------------------------------------------

TEST_F(BuiltDllTest, WatcherTellsTheModulePicturesApartAtEitherSize)
{
    LoadDll();
    const struct {
        int id;
        int size;
        IconPicture expected;
    } kIcons[] = {{IDI_FOUND, 32, IconPicture::Found}, {IDI_IDLE, 32, IconPicture::Idle},
                  {IDI_FOUND, 16, IconPicture::Found}, {IDI_IDLE, 16, IconPicture::Idle}};
    for (const auto& icon : kIcons) {
        SCOPED_TRACE(std::to_string(icon.id) + " at " + std::to_string(icon.size));
        // A handle of its own, never the one a shared load would give.
        const HICON handle = static_cast<HICON>(
            ::LoadImageA(m_host->Module(), MAKEINTRESOURCEA(icon.id), IMAGE_ICON, icon.size, icon.size, 0));
        ASSERT_TRUE(handle);
        EXPECT_EQ(Watch().Identify(handle), icon.expected);
        ::DestroyIcon(handle);
    }
    EXPECT_EQ(Watch().Identify(::LoadIconA(nullptr, IDI_APPLICATION)), IconPicture::Other);
    EXPECT_EQ(Watch().Identify(nullptr), IconPicture::None);
}

TEST_F(BuiltDllTest, WatcherServesOneDllAtATime)
{
    LoadDll();
    EXPECT_FALSE(DllWatch::Load(DllPath()));
    m_host.reset();
    LoadDll();
}

}  // namespace
