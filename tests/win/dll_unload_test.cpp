// The built DLL unloaded as a host that loads and unloads its plug-ins does. Loaded and unloaded
// many times in one process: whatever a cycle keeps adds up, so after the first cycles (which
// may set up what the process keeps anyway) the committed memory must stay where it was, and
// no thread-local slot may stay taken: a process has about a thousand of them. And
// unloaded right after a lookup that ran out of time while WinINet's worker still reads the
// reply: when that worker finishes, nothing of the unloaded module may be called.
#include "plugin/player_interface.h"
#include "tests/win/built_dll.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/process_counts.h"
#include "tests/win/settings_registry.h"
#include "tools/dll_watch/hosted_plugin.h"
#include "tools/fake_player/fake_player.h"

#include <windows.h>
#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <memory>
#include <set>
#include <string>
#include <vector>

namespace {

// {921BC298-60F8-4557-A01D-ECEE7CC020A1}
constexpr CLSID kPluginClass = {0x921bc298, 0x60f8, 0x4557, {0xa0, 0x1d, 0xec, 0xee, 0x7c, 0xc0, 0x20, 0xa1}};
// The plug-in's own bound of one exchange (ExchangeTimeouts' receive time-out), and what the
// wait around it may add.
constexpr double kExchangeBoundSeconds = 30.0;
constexpr double kMarginSeconds = 2.0;

constexpr int kCycles = 200;
// Under 32-bit Wine the second load still sets up some 30 KiB that the process keeps, once.
constexpr int kWarmUpCycles = 5;
// What the process may still grow by over the whole run, not per cycle: one page.
constexpr SIZE_T kAllowedGrowthBytes = 4 * 1024;

std::set<HMODULE> LoadedModules()
{
    std::vector<HMODULE> modules(1024);
    DWORD needed = 0;
    if (!::K32EnumProcessModules(::GetCurrentProcess(), modules.data(),
                                 static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
        return {};
    modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
    return std::set<HMODULE>(modules.begin(), modules.end());
}

// The lowest thread-local slot free now: it rises if a load keeps one.
DWORD FreeThreadLocalSlot()
{
    const DWORD slot = ::TlsAlloc();
    ::TlsFree(slot);
    return slot;
}

class DllUnloadTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Before the DLL loads: no exchange may ever look up the compiled-in host.
        ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
        DeleteSettingsKey();
        // No update check on the first tick, and no balloons.
        ASSERT_TRUE(WriteSetting("Check updates", 0));
        ASSERT_TRUE(WriteSetting("Tip enabled", 0));
        m_comStarted = SUCCEEDED(::CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED));
    }

    void TearDown() override
    {
        DeleteSettingsKey();
        for (HMODULE module : m_pinned)
            ::FreeLibrary(module);
        if (m_comStarted)
            ::CoUninitialize();
    }

    // The system DLLs the plug-in imports stay loaded from its first load on, as they do in a
    // player, which uses them itself: what is measured is what the plug-in's own cycles keep,
    // not what Wine's DLLs keep when they are loaded afresh each time.
    bool FirstCycle()
    {
        const std::set<HMODULE> before = LoadedModules();
        HMODULE plugin = ::LoadLibraryA(DllPath().c_str());
        if (!plugin)
            return false;
        for (HMODULE module : LoadedModules()) {
            char path[MAX_PATH];
            if (module == plugin || before.count(module) || !::GetModuleFileNameA(module, path, MAX_PATH))
                continue;
            if (HMODULE pinned = ::LoadLibraryA(path))
                m_pinned.push_back(pinned);
        }
        return ::FreeLibrary(plugin) != FALSE && !::GetModuleHandleA(DllPath().c_str());
    }

    static bool Cycle()
    {
        HMODULE module = ::LoadLibraryA(DllPath().c_str());
        if (!module)
            return false;
        return ::FreeLibrary(module) != FALSE && !::GetModuleHandleA(DllPath().c_str());
    }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
    bool m_comStarted = false;
    std::vector<HMODULE> m_pinned;
};

