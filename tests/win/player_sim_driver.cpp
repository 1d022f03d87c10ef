// Child processes of the simulator and the reader of its JSON lines.
#include "tests/win/player_sim_driver.h"

#include "tests/win/built_dll.h"
#include "tools/dll_watch/thread_windows.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <utility>

namespace {

// Waits for a process while this thread keeps taking its messages; false at the deadline.
bool WaitForProcess(HANDLE process, DWORD milliseconds)
{
    return PumpUntil([process] { return ::WaitForSingleObject(process, 0) == WAIT_OBJECT_0; }, milliseconds, 100,
                     process);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
}

}  // namespace

std::string SimEvent::Text(const std::string& key) const
{
    const auto found = texts.find(key);
    return found == texts.end() ? std::string() : found->second;
}

double SimEvent::Number(const std::string& key) const
{
    const auto found = numbers.find(key);
    return found == numbers.end() ? -1 : found->second;
}

bool SimEvent::Flag(const std::string& key) const
{
    const auto found = flags.find(key);
    return found != flags.end() && found->second;
}

std::vector<std::string> SimEvent::List(const std::string& key) const
{
    const auto found = lists.find(key);
    return found == lists.end() ? std::vector<std::string>() : found->second;
}

std::optional<SimEvent> ParseSimEvent(const std::string& line)
{
    std::optional<JsonMembers> members = ReadJsonLine(line);
    if (!members)
        return std::nullopt;
    SimEvent event;
    static_cast<JsonMembers&>(event) = std::move(*members);
    event.t = event.Number("t");
    event.event = event.Text("event");
    event.polls = static_cast<int>(event.Number("polls"));
    return event;
}

std::vector<SimEvent> ReadSimTranscript(const std::string& path)
{
    const std::string text = ReadFile(path);
    std::vector<SimEvent> events;
    std::size_t start = 0;
    // A line without its line break is still being written.
    for (std::size_t end; (end = text.find('\n', start)) != std::string::npos; start = end + 1) {
        const std::string line = text.substr(start, end - start);
        if (std::optional<SimEvent> event = ParseSimEvent(line)) {
            events.push_back(*event);
        } else {
            SimEvent unreadable;
            unreadable.event = "unreadable";
            unreadable.texts["text"] = line;
            events.push_back(unreadable);
        }
    }
    return events;
}

std::vector<SimEvent> EventsOf(const std::vector<SimEvent>& events, const std::string& kind)
{
    std::vector<SimEvent> found;
    std::copy_if(events.begin(), events.end(), std::back_inserter(found),
                 [&](const SimEvent& event) { return event.event == kind; });
    return found;
}

std::string TemporaryFile(const char* prefix)
{
    char folder[MAX_PATH] = {};
    char file[MAX_PATH] = {};
    ::GetTempPathA(MAX_PATH, folder);
    ::GetTempFileNameA(folder, prefix, 0, file);
    return file;
}

SimulatorProcess::~SimulatorProcess()
{
    if (m_process) {
        if (!Ended())
            ::TerminateProcess(m_process, 1);
        ::CloseHandle(m_process);
    }
    if (!m_jsonPath.empty())
        ::DeleteFileA(m_jsonPath.c_str());
    if (!m_consolePath.empty())
        ::DeleteFileA(m_consolePath.c_str());
}

bool SimulatorProcess::Start(const std::vector<std::string>& arguments)
{
    m_jsonPath = TemporaryFile("sim");
    m_consolePath = TemporaryFile("con");
    std::string command = "\"" + WindowsPath(TUNELORE_PLAYER_SIM_PATH) + "\" --json \"" + m_jsonPath + "\"";
    for (const std::string& argument : arguments)
        command += " \"" + argument + "\"";

    SECURITY_ATTRIBUTES inheritable{sizeof(inheritable), nullptr, TRUE};
    const HANDLE console = ::CreateFileA(m_consolePath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                         &inheritable, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (console == INVALID_HANDLE_VALUE)
        return false;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdInput = nullptr;
    startup.hStdOutput = console;
    startup.hStdError = console;
    PROCESS_INFORMATION process{};
    const BOOL started =
        ::CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process);
    ::CloseHandle(console);
    if (!started)
        return false;
    ::CloseHandle(process.hThread);
    m_process = process.hProcess;
    return true;
}

bool SimulatorProcess::Wait(DWORD milliseconds)
{
    if (!m_process)
        return false;
    if (!WaitForProcess(m_process, milliseconds)) {
        ::TerminateProcess(m_process, 1);
        ::WaitForSingleObject(m_process, 5000);
        return false;
    }
    DWORD code = 0;
    ::GetExitCodeProcess(m_process, &code);
    m_exitCode = static_cast<int>(code);
    return true;
}

std::string SimulatorProcess::Console() const
{
    return ReadFile(m_consolePath);
}

int RunToEnd(const std::string& commandLine, DWORD milliseconds)
{
    std::string command = commandLine;
    STARTUPINFOA startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return -1;
    ::CloseHandle(process.hThread);
    DWORD code = static_cast<DWORD>(-1);
    if (WaitForProcess(process.hProcess, milliseconds))
        ::GetExitCodeProcess(process.hProcess, &code);
    else
        ::TerminateProcess(process.hProcess, 1);
    ::CloseHandle(process.hProcess);
    return static_cast<int>(code);
}
