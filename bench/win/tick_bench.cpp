// Time on the player's thread per tick, each beside its floor: what no implementation can avoid.
// Every tick is the whole tick as the notifier window receives it; the floor of its delivery is
// a WM_TIMER sent to a subclassed "Static" window that hands it to the class's own procedure.
//   playing, an item of 10, 30 and 100 attributes: the delivery and the bare player calls that
//     the capture of that item must make, counted to be the same calls;
//   stopped: the delivery and the one get_playState; idle (no player object): the delivery;
//   lookup (with --lookup, the reference service behind the prefix's proxy): a tick that finds
//     a new song and ends with its tooltip, against the same WinINet calls made directly.
#include "framework/module.h"
#include "framework/shell.h"
#include "framework/unique_handle.h"
#include "lookup/lyrics_lookup.h"
#include "notifier/notifier_wnd.h"
#include "lookup/ilyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/plugin_app.h"
#include "plugin/tunelore_plugin.h"
#include "net/field_map.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tools/fake_player/fake_player.h"
#include "bench/win/stopwatch.h"

#include <objbase.h>
#include <wininet.h>

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// The capture's attribute table, in its order: the names the poll asks every index for.
const std::array<const wchar_t*, 7> kWantedNames = {
    L"Author", L"Title", L"AlbumArtist", L"WM/AlbumTitle", L"WM/Year", L"WM/TrackNumber", L"WM/Genre"};
const std::array<const wchar_t*, 7> kWantedValues = {
    L"The Lanterns", L"Rain Song", L"The Lanterns", L"Night Drive!", L"1999", L"7", L"Pop"};
// Names a player reports beside them, among them one the comparison cannot settle by itself
// ("Is_Protected"); past the end of the list, numbered custom fields.
const std::array<const wchar_t*, 48> kOtherNames = {
    L"Bitrate", L"Duration", L"FileSize", L"FileType", L"SourceURL", L"WM/Composer", L"WM/Publisher",
    L"UserRating", L"AcquisitionTime", L"WM/Mood", L"WM/Lyrics", L"WM/Conductor", L"Is_Protected",
    L"AlbumID", L"AverageLevel", L"BuyNow", L"Copyright", L"CurrentBitrate", L"IsVBR", L"BuyTickets",
    L"MoreInfo", L"PartOfSet", L"PeakValue", L"PlaylistIndex", L"ProviderURL", L"RecordingTime",
    L"ReleaseDate", L"SyncState", L"TrackingID", L"UserEffectiveRating", L"UserLastPlayedTime",
    L"UserPlayCount", L"WM/Category", L"WM/ContentDistributor", L"WM/EncodingTime", L"WM/GenreID",
    L"WM/InitialKey", L"WM/Language", L"WM/MCDI", L"WM/MediaClassPrimaryID", L"WM/ParentalRating",
    L"WM/Period", L"WM/Provider", L"WM/SubTitle", L"WM/UniqueFileIdentifier", L"WM/WMContentID",
    L"WM/Writer", L"WM/ProviderStyle"};

class NoLookup : public ILyricsLookup {
public:
    void lookUp(Track) override { ++lookups; }
    void playbackStopped() override { ++stops; }
    void showSettings() override {}

    long lookups = 0;
    long stops = 0;
};

class CountingShell : public IShell {
public:
    BOOL NotifyIcon(DWORD, NOTIFYICONDATAA* nid) override
    {
        ++calls;
        if (nid->uFlags & NIF_TIP)
            tip = nid->szTip;
        return TRUE;
    }
    void Open(const std::string&) override { ++calls; }

    long calls = 0;
    std::string tip;
};

// While one lives, the shell is this counting one and the settings ask for no update check.
class QuietPlugin {
public:
    QuietPlugin() : m_realShell(SetShell(&shell)), m_settings(GetSettings()) { GetSettings() = Settings{}; }
    ~QuietPlugin()
    {
        GetSettings() = m_settings;
        SetShell(m_realShell);
    }

    CountingShell shell;

private:
    IShell* m_realShell;
    Settings m_settings;
};

