// Time on the player's thread per tick. While playing: PollPlayers on the fake player with an
// item of 10, 30 and 100 attributes, beside the bare player calls that the capture of that item
// must make. While stopped or with no player object: the whole tick as the window receives it,
// and the shell calls that a minute of such ticks makes.
#include "framework/module.h"
#include "framework/shell.h"
#include "framework/unique_handle.h"
#include "lookup/lyrics_lookup.h"
#include "notifier/notifier_wnd.h"
#include "plugin/ilyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "settings/settings.h"
#include "tools/fake_player/fake_player.h"
#include "bench/win/stopwatch.h"

#include <objbase.h>

#include <array>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

namespace {

// The capture's attribute table, in its order: the names the poll asks every index for.
const std::array<const wchar_t*, 7> kWantedNames = {
    L"Author", L"Title", L"AlbumArtist", L"WM/AlbumTitle", L"WM/Year", L"WM/TrackNumber", L"WM/Genre"};
const std::array<const wchar_t*, 7> kWantedValues = {
    L"The Lanterns", L"Rain Song", L"The Lanterns", L"Night Drive!", L"1999", L"7", L"Pop"};
// Names a player reports beside them.
const std::array<const wchar_t*, 12> kOtherNames = {
    L"Bitrate", L"Duration", L"FileSize", L"FileType", L"SourceURL", L"WM/Composer", L"WM/Publisher",
    L"UserRating", L"AcquisitionTime", L"WM/Mood", L"WM/Lyrics", L"WM/Conductor"};

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
    BOOL NotifyIcon(DWORD, NOTIFYICONDATAA*) override
    {
        ++calls;
        return TRUE;
    }
    void Open(const std::string&) override { ++calls; }

    long calls = 0;
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
            std::wstring name = kOtherNames[other % kOtherNames.size()];
            if (other >= kOtherNames.size())
                name += L"#" + std::to_wstring(other / kOtherNames.size());
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

// Item 1: the poll of a playing item, which finds the same key every tick after the first.
bool BenchPlaying(int attributeCount)
{
    NoLookup lookup;
    g_lookup = &lookup;
    g_lastTrackKey.clear();
    const com_ptr<FakeCore> core = FakeCore::Create();
    const com_ptr<FakeMedia> item = Item(attributeCount);
    core->SetCurrentMedia(item.get());
    core->SetPlayState(wmppsPlaying);
    auto plugin = std::make_unique<TunelorePlugin>();
    plugin->SetCore(core.get());
    const PlayerCallsOnly floor(item.get());

    PollPlayers();  // the one lookup of this item
    core->ResetCallCounts();
    item->ResetCallCounts();
    PollPlayers();
    const auto pollCalls = CallCounts(core.get(), item.get());
    core->ResetCallCounts();
    item->ResetCallCounts();
    floor.Run(core.get());
    const auto floorCalls = CallCounts(core.get(), item.get());

    const std::vector<Timing> timings = MeasureSideBySide({
        {"poll", [](long n) { for (long i = 0; i < n; ++i) PollPlayers(); }},
        {"floor", [&](long n) { for (long i = 0; i < n; ++i) floor.Run(core.get()); }},
    });

    const std::string key = "playing." + std::to_string(attributeCount) + ".";
    Emit(key + "poll_ns", timings[0].medianNs);
    Emit(key + "floor_ns", timings[1].medianNs);
    Emit(key + "player_calls", Total(pollCalls));
    Emit(key + "floor_calls", Total(floorCalls));
    Emit(key + "lookups", lookup.lookups);

    plugin.reset();
    g_lookup = nullptr;
    return pollCalls == floorCalls && lookup.lookups == 1;
}

// Item 2: whole ticks through the window, the player stopped and then with no player object.
bool BenchStoppedAndIdle()
{
    CountingShell shell;
    IShell* const realShell = SetShell(&shell);
    // No update check: its one run on the first tick would talk to the network.
    GetSettings() = Settings{};
    auto lookup = std::make_unique<LyricsLookup>(ModuleInstance());
    g_lookup = lookup.get();
    g_lastTrackKey.clear();
    const HWND window = lookup->Window().m_hWnd;
    // Ticks come from here only.
    ::KillTimer(window, IDT_TICK);
    auto tick = [window] { ::SendMessageA(window, WM_TIMER, IDT_TICK, 0); };

    const com_ptr<FakeCore> core = FakeCore::Create();
    core->SetPlayState(wmppsStopped);
    auto plugin = std::make_unique<TunelorePlugin>();
    plugin->SetCore(core.get());
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
    // The floor of a tick: the window's dispatch of a message that does nothing, and, while a
    // player object exists, the one player call that finds it stopped.
    auto dispatch = [window] { ::SendMessageA(window, WM_NULL, 0, 0); };
    minute("stopped.");
    std::vector<Timing> timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) tick(); }},
        {"floor", [&](long n) {
             WMPPlayState state = wmppsUndefined;
             for (long i = 0; i < n; ++i) {
                 dispatch();
                 core->get_playState(&state);
             }
         }},
    });
    Emit("stopped.tick_ns", timings[0].medianNs);
    Emit("stopped.floor_ns", timings[1].medianNs);

    plugin.reset();
    minute("idle.");
    timings = MeasureSideBySide({
        {"tick", [&](long n) { for (long i = 0; i < n; ++i) tick(); }},
        {"floor", [&](long n) { for (long i = 0; i < n; ++i) dispatch(); }},
    });
    Emit("idle.tick_ns", timings[0].medianNs);
    Emit("idle.floor_ns", timings[1].medianNs);

    g_lookup = nullptr;
    lookup.reset();
    SetShell(realShell);
    return true;
}

}  // namespace

int main()
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    // The player's user-interface thread is a single-threaded apartment.
    const HRESULT com = ::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    bool ok = true;
    for (int attributeCount : {10, 30, 100})
        ok = BenchPlaying(attributeCount) && ok;
    ok = BenchStoppedAndIdle() && ok;
    if (SUCCEEDED(com))
        ::CoUninitialize();
    Emit("tick_bench.ok", ok ? 1 : 0);
    return ok ? 0 : 1;
}
