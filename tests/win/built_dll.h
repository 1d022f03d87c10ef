// What the tests that host the built plug-in DLL look for from outside it: the DLL's own
// path, its notifier window and a menu it tracks.
#pragma once

#include <windows.h>

#include <string>

// The build tree is on the Unix side, which Wine shows as drive Z:.
std::string WindowsPathOf(const std::string& unixPath);

#ifdef TUNELORE_DLL_PATH
inline std::string DllPath()
{
    return WindowsPathOf(TUNELORE_DLL_PATH);
}
#endif

// The notifier window of this process: other test programs in the prefix may have their own.
HWND NotifierWindow();

// The tracked menu's own window, while a menu of this thread is open.
HWND OpenMenu();
