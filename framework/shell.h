// The two shell calls through which the plug-in shows itself: the notification-area icon and
// opening an address with its default handler. Tests put a recorder in their place; the
// shipped DLL binds the real calls.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <string>

class IShell {
public:
    virtual BOOL NotifyIcon(DWORD message, NOTIFYICONDATAA* data) = 0;
    // No owner window, default verb, no parameters, no directory, SW_SHOW.
    virtual void Open(const std::string& address) = 0;
    virtual ~IShell() = default;
};

IShell& Shell();

// Replaces the shell (nullptr restores the real one) and returns the previous one.
IShell* SetShell(IShell* shell);
