// What the tests that host the built plug-in DLL look for from outside it: the DLL's own
// path, its notifier window and a menu it tracks; and the DLL loaded or registered as a
// registration tool does it.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "framework/unique_handle.h"

// The build tree is on the Unix side, which Wine shows as drive Z:.
std::string WindowsPath(const std::string& unixPath);

#ifdef TUNELORE_DLL_PATH
inline std::string DllPath()
{
    return WindowsPath(TUNELORE_DLL_PATH);
}
#endif

// The notifier window of this process: other test programs in the prefix may have their own.
HWND NotifierWindow();

// The tracked menu's own window, while a menu of this thread is open.
HWND OpenMenu();

// The path Windows reports for a loaded module; empty when it does not fit MAX_PATH.
std::string ModulePath(HMODULE module);

// The real regsvr32 of the prefix, silent, as a child process; its exit code, or kNoExitCode
// when it could not be started or did not end in time.
constexpr DWORD kNoExitCode = 0xFFFFFFFF;
DWORD RunRegsvr32(const std::string& options, const std::string& dll);

// The DLL loaded into this process, as a registration tool loads it.
class PluginDll {
public:
    explicit PluginDll(const std::string& path) : m_module(::LoadLibraryA(path.c_str())) {}
    // The narrow loader stops at MAX_PATH; a longer path needs the wide one.
    explicit PluginDll(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str())) {}

    explicit operator bool() const { return static_cast<bool>(m_module); }
    std::string Path() const { return ModulePath(m_module.get()); }

    HRESULT Call(const char* exportName) const;
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }

private:
    unique_hmodule m_module;
};

// A copy of the DLL deep enough below the build tree that its full path passes 259 characters.
class DeepCopy {
public:
    explicit DeepCopy(const std::string& dllPath);
    ~DeepCopy();
    DeepCopy(const DeepCopy&) = delete;
    DeepCopy& operator=(const DeepCopy&) = delete;

    bool copied() const { return m_copied; }
    const std::string& path() const { return m_path; }
    std::wstring widePath() const;

private:
    std::vector<std::string> m_directories;
    std::string m_path;
    bool m_copied = false;
};