// The floor of a tick's delivery: a "Static" window subclassed as any window layer must, with a
// procedure that passes each message to the class's own.
class SubclassedStatic {
public:
    SubclassedStatic() : m_window(::CreateWindowExA(0, "Static", "", 0, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr))
    {
        s_super = reinterpret_cast<WNDPROC>(
            ::SetWindowLongPtrA(m_window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&Forward)));
    }
    ~SubclassedStatic() { ::DestroyWindow(m_window); }

    void Deliver() const { ::SendMessageA(m_window, WM_TIMER, IDT_TICK, 0); }

private:
    static LRESULT CALLBACK Forward(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        return ::CallWindowProcA(s_super, window, message, wParam, lParam);
    }

    static WNDPROC s_super;
    HWND m_window;
};

WNDPROC SubclassedStatic::s_super = nullptr;

// The lookup object with its notifier window, whose ticks are sent from here only, the shell
// and settings kept quiet, and one plug-in object on a fake core.
struct LookupRig {
    LookupRig()
        : window(lookup.Window().m_hWnd), core(FakeCore::Create()), plugin(std::make_unique<TunelorePlugin>())
    {
        g_lookup = &lookup;
        g_lastTrackKey.clear();
        ::KillTimer(window, IDT_TICK);
        plugin->SetCore(core.get());
    }
    ~LookupRig()
    {
        plugin.reset();
        g_lookup = nullptr;
    }

    void Tick() const { ::SendMessageA(window, WM_TIMER, IDT_TICK, 0); }

    QuietPlugin quiet;  // first: the window's icon already goes to the counting shell
    LyricsLookup lookup{ModuleInstance(), ModuleServiceEndpoint(), &PollPlayers};
    HWND window;
    com_ptr<FakeCore> core;
    std::unique_ptr<TunelorePlugin> plugin;
};

// The notifier window alone, its ticks sent from here only.
class TickedWindow {
public:
    TickedWindow() : m_window(ModuleInstance(), &PollPlayers) { ::KillTimer(m_window.m_hWnd, IDT_TICK); }
    void Tick() { ::SendMessageA(m_window.m_hWnd, WM_TIMER, IDT_TICK, 0); }

private:
    CNotifierWnd m_window;
};

unique_bstr Bstr(const wchar_t* text)
{
    return unique_bstr(::SysAllocString(text));
}

// An audio item of the given size whose seven wanted attributes are spread over its indexes.
com_ptr<FakeMedia> Item(int attributeCount)
{
    std::vector<FakeAttribute> attributes;
    std::size_t wanted = 0, other = 0;
    for (int index = 0; index < attributeCount; ++index) {
        if (wanted < kWantedNames.size() &&
            index == static_cast<int>(wanted * attributeCount / kWantedNames.size())) {
            attributes.push_back({kWantedNames[wanted], kWantedValues[wanted]});
            ++wanted;
        } else {
            const std::wstring name = other < kOtherNames.size()
                                          ? std::wstring(kOtherNames[other])
                                          : L"UserCustom" + std::to_wstring(other - kOtherNames.size() + 1);
            attributes.push_back({name, L"a value of some length"});
            ++other;
        }
    }
    return FakeMedia::Create(std::move(attributes), L"audio", L"C:\\Music\\07 Rain Song.mp3");
}

// The player calls that one poll of a playing item must make, in the poll's order, with none of
// its own work around them: the floor under the poll's cost.
class PlayerCallsOnly {
public:
    explicit PlayerCallsOnly(const FakeMedia* item) : m_mediaType(Bstr(L"MediaType"))
    {
        for (const wchar_t* name : kWantedNames)
            m_wanted.push_back(Bstr(name));
        for (const FakeAttribute& attribute : item->Attributes()) {
            for (const wchar_t* name : kWantedNames)
                m_matches.push_back(attribute.name && *attribute.name == name);
        }
    }

