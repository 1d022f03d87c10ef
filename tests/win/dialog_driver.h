// Drives the plug-in's modal dialogs from inside their own message loops: a thread timer on
// the test's thread runs a list of steps, one tick at a time, while the code under test sits
// in DialogBox or MessageBox. Message boxes captioned with the application name are read and
// answered as they appear. Clicks are posted, never sent: a sent click would run the next
// modal loop inside the timer.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

class DialogDriver {
public:
    // A step returns true when it is done; false runs it again at the next tick.
    using Step = std::function<bool()>;

    // Starts ticking at once. After the time limit every dialog of the thread is ended, so a
    // test that goes wrong fails instead of hanging.
    explicit DialogDriver(std::vector<Step> steps, DWORD limitMs = 10000);
    ~DialogDriver();
    DialogDriver(const DialogDriver&) = delete;
    DialogDriver& operator=(const DialogDriver&) = delete;

    // Every step ran and the time limit was never reached.
    bool Completed() const { return m_next == m_steps.size() && !m_timedOut; }
    // Where the run stopped, for failure messages.
    std::string Outcome() const;

    // Texts of the message boxes seen, in order; each was answered with OK.
    std::vector<std::string> messages;

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void AnswerMessageBox();
    void EndEveryDialog();

    std::vector<Step> m_steps;
    std::size_t m_next = 0;
    ULONGLONG m_deadline;
    bool m_timedOut = false;
    bool m_inStep = false;
    HWND m_answeredBox = nullptr;
    UINT_PTR m_timer = 0;

    static DialogDriver* s_active;
};

// A top-level dialog of this thread with the given caption, or null.
HWND FindDialog(const char* caption);
// How many top-level dialogs of this thread carry the caption.
int CountDialogs(const char* caption);
std::string ItemText(HWND dialog, int id);
void PostClick(HWND dialog, int id);
