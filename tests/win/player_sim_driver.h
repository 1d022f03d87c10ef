// The test side of the player simulator: runs it as a child process in the test's prefix and
// reads back its transcript of JSON lines.
#pragma once

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

#include "tools/player_sim/json_line.h"

// One line of the transcript: its moment, its kind, how often the plug-in had polled, and the
// other members by type.
struct SimEvent : JsonMembers {
    double t = 0;
    std::string event;
    int polls = 0;

    // The member of that type, or "", -1, false or an empty list when there is none.
    std::string Text(const std::string& key) const;
    double Number(const std::string& key) const;
    bool Flag(const std::string& key) const;
    std::vector<std::string> List(const std::string& key) const;
};

// A line as the simulator writes it.
std::optional<SimEvent> ParseSimEvent(const std::string& line);

// The complete lines of a transcript file, as far as it is written; an unreadable line is
// returned as an event named "unreadable" with the line as its "text".
std::vector<SimEvent> ReadSimTranscript(const std::string& path);

// The events of one kind, in order.
std::vector<SimEvent> EventsOf(const std::vector<SimEvent>& events, const std::string& kind);

// A file name in the prefix's temporary folder, unique to this run.
std::string TemporaryFile(const char* prefix);

class SimulatorProcess {
public:
    SimulatorProcess() = default;
    ~SimulatorProcess();
    SimulatorProcess(const SimulatorProcess&) = delete;
    SimulatorProcess& operator=(const SimulatorProcess&) = delete;

    // Starts the simulator with the arguments, its JSON transcript going to a file of its own
    // and its console to another.
    bool Start(const std::vector<std::string>& arguments);
    // Waits for the end; false when it did not end within the time (it is then killed).
    bool Wait(DWORD milliseconds);
    // The transcript so far.
    std::vector<SimEvent> Events() const { return ReadSimTranscript(m_jsonPath); }
    // Waits until the transcript holds an event that matches, or the time is up.
    template <typename Predicate>
    std::optional<SimEvent> WaitForEvent(Predicate matches, DWORD milliseconds)
    {
        const ULONGLONG deadline = ::GetTickCount64() + milliseconds;
        for (;;) {
            for (const SimEvent& event : Events()) {
                if (matches(event))
                    return event;
            }
            if (::GetTickCount64() >= deadline || Ended())
                return std::nullopt;
            ::MsgWaitForMultipleObjects(1, &m_process, FALSE, 50, QS_ALLINPUT);
        }
    }

    int ExitCode() const { return m_exitCode; }
    std::string Console() const;

private:
    bool Ended() const { return ::WaitForSingleObject(m_process, 0) == WAIT_OBJECT_0; }

    HANDLE m_process = nullptr;
    int m_exitCode = -1;
    std::string m_jsonPath;
    std::string m_consolePath;
};

// Runs a program of the prefix (regsvr32, for one) to its end; its exit code, or -1.
int RunToEnd(const std::string& commandLine, DWORD milliseconds);
