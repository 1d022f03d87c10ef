// Child processes of the simulator and the reader of its JSON lines.
#include "tests/win/player_sim_driver.h"

#include "tests/win/built_dll.h"
#include "tools/dll_watch/thread_windows.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>

namespace {

class JsonCursor {
public:
    explicit JsonCursor(const std::string& text) : m_text(text) {}

    void Space()
    {
        while (m_pos < m_text.size() && (m_text[m_pos] == ' ' || m_text[m_pos] == '\t'))
            ++m_pos;
    }
    bool Take(char c)
    {
        Space();
        if (m_pos < m_text.size() && m_text[m_pos] == c) {
            ++m_pos;
            return true;
        }
        return false;
    }
    bool Peek(char c)
    {
        Space();
        return m_pos < m_text.size() && m_text[m_pos] == c;
    }
    bool Word(const char* word)
    {
        Space();
        const std::string w(word);
        if (m_text.compare(m_pos, w.size(), w) != 0)
            return false;
        m_pos += w.size();
        return true;
    }
    bool AtEnd()
    {
        Space();
        return m_pos >= m_text.size();
    }

    bool String(std::string& out)
    {
        out.clear();
        if (!Take('"'))
            return false;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
                continue;
            }
            if (m_pos >= m_text.size())
                return false;
            const char e = m_text[m_pos++];
            switch (e) {
            case '"': out += '"'; break;
            case '\\': out += '\\'; break;
            case '/': out += '/'; break;
            case 'n': out += '\n'; break;
            case 'r': out += '\r'; break;
            case 't': out += '\t'; break;
            case 'b': out += '\b'; break;
            case 'f': out += '\f'; break;
            case 'u': {
                if (m_pos + 4 > m_text.size())
                    return false;
                const unsigned long code = std::strtoul(m_text.substr(m_pos, 4).c_str(), nullptr, 16);
                m_pos += 4;
                // Only control characters are written this way; anything else is UTF-8 as is.
                if (code >= 0x80)
                    return false;
                out += static_cast<char>(code);
                break;
            }
            default:
                return false;
            }
        }
        return false;
    }

    bool Number(double& out)
    {
        Space();
        const char* start = m_text.c_str() + m_pos;
        char* end = nullptr;
        out = std::strtod(start, &end);
        if (end == start)
            return false;
        m_pos += static_cast<std::size_t>(end - start);
        return true;
    }

private:
    const std::string& m_text;
    std::size_t m_pos = 0;
};

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
    JsonCursor cursor(line);
    SimEvent event;
    if (!cursor.Take('{'))
        return std::nullopt;
    if (!cursor.Take('}')) {
        do {
            std::string key;
            if (!cursor.String(key) || !cursor.Take(':'))
                return std::nullopt;
            if (cursor.Peek('"')) {
                std::string value;
                if (!cursor.String(value))
                    return std::nullopt;
                event.texts[key] = value;
            } else if (cursor.Take('[')) {
                std::vector<std::string>& list = event.lists[key];
                if (!cursor.Take(']')) {
                    do {
                        std::string value;
                        if (!cursor.String(value))
                            return std::nullopt;
                        list.push_back(value);
                    } while (cursor.Take(','));
                    if (!cursor.Take(']'))
                        return std::nullopt;
                }
            } else if (cursor.Word("true")) {
                event.flags[key] = true;
            } else if (cursor.Word("false")) {
                event.flags[key] = false;
            } else {
                double number = 0;
                if (!cursor.Number(number))
                    return std::nullopt;
                event.numbers[key] = number;
            }
        } while (cursor.Take(','));
        if (!cursor.Take('}'))
            return std::nullopt;
    }
    if (!cursor.AtEnd())
        return std::nullopt;
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
