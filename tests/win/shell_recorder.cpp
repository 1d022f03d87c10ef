// The recording shell, the test clock and the fixture base that installs them.
#include "tests/win/shell_recorder.h"

#include "tools/dll_watch/thread_windows.h"

namespace {

std::int64_t g_now = 0;
int g_reads = 0;

std::int64_t TestNow()
{
    ++g_reads;
    return g_now;
}

}  // namespace

BOOL ShellRecorder::NotifyIcon(DWORD message, NOTIFYICONDATAA* data)
{
    notifications.push_back(ReadNotifyIconCall(message, data));
    if (onNotify)
        onNotify(notifications.back());
    // The answer of a desktop without a notification area; the window must not care.
    return FALSE;
}

void ShellRecorder::Open(const std::string& address)
{
    opened.push_back(address);
}

namespace test_clock {

void Set(std::int64_t now)
{
    g_now = now;
}

std::int64_t Now()
{
    return g_now;
}

int Reads()
{
    return g_reads;
}

}  // namespace test_clock

void ShellAndClockTest::SetUp()
{
    m_previousShell = SetShell(&m_shell);
    test_clock::Set(kStart);
    m_previousClock = SetClockSource(&TestNow);
    m_previousSettings = GetSettings();
    // The stored defaults, except that the update check stays away from the network.
    GetSettings() = Settings{1, 0, 1, 5, 7};
}

void ShellAndClockTest::TearDown()
{
    GetSettings() = m_previousSettings;
    SetClockSource(m_previousClock);
    SetShell(m_previousShell);
}

bool PumpMessagesUntil(DWORD milliseconds, const std::function<bool()>& done)
{
    return PumpUntil(done, milliseconds);
}

void PumpMessagesFor(DWORD milliseconds)
{
    PumpMessagesUntil(milliseconds, nullptr);
}