TEST_F(DllUnloadTest, LoadUnloadCyclesKeepNoMemory)
{
    ASSERT_TRUE(FirstCycle()) << DllPath();
    for (int i = 1; i < kWarmUpCycles; ++i)
        ASSERT_TRUE(Cycle()) << "warm-up cycle " << i;
    const DWORD firstFreeSlot = FreeThreadLocalSlot();
    // The heap walk first, so that whatever it takes is in both figures.
    const SIZE_T firstHeap = BusyHeapBytes();
    const SIZE_T firstPrivate = PrivateBytes();
    ASSERT_NE(firstPrivate, 0u);

    for (int i = 0; i < kCycles; ++i)
        ASSERT_TRUE(Cycle()) << "cycle " << i;

    const SIZE_T lastHeap = BusyHeapBytes();
    const SIZE_T lastPrivate = PrivateBytes();
    const long long privateGrowth = static_cast<long long>(lastPrivate) - static_cast<long long>(firstPrivate);
    const long long heapGrowth = static_cast<long long>(lastHeap) - static_cast<long long>(firstHeap);
    std::printf("after the warm-up: %llu private bytes, %llu busy heap bytes\n"
                "after %d cycles: %llu private bytes (%+lld), %llu busy heap bytes (%+lld, %+lld a cycle)\n",
                static_cast<unsigned long long>(firstPrivate), static_cast<unsigned long long>(firstHeap), kCycles,
                static_cast<unsigned long long>(lastPrivate), privateGrowth,
                static_cast<unsigned long long>(lastHeap), heapGrowth, heapGrowth / kCycles);
    EXPECT_LE(privateGrowth, static_cast<long long>(kAllowedGrowthBytes));
    EXPECT_EQ(FreeThreadLocalSlot(), firstFreeSlot) << "a load or unload keeps a thread-local slot";
}

com_ptr<FakeMedia> RainSong()
{
    return FakeMedia::Create({{L"Author", L"The Lanterns"}, {L"Title", L"Rain Song"}}, L"audio",
                             L"C:\\Music\\07 Rain Song.mp3");
}

TEST_F(DllUnloadTest, UnloadAfterALookupRanOutOfTimeLeavesNothingToCallBack)
{
    // A byte of the head every second: each read ends in time, the whole never does.
    ASSERT_TRUE(m_service.scheduleNext({{"drip", "1"}}));

    const std::unique_ptr<HostedPlugin> host = HostedPlugin::Load(DllPath(), DllWatchOptions{false});
    ASSERT_TRUE(host) << DllPath();
    ASSERT_TRUE(host->ClassObjectExport());
    ASSERT_EQ(host->CreateFromFactory(kPluginClass), S_OK);
    com_ptr<FakeCore> core = FakeCore::Create();
    host->HandCore(core.get());
    com_ptr<FakeMedia> song = RainSong();
    core->SetCurrentMedia(song.get());
    core->SetPlayState(wmppsPlaying);

    // The lookup runs inside one tick: the dispatch that returns after the service has the
    // request is the one the exchange blocked.
    double longestDispatch = 0;
    bool looked = false;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(90);
    while (!looked && std::chrono::steady_clock::now() < deadline) {
        MSG message;
        while (!looked && ::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            const auto start = std::chrono::steady_clock::now();
            ::DispatchMessageA(&message);
            longestDispatch = std::max(
                longestDispatch, std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
            std::vector<RecordedRequest> requests;
            looked = m_service.requests(requests) && !requests.empty();
        }
        ::MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, QS_ALLINPUT);
    }
    ASSERT_TRUE(looked);
    EXPECT_GE(longestDispatch, kExchangeBoundSeconds - kMarginSeconds);
    EXPECT_LE(longestDispatch, kExchangeBoundSeconds + kMarginSeconds);

    // The core taken back, the object and the factory released, and the DLL freed.
    ASSERT_TRUE(host->Unload());
    ASSERT_FALSE(::GetModuleHandleA(DllPath().c_str()));

    // The service ends the head it was still dripping; WinINet's worker, which was reading it,
    // finishes its operation and reports it, and then its handles' closing. Had the module
    // left its callback with WinINet, this process would now call into unmapped code.
    ASSERT_TRUE(m_service.reset());
    ::Sleep(2000);
    std::vector<RecordedRequest> requests;
    EXPECT_TRUE(m_service.requests(requests));
}

}  // namespace
