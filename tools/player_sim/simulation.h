// One run of the simulator: the player, the plug-in it hosts, the user and the desktop, the
// playlist, and the message loop that serves them all on one thread, as in the player.
#pragma once

#include "tools/player_sim/desktop_watcher.h"
#include "tools/player_sim/icon_user.h"
#include "tools/player_sim/options.h"
#include "tools/player_sim/player.h"
#include "tools/player_sim/player_window.h"
#include "tools/player_sim/playlist.h"
#include "tools/player_sim/playlist_runner.h"
#include "tools/player_sim/plugin_host.h"
#include "tools/player_sim/transcript.h"
#include "tools/player_sim/tray_view.h"

#include <windows.h>

#include <chrono>
#include <optional>

// Exit codes of the simulator.
constexpr int kRunClean = 0;
constexpr int kRunWithErrors = 1;
constexpr int kBadCommandLine = 2;
constexpr int kNoPlugin = 3;

class Simulation {
public:
    Simulation(const SimulatorOptions& options, const Playlist& playlist, Transcript& transcript);
    Simulation(const Simulation&) = delete;
    Simulation& operator=(const Simulation&) = delete;

    // The whole run, from loading the plug-in to its unloading; returns the exit code.
    int Run();

private:
    static void CALLBACK OnHeartbeat(HWND, UINT, UINT_PTR, DWORD);
    void Heartbeat();
    void OnShellCall(const WatchedCall& call);
    void RunMessageLoop();

    const SimulatorOptions& m_options;
    const Playlist& m_playlist;
    Transcript& m_transcript;
    TrayView m_tray;
    Player m_player;
    IconUser m_user;
    DesktopWatcher m_desktop;
    PluginHost m_host;
    std::optional<PlayerWindow> m_window;
    std::optional<PlaylistRunner> m_runner;

    std::chrono::steady_clock::time_point m_deadline;
    bool m_ending = false;
    // The screenshot is taken once, for the first balloon.
    std::optional<std::chrono::steady_clock::time_point> m_screenshotAt;
    bool m_screenshotPlanned = false;

    static Simulation* s_running;
};
