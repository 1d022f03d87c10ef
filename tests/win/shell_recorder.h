// Seams for the notifier's tests: a shell that records instead of calling, a clock the test
// sets, and a fixture base that installs both and leaves the settings record as it found it.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "framework/clock.h"
#include "framework/shell.h"
#include "settings/settings.h"
#include "tools/dll_watch/dll_watch.h"

class ShellRecorder : public IShell {
public:
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA* data) override;
    void Open(const std::string& address) override;

    std::vector<NotifyIconCall> notifications;
    std::vector<std::string> opened;
    // Runs after each notification is recorded: lets a test look at state at that moment.
    std::function<void(const NotifyIconCall&)> onNotify;
};

// The moment CurrentTime() reports while a ShellAndClockTest runs, and how often it was asked.
namespace test_clock {
void Set(std::int64_t now);
std::int64_t Now();
int Reads();
}  // namespace test_clock

class ShellAndClockTest : public ::testing::Test {
protected:
    // 2100-01-01 00:00:00 UTC: past the signed 32-bit range, so a moment cut to 32 bits shows.
    static constexpr std::int64_t kStart = 4102444800;

    void SetUp() override;
    void TearDown() override;

    ShellRecorder m_shell;

private:
    IShell* m_previousShell = nullptr;
    ClockSource m_previousClock = nullptr;
    Settings m_previousSettings{};
};

// Dispatches this thread's messages until done() holds or the time is up; true if done() held.
bool PumpMessagesUntil(DWORD milliseconds, const std::function<bool()>& done);
void PumpMessagesFor(DWORD milliseconds);
