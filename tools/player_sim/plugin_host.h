// The player's hold on one UI plug-in: finding it (registered, or a DLL given by path), loading
// its DLL watched from before its start-up, creating the plug-in object, handing it the core,
// asking for its property page, and at the end taking the core away, releasing the object and
// unloading the DLL.
#pragma once

#include "plugin/player_interface.h"
#include "tools/dll_watch/dll_watch.h"
#include "tools/dll_watch/hosted_plugin.h"
#include "tools/player_sim/transcript.h"

#include <functional>
#include <memory>
#include <string>

class PluginHost {
public:
    // Every shell call of the plug-in's DLL, from its start-up on, is handed to onShellCall.
    PluginHost(Transcript& transcript, DllWatchOptions watchOptions,
               std::function<void(const WatchedCall&)> onShellCall);
    ~PluginHost();
    PluginHost(const PluginHost&) = delete;
    PluginHost& operator=(const PluginHost&) = delete;

    // As the player does after registration: the class from the player's UI plug-in key, its
    // DLL from the class registration, the object from CoCreateInstance. COM must be started.
    bool LoadRegistered(const std::string& classId);
    // An unregistered try: the DLL at path, the object from its own class factory.
    bool LoadFromPath(const std::string& path, const std::string& classId);

    HMODULE Module() const { return m_hosted ? m_hosted->Module() : nullptr; }

    // SetCore with the player's core, then Create with the player's window.
    void Start(IWMPCore* core, HWND playerWindow);
    // DisplayPropertyPage; returns when the plug-in does, which may be after a modal dialog.
    void ShowPropertyPage(HWND playerWindow);
    // SetCore with none, Destroy, the last release, and the unload of the DLL.
    void Finish();

    // The registered UI plug-ins as the transcript shows them, with their texts read from the
    // loaded DLL where they point into it.
    void ReportRegisteredPlugins(const char* event);

private:
    bool Watch(const std::string& path);
    bool CreateObject(const std::string& classId, bool throughCom);

    Transcript& m_transcript;
    DllWatchOptions m_watchOptions;
    std::function<void(const WatchedCall&)> m_onShellCall;
    std::unique_ptr<HostedPlugin> m_hosted;
};