    void Run(IWMPCore* core) const
    {
        WMPPlayState state = wmppsUndefined;
        core->get_playState(&state);
        com_ptr<IWMPMedia> item;
        core->get_currentMedia(item.put());
        unique_bstr mediaType;
        item->getItemInfo(m_mediaType.get(), mediaType.put());
        long count = 0;
        item->get_attributeCount(&count);
        unique_bstr url;
        item->get_sourceURL(url.put());
        std::size_t cell = 0;
        for (long index = 0; index < count; ++index) {
            for (const unique_bstr& wanted : m_wanted) {
                unique_bstr name;
                item->getAttributeName(index, name.put());
                if (m_matches[cell++]) {
                    unique_bstr value;
                    item->getItemInfo(wanted.get(), value.put());
                }
            }
        }
    }

private:
    unique_bstr m_mediaType;
    std::vector<unique_bstr> m_wanted;
    std::vector<bool> m_matches;  // index by row: does this index hold this row's name
};

std::array<int, kPlayerCallKinds> CallCounts(const FakeCore* core, const FakeMedia* item)
{
    std::array<int, kPlayerCallKinds> counts{};
    for (std::size_t kind = 0; kind < kPlayerCallKinds; ++kind) {
        const auto call = static_cast<PlayerCall>(kind);
        counts[kind] = core->CallCount(call) + item->CallCount(call);
    }
    return counts;
}

int Total(const std::array<int, kPlayerCallKinds>& counts)
{
    int total = 0;
    for (int count : counts)
        total += count;
    return total;
}

// The tick while an item plays, which finds the same item every tick after the first.
bool BenchPlaying(int attributeCount)
{
    QuietPlugin quiet;
    NoLookup lookup;
    g_lookup = &lookup;
    g_lastTrackKey.clear();
    TickedWindow window;
    const SubclassedStatic delivery;
    const com_ptr<FakeCore> core = FakeCore::Create();
    const com_ptr<FakeMedia> item = Item(attributeCount);
    core->SetCurrentMedia(item.get());
    core->SetPlayState(wmppsPlaying);
    auto plugin = std::make_unique<TunelorePlugin>();
    plugin->SetCore(core.get());
    const PlayerCallsOnly floor(item.get());

    window.Tick();  // the one lookup of this item
    core->ResetCallCounts();
    item->ResetCallCounts();
    window.Tick();
    const auto tickCalls = CallCounts(core.get(), item.get());
    core->ResetCallCounts();
    item->ResetCallCounts();
    floor.Run(core.get());
    const auto floorCalls = CallCounts(core.get(), item.get());

    const std::vector<Timing> timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) window.Tick(); }},
        {"floor", [&](long n) {
             for (long i = 0; i < n; ++i) {
                 delivery.Deliver();
                 floor.Run(core.get());
             }
         }},
        // The two halves apart, to show where a difference lies.
        {"poll", [](long n) { for (long i = 0; i < n; ++i) PollPlayers(); }},
        {"calls", [&](long n) { for (long i = 0; i < n; ++i) floor.Run(core.get()); }},
    });

    const std::string key = "playing." + std::to_string(attributeCount) + ".";
    Emit(key + "tick_ns", timings[0].medianNs);
    Emit(key + "floor_ns", timings[1].medianNs);
    Emit(key + "poll_ns", timings[2].medianNs);
    Emit(key + "calls_ns", timings[3].medianNs);
    Emit(key + "player_calls", Total(tickCalls));
    Emit(key + "floor_calls", Total(floorCalls));
    Emit(key + "lookups", lookup.lookups);

    plugin.reset();
    g_lookup = nullptr;
    return tickCalls == floorCalls && lookup.lookups == 1;
}

