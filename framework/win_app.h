// The application object's base: what the plug-in needs of a class framework's application
// object. It holds the application name and the maker key, and opens the per-user registry
// sections below HKEY_CURRENT_USER\software\<maker key>\<application name>.
#pragma once

#include <windows.h>

#include <string>

#include "framework/unique_handle.h"

class CWinApp {
public:
    CWinApp() = default;
    virtual ~CWinApp() = default;
    CWinApp(const CWinApp&) = delete;
    CWinApp& operator=(const CWinApp&) = delete;

    // Start-up and exit of the module. The base has nothing to set up: start-up succeeds and
    // exit answers 0.
    virtual BOOL InitInstance();
    virtual int ExitInstance();

    // From here on the per-user settings live under the given maker key.
    void SetRegistryKey(const char* makerKey);

    // Opens the section key with read and write access, creating the path down to it when it
    // is missing. Empty when any step fails, or while the maker key or the application name
    // is unset: the section must never land on a shorter path.
    unique_hkey GetSectionKey(const char* section) const;

    // Set by the derived object before it reads its settings. The framework's name is kept,
    // but this base owns its copy of the text.
    std::string m_pszAppName;

private:
    std::string m_strRegistryKey;
};
