// The real shell calls, and the switch that lets tests record them instead.
#include "framework/shell.h"

namespace {

class SystemShell : public IShell {
public:
    BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA* data) override { return ::Shell_NotifyIconA(message, data); }

    void Open(const std::string& address) override
    {
        ::ShellExecuteA(nullptr, nullptr, address.c_str(), nullptr, nullptr, SW_SHOW);
    }
};

SystemShell g_systemShell;
IShell* g_shell = &g_systemShell;

}  // namespace

IShell& Shell()
{
    return *g_shell;
}

IShell* SetShell(IShell* shell)
{
    IShell* previous = g_shell;
    g_shell = shell ? shell : &g_systemShell;
    return previous;
}
