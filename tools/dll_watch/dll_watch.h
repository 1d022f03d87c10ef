// Watching a DLL from the process that hosts it: the host loads the DLL through DllWatch, which
// rewrites the DLL's import-address-table entries for the shell calls before the DLL's entry
// point runs, so every call the DLL makes to them, from its start-up to its exit, is recorded
// with its moment and then passed on to the real function. Nothing in the DLL is changed but
// those table entries; the DLL needs no code of its own for being watched.
#pragma once

#include <windows.h>
#include <shellapi.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <variant>
#include <vector>

// Which of the module's two tray pictures an icon handle shows, told by its image bits.
enum class IconPicture {
    None,   // no icon handle
    Found,  // icon resource 2007
    Idle,   // icon resource 2008
    Other,  // any other picture, or one that could not be read
};

// Shell_NotifyIconA: the message and the fields of the record that the shell reads. The one
// record of a tray-icon call, for a watched DLL and for the in-process shell seam alike.
struct NotifyIconCall {
    DWORD message = 0;
    bool hasData = false;  // false when the record pointer was null; the fields are then zero
    DWORD cbSize = 0;
    HWND hWnd = nullptr;
    UINT uID = 0;
    UINT uFlags = 0;
    UINT uCallbackMessage = 0;
    HICON hIcon = nullptr;
    IconPicture icon = IconPicture::None;  // identified at the time of the call, by a watch
    std::string szTip;
    std::string szInfo;
    UINT uTimeout = 0;
    std::string szInfoTitle;
    DWORD dwInfoFlags = 0;
};

// The call as the shell reads it: only as much of the record as its size says, the rest zero,
// each text up to its end or its field's. The picture is left for a watch to identify.
NotifyIconCall ReadNotifyIconCall(DWORD message, const NOTIFYICONDATAA* data);

// ShellExecuteA: its arguments; a null text argument is nullopt.
struct ShellExecuteCall {
    HWND owner = nullptr;
    std::optional<std::string> verb;
    std::optional<std::string> file;
    std::optional<std::string> parameters;
    std::optional<std::string> directory;
    INT show = 0;
};

struct WatchedCall {
    std::chrono::steady_clock::time_point when;
    std::variant<NotifyIconCall, ShellExecuteCall> call;

    const NotifyIconCall* notifyIcon() const { return std::get_if<NotifyIconCall>(&call); }
    const ShellExecuteCall* shellExecute() const { return std::get_if<ShellExecuteCall>(&call); }
};

// The import-address-table entries through which a module calls dll's function. The table
// is the only place a host can redirect a module's calls from outside.
std::vector<void**> ImportSlots(HMODULE module, const char* dll, const char* function);
// Points an import slot at function; what the slot held, or null when it could not be written.
void* PatchImportSlot(void** slot, void* function);

struct DllWatchOptions {
    // Off, an address the DLL opens is only recorded: a test must not start a browser.
    bool forwardShellExecute = true;
};

class DllWatch {
public:
    using Callback = std::function<void(const WatchedCall&)>;

    // Loads the DLL at path (a Windows path) watched from before its entry point runs. Null when
    // it cannot be loaded, when it is loaded in the process already (its start-up would go
    // unseen), or while another DllWatch lives: the replacement functions serve one at a time.
    static std::unique_ptr<DllWatch> Load(const std::string& path, const DllWatchOptions& options = {});

    DllWatch(const DllWatch&) = delete;
    DllWatch& operator=(const DllWatch&) = delete;
    // Unloads the DLL if Unload has not; a DLL that stays loaded through other references gets
    // its table entries back.
    ~DllWatch();

    // Null once unloaded.
    HMODULE Module() const { return m_loaded ? m_module : nullptr; }
    // Whether the table was rewritten before the entry point ran, so that the start-up's calls
    // are among the events. False only on a loader without load notifications.
    bool WatchedFromStart() const { return m_watchedFromStart; }

    // Releases the load, which runs the DLL's exit (its calls are recorded too). True when the
    // module is gone from the process afterwards.
    bool Unload();

    // The calls so far, oldest first.
    std::vector<WatchedCall> Events() const;
    // The recorded calls of one kind, NotifyIconCall or ShellExecuteCall, in order.
    template <typename Call>
    std::vector<Call> CallsOf() const
    {
        std::vector<Call> calls;
        for (const WatchedCall& event : Events()) {
            if (const Call* call = std::get_if<Call>(&event.call))
                calls.push_back(*call);
        }
        return calls;
    }
    void ClearEvents();
    // Called on the calling thread after each call is recorded and before it is passed on.
    void SetCallback(Callback callback);

    // The picture an icon handle shows, compared with the module's icons at the icon's size.
    IconPicture Identify(HICON icon);

private:
    struct PatchedSlot {
        void** slot;
        void* original;
    };
    struct IconBits {
        std::vector<std::uint8_t> color;
        std::vector<std::uint8_t> mask;
        bool operator==(const IconBits& other) const { return color == other.color && mask == other.mask; }
    };
    struct ReferencePictures {
        std::optional<IconBits> found;
        std::optional<IconBits> idle;
    };

    explicit DllWatch(const DllWatchOptions& options) : m_options(options) {}

    static void CALLBACK OnLoaderNotification(ULONG reason, const void* data, void* context);
    static BOOL WINAPI NotifyIconHook(DWORD message, PNOTIFYICONDATAA data);
    static HINSTANCE WINAPI ShellExecuteHook(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters,
                                             LPCSTR directory, INT show);

    void PatchImports(HMODULE module);
    void RestoreImports();
    void Record(WatchedCall call);
    static std::optional<IconBits> ReadIcon(HICON icon, SIZE& size);
    const ReferencePictures& ReferencesAt(SIZE size);

    DllWatchOptions m_options;
    std::wstring m_baseName;
    HMODULE m_module = nullptr;
    bool m_loaded = false;
    bool m_watchedFromStart = false;
    std::vector<PatchedSlot> m_patched;

    mutable std::mutex m_eventsLock;
    std::vector<WatchedCall> m_events;
    Callback m_callback;

    // The module's two pictures at each icon size met so far.
    std::map<std::pair<LONG, LONG>, ReferencePictures> m_references;
    const ReferencePictures m_noReferences{};
};
