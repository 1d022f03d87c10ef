// Start-up and teardown of the built plug-in DLL against an empty DLL of the same build: the
// time to load it (settings read, window and icon created), to run its first tick and to
// unload it, the memory its load adds to the process, and the shell calls its start-up and
// exit make.
//   load_bench PLUGIN.dll EMPTY.dll      (Windows paths)
#include "framework/unique_handle.h"
#include "tools/dll_watch/dll_watch.h"
#include "bench/win/stopwatch.h"

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

constexpr int kRepetitions = 31;

struct Committed {
    double privateBytes = 0;
    double imageBytes = 0;
};

// The process's committed memory by kind, from a walk of its address space: what Wine reports
// through the process counters is too coarse for a DLL of this size.
Committed CommittedMemory()
{
    Committed committed;
    MEMORY_BASIC_INFORMATION region;
    for (const char* address = nullptr;
         ::VirtualQuery(address, &region, sizeof(region)) == sizeof(region);
         address = static_cast<const char*>(region.BaseAddress) + region.RegionSize) {
        if (region.State != MEM_COMMIT)
            continue;
        if (region.Type == MEM_PRIVATE)
            committed.privateBytes += static_cast<double>(region.RegionSize);
        else if (region.Type == MEM_IMAGE)
            committed.imageBytes += static_cast<double>(region.RegionSize);
        if (static_cast<const char*>(region.BaseAddress) + region.RegionSize < address)
            break;  // wrapped around the top of the address space
    }
    return committed;
}

// Loads every DLL that a loaded module imports and keeps them: in the player they are loaded
// long before any plug-in, so the timed loads must not pay for them.
void PinImports(HMODULE module)
{
    const auto* base = reinterpret_cast<const BYTE*>(module);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (directory.VirtualAddress == 0)
        return;
    for (const auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
         import->Name != 0; ++import)
        ::LoadLibraryA(reinterpret_cast<const char*>(base + import->Name));
}

struct LoadTimes {
    std::vector<double> load;
    std::vector<double> tick;
    std::vector<double> unload;
    std::vector<double> cycle;
};

// The plug-in's window gets its first tick as the timer would deliver it; a DLL without the
// window pays only the search.
void FirstTick()
{
    if (const HWND window = ::FindWindowA("Static", "TuneloreWnd"))
        ::SendMessageA(window, WM_TIMER, 1, 0);
}

bool LoadOnce(const std::string& path, LoadTimes& times)
{
    const double start = Seconds();
    const HMODULE module = ::LoadLibraryA(path.c_str());
    const double loaded = Seconds();
    if (!module)
        return false;
    FirstTick();
    const double ticked = Seconds();
    ::FreeLibrary(module);
    const double unloaded = Seconds();
    times.load.push_back((loaded - start) * 1e6);
    times.tick.push_back((ticked - loaded) * 1e6);
    times.unload.push_back((unloaded - ticked) * 1e6);
    times.cycle.push_back((unloaded - start) * 1e6);
    return true;
}

// The first load, with nothing of it in the process yet; its imports stay loaded after it.
bool FirstLoad(const std::string& path, const std::string& key)
{
    const Committed before = CommittedMemory();
    const double start = Seconds();
    const HMODULE module = ::LoadLibraryA(path.c_str());
    const double loaded = Seconds();
    if (!module) {
        std::fprintf(stderr, "load_bench: cannot load %s (error %lu)\n", path.c_str(), ::GetLastError());
        return false;
    }
    const Committed after = CommittedMemory();
    PinImports(module);
    ::FreeLibrary(module);
    Emit(key + "first_load_us", (loaded - start) * 1e6);
    Emit(key + "first_load_private_kb", (after.privateBytes - before.privateBytes) / 1024);
    Emit(key + "first_load_image_kb", (after.imageBytes - before.imageBytes) / 1024);
    Emit(key + "unloaded", ::GetModuleHandleA(path.c_str()) == nullptr ? 1 : 0);
    return true;
}

// Memory that a load with the imports already in place adds, as the player would see it.
void WarmLoadMemory(const std::string& path, const std::string& key)
{
    const Committed before = CommittedMemory();
    const HMODULE module = ::LoadLibraryA(path.c_str());
    const Committed after = CommittedMemory();
    if (module)
        ::FreeLibrary(module);
    const Committed freed = CommittedMemory();
    Emit(key + "private_kb", (after.privateBytes - before.privateBytes) / 1024);
    Emit(key + "image_kb", (after.imageBytes - before.imageBytes) / 1024);
    Emit(key + "private_kept_kb", (freed.privateBytes - before.privateBytes) / 1024);
}

// Memory that stays behind after each load and unload: a leak per load shows here.
void KeptPerCycle(const std::string& path, const std::string& key)
{
    LoadTimes unused;
    const Committed before = CommittedMemory();
    for (int cycle = 0; cycle < kRepetitions; ++cycle)
        LoadOnce(path, unused);
    const Committed after = CommittedMemory();
    Emit(key + "kept_private_kb_per_cycle", (after.privateBytes - before.privateBytes) / 1024 / kRepetitions);
}

void WatchedShellCalls(const std::string& path, const std::string& key)
{
    DllWatchOptions options;
    options.forwardShellExecute = false;
    std::unique_ptr<DllWatch> watch = DllWatch::Load(path, options);
    if (!watch)
        return;
    Emit(key + "startup_shell_calls", static_cast<double>(watch->Events().size()));
    watch->ClearEvents();
    watch->Unload();
    Emit(key + "teardown_shell_calls", static_cast<double>(watch->Events().size()));
}

}  // namespace

int main(int argc, char** argv)
{
    std::setvbuf(stdout, nullptr, _IONBF, 0);
    if (argc != 3) {
        std::fprintf(stderr, "usage: load_bench PLUGIN.dll EMPTY.dll\n");
        return 2;
    }
    const std::string paths[2] = {argv[1], argv[2]};
    const std::string keys[2] = {"load.plugin.", "load.empty."};
    // The player's own window on the thread, alive before any plug-in and after it: what the
    // system sets up once per thread with its first window is not the plug-in's to pay.
    const unique_hwnd player(::CreateWindowExA(0, "Static", "Player", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100, nullptr,
                                               nullptr, nullptr, nullptr));
    if (!player) {
        std::fprintf(stderr, "load_bench: cannot create the player's window (error %lu)\n", ::GetLastError());
        return 1;
    }

    for (int i = 0; i < 2; ++i) {
        if (!FirstLoad(paths[i], keys[i]))
            return 1;
    }
    for (int i = 0; i < 2; ++i)
        WarmLoadMemory(paths[i], keys[i]);

    // Side by side: the two DLLs in turn, so that both see the same machine.
    LoadTimes times[2];
    for (int repetition = 0; repetition < kRepetitions; ++repetition) {
        for (int i = 0; i < 2; ++i) {
            if (!LoadOnce(paths[i], times[i]))
                return 1;
        }
    }
    for (int i = 0; i < 2; ++i) {
        Emit(keys[i] + "load_us", Median(times[i].load));
        Emit(keys[i] + "tick_us", Median(times[i].tick));
        Emit(keys[i] + "unload_us", Median(times[i].unload));
        Emit(keys[i] + "cycle_us", Median(times[i].cycle));
    }

    for (int i = 0; i < 2; ++i)
        KeptPerCycle(paths[i], keys[i]);
    WatchedShellCalls(paths[0], keys[0]);
    return 0;
}
