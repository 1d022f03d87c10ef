// The simulator's transcript: every event of the run with its moment, as a readable line on
// the console and, when asked, as a JSON line for tests.
#pragma once

#include "tools/player_sim/json_line.h"

#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <string_view>

class Transcript {
public:
    using Clock = std::chrono::steady_clock;

    // Moments count from here.
    explicit Transcript(bool console);
    ~Transcript();
    Transcript(const Transcript&) = delete;
    Transcript& operator=(const Transcript&) = delete;

    // Also writes JSON lines to path (created anew). False when it cannot be written.
    bool WriteJsonTo(const std::string& path);
    // How many times the plug-in has asked the player for its play state so far, once a
    // second on each of its ticks; every JSON line carries it as "polls".
    void CountPollsWith(std::function<int()> counter) { m_polls = std::move(counter); }

    double Seconds(Clock::time_point when) const;
    double Now() const { return Seconds(Clock::now()); }

    // area groups the console lines ("tray", "player", ...); event names the JSON line's kind;
    // text is the readable line (UTF-8); fields go into the JSON line after t, event and polls.
    void Add(std::string_view area, std::string_view event, const std::string& text,
             const JsonLine& fields = JsonLine(), Clock::time_point when = Clock::now());
    // An event of kind "error": the run went other than the playlist says.
    void Error(const std::string& text);
    int ErrorCount() const { return m_errors; }

private:
    void WriteToConsole(const std::string& line);

    Clock::time_point m_start;
    bool m_console;
    bool m_consoleIsTerminal = false;
    std::FILE* m_json = nullptr;
    std::function<int()> m_polls;
    int m_errors = 0;
};
