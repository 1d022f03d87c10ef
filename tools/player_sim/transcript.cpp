// Writing the transcript: console lines in the console's own way, JSON lines flushed one by one
// so that a reader sees each event as it happens.
#include "tools/player_sim/transcript.h"

#include "tools/player_sim/text.h"

#include <windows.h>

#include <cstdio>

Transcript::Transcript(bool console) : m_start(Clock::now()), m_console(console)
{
    DWORD mode = 0;
    m_consoleIsTerminal = ::GetConsoleMode(::GetStdHandle(STD_OUTPUT_HANDLE), &mode) != 0;
}

Transcript::~Transcript()
{
    if (m_json)
        std::fclose(m_json);
}

bool Transcript::WriteJsonTo(const std::string& path)
{
    if (m_json)
        std::fclose(m_json);
    m_json = std::fopen(AnsiFromUtf8(path).c_str(), "wb");
    return m_json != nullptr;
}

double Transcript::Seconds(Clock::time_point when) const
{
    return std::chrono::duration<double>(when - m_start).count();
}

void Transcript::Add(std::string_view area, std::string_view event, const std::string& text, const JsonLine& fields,
                     Clock::time_point when)
{
    const double seconds = Seconds(when);
    if (m_console) {
        char stamp[32];
        std::snprintf(stamp, sizeof stamp, "%8.3f  ", seconds);
        std::string line = stamp;
        line += area;
        line.append(area.size() < 8 ? 8 - area.size() : 1, ' ');
        line += text;
        line += "\n";
        WriteToConsole(line);
    }
    if (m_json) {
        JsonLine json;
        json.Seconds("t", seconds).Str("event", event).Int("polls", m_polls ? m_polls() : 0).Merge(fields);
        const std::string line = json.Text() + "\n";
        std::fwrite(line.data(), 1, line.size(), m_json);
        std::fflush(m_json);
    }
}

void Transcript::Error(const std::string& text)
{
    ++m_errors;
    Add("error", "error", text, JsonLine().Str("text", text));
}

void Transcript::WriteToConsole(const std::string& line)
{
    const HANDLE out = ::GetStdHandle(STD_OUTPUT_HANDLE);
    if (m_consoleIsTerminal) {
        // The console shows wide text in any code page.
        const std::wstring wide = WideFromUtf8(line);
        DWORD written = 0;
        ::WriteConsoleW(out, wide.data(), static_cast<DWORD>(wide.size()), &written, nullptr);
        return;
    }
    DWORD written = 0;
    ::WriteFile(out, line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}
