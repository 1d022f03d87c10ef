// Runs the playlist one step after another, driven by the simulator's heartbeat. Timed steps
// hold their play state for their duration; the user's steps act at once; the steps that wait
// for a menu or a dialog wait for it with a deadline.
#pragma once

#include "tools/player_sim/desktop_watcher.h"
#include "tools/player_sim/icon_user.h"
#include "tools/player_sim/player.h"
#include "tools/player_sim/playlist.h"
#include "tools/player_sim/transcript.h"

#include <chrono>
#include <cstddef>
#include <functional>

struct RunnerParts {
    Player& player;
    IconUser& user;
    DesktopWatcher& desktop;
    Transcript& transcript;
    std::function<void()> requestPropertyPage;
};

class PlaylistRunner {
public:
    using Clock = std::chrono::steady_clock;

    PlaylistRunner(const Playlist& playlist, RunnerParts parts);

    // Moves on as far as the clock and the desktop allow. Never runs a modal loop itself.
    void Heartbeat();
    bool Finished() const { return m_next >= m_playlist.steps.size(); }

private:
    // Starts the step; true when it is over already.
    bool Begin(const PlaylistStep& step);
    // True when the started step is over.
    bool Continue(const PlaylistStep& step);
    void Complete(const PlaylistStep& step, bool timed);

    const Playlist& m_playlist;
    RunnerParts m_parts;
    std::size_t m_next = 0;
    bool m_started = false;
    Clock::time_point m_stepStart;
    bool m_inHeartbeat = false;
};