// Whole ticks through the window, the player stopped and then with no player object.
bool BenchStoppedAndIdle()
{
    LookupRig rig;
    CountingShell& shell = rig.quiet.shell;
    const com_ptr<FakeCore>& core = rig.core;
    auto tick = [&rig] { rig.Tick(); };
    const SubclassedStatic delivery;
    core->SetPlayState(wmppsStopped);
    tick();

    constexpr int kTicksPerMinute = 60;
    auto minute = [&](const char* key) {
        shell.calls = 0;
        core->ResetCallCounts();
        for (int i = 0; i < kTicksPerMinute; ++i)
            tick();
        Emit(std::string(key) + "shell_calls_per_minute", shell.calls);
        int playerCalls = 0;
        for (std::size_t kind = 0; kind < kPlayerCallKinds; ++kind)
            playerCalls += core->CallCount(static_cast<PlayerCall>(kind));
        Emit(std::string(key) + "player_calls_per_minute", playerCalls);
    };
    minute("stopped.");
    std::vector<Timing> timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) tick(); }},
        {"floor", [&](long n) {
             WMPPlayState state = wmppsUndefined;
             for (long i = 0; i < n; ++i) {
                 delivery.Deliver();
                 core->get_playState(&state);
             }
         }},
    });
    Emit("stopped.tick_ns", timings[0].medianNs);
    Emit("stopped.floor_ns", timings[1].medianNs);

    rig.plugin.reset();
    minute("idle.");
    timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) tick(); }},
        {"floor", [&](long n) { for (long i = 0; i < n; ++i) delivery.Deliver(); }},
    });
    Emit("idle.tick_ns", timings[0].medianNs);
    Emit("idle.floor_ns", timings[1].medianNs);
    return true;
}

// The lookup's WinINet calls, in the exchange's order, on a handle of their own each time: an
// asynchronous session, the connection with its time-outs, the POST of the form with its
// content type, the status, and the reply read to its end. Waits on an event, with none of the
// exchange's bounds, message handling or parsing around them.
class BareExchange {
public:
    BareExchange() : m_done(::CreateEventA(nullptr, FALSE, FALSE, nullptr)) {}
    ~BareExchange() { ::CloseHandle(m_done); }

    // The reply's length, or -1.
    long Post(const std::string& agent, const std::string& host, const std::string& path,
              const std::string& referrer, std::string body)
    {
        long length = -1;
        const HINTERNET session =
            ::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC);
        ::InternetSetStatusCallbackA(session, &OnStatus);
        const HINTERNET connection = ::InternetConnectA(session, host.c_str(), INTERNET_DEFAULT_HTTP_PORT, nullptr,
                                                        nullptr, INTERNET_SERVICE_HTTP, 0,
                                                        reinterpret_cast<DWORD_PTR>(this));
        DWORD connectMs = 60000, sendMs = 30000, receiveMs = 30000;
        ::InternetSetOptionA(connection, INTERNET_OPTION_CONNECT_TIMEOUT, &connectMs, sizeof connectMs);
        ::InternetSetOptionA(connection, INTERNET_OPTION_SEND_TIMEOUT, &sendMs, sizeof sendMs);
        ::InternetSetOptionA(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, &receiveMs, sizeof receiveMs);
        const HINTERNET request = ::HttpOpenRequestA(connection, "POST", path.c_str(), "HTTP/1.0", referrer.c_str(),
                                                     nullptr, INTERNET_FLAG_KEEP_CONNECTION |
                                                         INTERNET_FLAG_NO_AUTO_REDIRECT,
                                                     reinterpret_cast<DWORD_PTR>(this));
        static const char kContentType[] = "Content-Type: application/x-www-form-urlencoded";
        ::HttpAddRequestHeadersA(request, kContentType, static_cast<DWORD>(-1L), HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        if (Completed(::HttpSendRequestA(request, nullptr, 0, &body[0], static_cast<DWORD>(body.size() + 1)))) {
            DWORD status = 0, size = sizeof status;
            ::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr);
            length = 0;
            char chunk[4096];
            for (;;) {
                INTERNET_BUFFERSA buffers{};
                buffers.dwStructSize = sizeof buffers;
                buffers.lpvBuffer = chunk;
                buffers.dwBufferLength = sizeof chunk;
                if (!Completed(::InternetReadFileExA(request, &buffers, IRF_NO_WAIT, reinterpret_cast<DWORD_PTR>(this)))) {
                    length = -1;
                    break;
                }
                if (buffers.dwBufferLength == 0)
                    break;
                length += static_cast<long>(buffers.dwBufferLength);
            }
        }
        // Closed without waiting for the closes to complete: this object outlives the callbacks.
        ::InternetSetStatusCallbackA(request, nullptr);
        ::InternetCloseHandle(request);
        ::InternetCloseHandle(connection);
        ::InternetCloseHandle(session);
        return length;
    }

