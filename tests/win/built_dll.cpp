// Finding the built plug-in DLL and its windows from the test that hosts it.
#include "tests/win/built_dll.h"

#include <algorithm>

#include "framework/narrow_text.h"
#include "tools/dll_watch/thread_windows.h"

namespace {

constexpr DWORD kProcessWaitMs = 60000;
constexpr size_t kSegmentLength = 60;
constexpr size_t kWantedLength = 300;

struct process_handle_traits {
    using pointer = HANDLE;
    static constexpr pointer invalid() { return nullptr; }
    static void close(pointer value) { ::CloseHandle(value); }
};
using unique_process_handle = unique_handle<process_handle_traits>;

// Past MAX_PATH the file calls need the long-path prefix.
std::wstring Long(const std::string& path)
{
    return L"\\\\?\\" + WideFromNarrow(path);
}

}  // namespace

std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

HWND NotifierWindow()
{
    for (HWND window = nullptr; (window = ::FindWindowExA(nullptr, window, "Static", "TuneloreWnd")) != nullptr;) {
        DWORD process = 0;
        ::GetWindowThreadProcessId(window, &process);
        if (process == ::GetCurrentProcessId())
            return window;
    }
    return nullptr;
}

HWND OpenMenu()
{
    const std::vector<HWND> menus = ThreadWindowsOfClass(kMenuClass, true);
    return menus.empty() ? nullptr : menus.front();
}

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

DWORD RunRegsvr32(const std::string& options, const std::string& dll)
{
    std::string command = "regsvr32.exe /s " + options + "\"" + dll + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return kNoExitCode;
    const unique_process_handle processHandle(process.hProcess);
    const unique_process_handle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, kProcessWaitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, kNoExitCode);
        return kNoExitCode;
    }
    DWORD exitCode = kNoExitCode;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

HRESULT PluginDll::Call(const char* exportName) const
{
    using Export = HRESULT(STDAPICALLTYPE*)();
    const auto function = reinterpret_cast<Export>(::GetProcAddress(m_module.get(), exportName));
    return function != nullptr ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
}

DeepCopy::DeepCopy(const std::string& dllPath)
{
    const std::string base = dllPath.substr(0, dllPath.rfind('\\')) + "\\registration-deep";
    std::string directory = base;
    m_directories.push_back(directory);
    for (char letter = 'a'; directory.size() + sizeof "\\Tunelore-WMP.dll" <= kWantedLength; ++letter) {
        directory += "\\" + std::string(kSegmentLength, letter);
        m_directories.push_back(directory);
    }
    m_path = directory + "\\Tunelore-WMP.dll";
    for (const std::string& created : m_directories) {
        if (!::CreateDirectoryW(Long(created).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
            return;
    }
    m_copied = ::CopyFileW(Long(dllPath).c_str(), Long(m_path).c_str(), FALSE) != FALSE;
}

DeepCopy::~DeepCopy()
{
    ::DeleteFileW(Long(m_path).c_str());
    for (auto it = m_directories.rbegin(); it != m_directories.rend(); ++it)
        ::RemoveDirectoryW(Long(*it).c_str());
}

std::wstring DeepCopy::widePath() const
{
    return WideFromNarrow(m_path);
}
