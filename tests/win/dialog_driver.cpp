// The timer-driven dialog driver and its window look-ups.
#include "tests/win/dialog_driver.h"

#include "framework/module.h"
#include "res/resource.h"
#include "tools/dll_watch/thread_windows.h"

namespace {

constexpr UINT kTickMs = 20;
// Ends dialogs that a failed run left open.
constexpr INT_PTR kAbandoned = 0x7A7A;

BOOL CALLBACK FindMessageText(HWND child, LPARAM lParam)
{
    char className[32] = {};
    ::GetClassNameA(child, className, sizeof(className));
    if (::lstrcmpiA(className, "Static") != 0)
        return TRUE;
    char text[1024] = {};
    ::GetWindowTextA(child, text, sizeof(text));
    if (text[0] == '\0')
        return TRUE;  // the icon
    *reinterpret_cast<std::string*>(lParam) = text;
    return FALSE;
}

}  // namespace

DialogDriver* DialogDriver::s_active = nullptr;

DialogDriver::DialogDriver(std::vector<Step> steps, DWORD limitMs)
    : m_steps(std::move(steps)), m_deadline(::GetTickCount64() + limitMs)
{
    s_active = this;
    m_timer = ::SetTimer(nullptr, 0, kTickMs, &DialogDriver::OnTimer);
}

DialogDriver::~DialogDriver()
{
    ::KillTimer(nullptr, m_timer);
    s_active = nullptr;
}

std::string DialogDriver::Outcome() const
{
    std::string outcome = "ran " + std::to_string(m_next) + " of " + std::to_string(m_steps.size()) + " steps";
    if (m_timedOut)
        outcome += ", then timed out";
    return outcome;
}

void CALLBACK DialogDriver::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (s_active != nullptr)
        s_active->Tick();
}

void DialogDriver::Tick()
{
    if (m_timedOut || ::GetTickCount64() > m_deadline) {
        m_timedOut = true;
        EndEveryDialog();
        return;
    }
    // A step that wrongly opened a modal loop keeps ticking from inside it: only the time
    // limit may act then.
    if (m_inStep)
        return;
    AnswerMessageBox();
    if (m_next < m_steps.size()) {
        m_inStep = true;
        if (m_steps[m_next]())
            ++m_next;
        m_inStep = false;
    }
}

void DialogDriver::AnswerMessageBox()
{
    const HWND box = FindDialog(LoadStringResource(IDS_APP_NAME).c_str());
    // The posted click takes a moment to close the box: answer each box once.
    if (box == nullptr)
        m_answeredBox = nullptr;
    if (box == nullptr || box == m_answeredBox)
        return;
    std::string text;
    ::EnumChildWindows(box, &FindMessageText, reinterpret_cast<LPARAM>(&text));
    messages.push_back(text);
    m_answeredBox = box;
    PostClick(box, IDOK);
}

void DialogDriver::EndEveryDialog()
{
    for (HWND dialog : ThreadDialogs(nullptr))
        ::EndDialog(dialog, kAbandoned);
}

HWND FindDialog(const char* caption)
{
    const std::vector<HWND> found = ThreadDialogs(caption);
    return found.empty() ? nullptr : found.front();
}

int CountDialogs(const char* caption)
{
    return static_cast<int>(ThreadDialogs(caption).size());
}

std::string ItemText(HWND dialog, int id)
{
    char text[1024] = {};
    ::GetDlgItemTextA(dialog, id, text, sizeof(text));
    return text;
}

void PostClick(HWND dialog, int id)
{
    ::PostMessageA(::GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}