private:
    bool Completed(BOOL result)
    {
        if (result)
            return true;
        if (::GetLastError() != ERROR_IO_PENDING)
            return false;
        ::WaitForSingleObject(m_done, INFINITE);
        return m_result;
    }

    static void CALLBACK OnStatus(HINTERNET, DWORD_PTR context, DWORD status, void* information, DWORD)
    {
        if (status != INTERNET_STATUS_REQUEST_COMPLETE || context == 0)
            return;
        auto* self = reinterpret_cast<BareExchange*>(context);
        self->m_result = static_cast<INTERNET_ASYNC_RESULT*>(information)->dwResult != 0;
        ::SetEvent(self->m_done);
    }

    HANDLE m_done;
    bool m_result = false;
};

// A tick that finds a new song, looks it up at the reference service and shows the found
// tooltip: two songs the service knows, in turn, so that every tick looks one up.
bool BenchLookup()
{
    LookupRig rig;
    const com_ptr<FakeCore>& core = rig.core;
    const com_ptr<FakeMedia> songs[2] = {
        FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}, {L"WM/AlbumTitle", L"Night Drive!"}},
                          L"audio", L"C:\\Music\\07 Rain Song.mp3"),
        FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Night Drive"}, {L"WM/AlbumTitle", L"Night Drive!"}},
                          L"audio", L"C:\\Music\\08 Night Drive.mp3")};
    core->SetPlayState(wmppsPlaying);

    static const char kFoundTip[] = "Lyrics found! Doubleclick to view";
    int next = 0;
    long found = 0, ticks = 0;
    auto lookUpNext = [&] {
        core->SetCurrentMedia(songs[next].get());
        next ^= 1;
        rig.quiet.shell.tip.clear();
        rig.Tick();
        ++ticks;
        found += rig.quiet.shell.tip == kFoundTip;
    };

    const std::string agent = LoadStringResource(IDS_APP_NAME);
    const std::string host = LoadStringResource(IDS_SERVICE_HOST);
    const std::string path = LoadStringResource(IDS_LOOKUP_PATH);
    const std::string referrer = "WMP " + agent;
    // The form of the first song, as the tick sends it.
    core->SetCurrentMedia(songs[0].get());
    const std::string body = encodeForm(LyricsLookup::buildRequest(rig.plugin->CaptureTrack()));
    BareExchange bare;
    long bareReplies = 0, bareCalls = 0;
    auto postDirectly = [&] {
        ++bareCalls;
        bareReplies += bare.Post(agent, host, path, referrer, body) > 0;
    };

    lookUpNext();
    postDirectly();
    const std::vector<Timing> timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) lookUpNext(); }},
        {"floor", [&](long n) { for (long i = 0; i < n; ++i) postDirectly(); }},
    }, 15, 0.1);
    Emit("lookup.tick_ns", timings[0].medianNs);
    Emit("lookup.floor_ns", timings[1].medianNs);
    Emit("lookup.found_share", static_cast<double>(found) / static_cast<double>(ticks));
    Emit("lookup.floor_reply_share", static_cast<double>(bareReplies) / static_cast<double>(bareCalls));
    return found == ticks && bareReplies == bareCalls;
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    const bool withLookup = argc == 2 && std::strcmp(argv[1], "--lookup") == 0;
    // The player's user-interface thread is a single-threaded apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = true;
    for (int attributeCount : {10, 30, 100})
        ok = BenchPlaying(attributeCount) && ok;
    ok = BenchStoppedAndIdle() && ok;
    if (withLookup)
        ok = BenchLookup() && ok;
    if (SUCCEEDED(com))
        ::CoUninitialize();
    Emit("tick_bench.ok", ok ? 1 : 0);
    return ok ? 0 : 1;
}
