// Loading and holding the plug-in. For a registered plug-in the DLL is loaded first, watched,
// from the path its class registration names, and only then created through COM: COM loads
// the same path, finds the module already in the process and uses it, so every call the DLL
// makes from its start-up on is seen, and the object still comes the way the player gets it.
#include "tools/player_sim/plugin_host.h"

#include "framework/unique_handle.h"
#include "tools/player_sim/text.h"
#include "tools/player_sim/ui_plugin_registry.h"

#include <olectl.h>

#include <utility>

namespace {

bool ClassFromText(const std::string& text, CLSID& clsid)
{
    std::wstring wide = WideFromUtf8(text);
    return SUCCEEDED(::CLSIDFromString(wide.data(), &clsid));
}

std::string ResultText(HRESULT hr)
{
    switch (hr) {
    case S_OK: return "S_OK";
    case S_FALSE: return "S_FALSE";
    case E_NOTIMPL: return "E_NOTIMPL";
    case E_NOINTERFACE: return "E_NOINTERFACE";
    case E_POINTER: return "E_POINTER";
    case CONNECT_E_CANNOTCONNECT: return "CONNECT_E_CANNOTCONNECT";
    case CLASS_E_CLASSNOTAVAILABLE: return "CLASS_E_CLASSNOTAVAILABLE";
    case REGDB_E_CLASSNOTREG: return "REGDB_E_CLASSNOTREG";
    default: return HresultText(hr);
    }
}

}  // namespace

PluginHost::PluginHost(Transcript& transcript, DllWatchOptions watchOptions,
                       std::function<void(const WatchedCall&)> onShellCall)
    : m_transcript(transcript), m_watchOptions(watchOptions), m_onShellCall(std::move(onShellCall))
{
}

PluginHost::~PluginHost()
{
    Finish();
}

bool PluginHost::Watch(const std::string& path)
{
    m_transcript.Add("player", "load", "loads " + path, JsonLine().Str("path", path));
    m_hosted = HostedPlugin::Load(AnsiFromUtf8(path), m_watchOptions);
    if (!m_hosted) {
        m_transcript.Error("cannot load " + path);
        return false;
    }
    DllWatch& watch = m_hosted->Watch();
    if (!watch.WatchedFromStart())
        m_transcript.Add("player", "load-unwatched", "the DLL's start-up went unseen: its first icon calls are missing",
                         JsonLine());
    // The start-up's calls happened inside the load; they are told now, at their own moments.
    for (const WatchedCall& call : watch.Events())
        m_onShellCall(call);
    watch.SetCallback(m_onShellCall);
    return true;
}

bool PluginHost::LoadRegistered(const std::string& classId)
{
    bool listed = false;
    for (const UiPluginEntry& entry : ReadUiPlugins())
        listed = listed || ::lstrcmpiA(entry.classId.c_str(), classId.c_str()) == 0;
    if (!listed) {
        m_transcript.Error("no UI plug-in " + classId + " is registered with the player");
        ReportRegisteredPlugins("ui-plugins");
        return false;
    }
    const std::optional<ClassRegistration> registration = ReadClassRegistration(classId);
    if (!registration) {
        m_transcript.Error("the class " + classId + " has no in-process server registered");
        return false;
    }
    const std::string path = Utf8FromAnsi(registration->inprocServer);
    m_transcript.Add("player", "class", classId + " is served by " + path + ", threading model " +
                                            (registration->threadingModel.empty() ? "none" : registration->threadingModel),
                     JsonLine().Str("clsid", classId).Str("path", path).Str("threadingModel", registration->threadingModel));
    if (!Watch(path))
        return false;
    ReportRegisteredPlugins("ui-plugins");
    return CreateObject(classId, true);
}

bool PluginHost::LoadFromPath(const std::string& path, const std::string& classId)
{
    return Watch(path) && CreateObject(classId, false);
}

bool PluginHost::CreateObject(const std::string& classId, bool throughCom)
{
    CLSID clsid{};
    if (!ClassFromText(classId, clsid)) {
        m_transcript.Error("not a class id: " + classId);
        return false;
    }
    const HRESULT hr = throughCom ? m_hosted->CreateThroughCom(clsid) : m_hosted->CreateFromFactory(clsid);
    // The player makes one object and keeps no factory.
    m_hosted->ReleaseFactory();
    const std::string how = throughCom ? "CoCreateInstance" : "the DLL's class factory";
    m_transcript.Add("player", "create", "creates " + classId + " through " + how + ": " + ResultText(hr),
                     JsonLine().Str("clsid", classId).Str("through", throughCom ? "com" : "dll").Str("result", HresultText(hr)));
    if (FAILED(hr) || !m_hosted->Plugin()) {
        m_hosted->ReleasePlugin();
        m_transcript.Error("the plug-in object could not be created");
        return false;
    }
    if (!m_hosted->ObjectFromWatchedModule()) {
        m_transcript.Error("the plug-in object does not come from the watched DLL");
        return false;
    }
    return true;
}

void PluginHost::Start(IWMPCore* core, HWND playerWindow)
{
    IWMPPluginUI* const plugin = m_hosted ? m_hosted->Plugin() : nullptr;
    if (!plugin)
        return;
    const HRESULT setCore = m_hosted->HandCore(core);
    std::string note;
    if (setCore == CONNECT_E_CANNOTCONNECT)
        note = " (the player takes only sinks that serve its events; the plug-in follows it by polling)";
    m_transcript.Add("player", "plugin-call", "SetCore(core): " + ResultText(setCore) + note,
                     JsonLine().Str("call", "SetCore").Str("result", HresultText(setCore)));
    HWND window = nullptr;
    const HRESULT create = plugin->Create(playerWindow, &window);
    m_transcript.Add("player", "plugin-call",
                     "Create(player window): " + ResultText(create) + (window ? ", with a window" : ", no window"),
                     JsonLine().Str("call", "Create").Str("result", HresultText(create)).Bool("window", window != nullptr));
}

void PluginHost::ShowPropertyPage(HWND playerWindow)
{
    if (!m_hosted || !m_hosted->Plugin())
        return;
    m_transcript.Add("player", "plugin-call", "DisplayPropertyPage(player window)",
                     JsonLine().Str("call", "DisplayPropertyPage"));
    // Held: the dialog's loop may reach the end of the run before this returns.
    const com_ptr<IWMPPluginUI> plugin(m_hosted->Plugin());
    const HRESULT hr = plugin->DisplayPropertyPage(playerWindow);
    m_transcript.Add("player", "plugin-call", "DisplayPropertyPage returned " + ResultText(hr),
                     JsonLine().Str("call", "DisplayPropertyPage returned").Str("result", HresultText(hr)));
}

void PluginHost::Finish()
{
    if (!m_hosted)
        return;
    if (IWMPPluginUI* const plugin = m_hosted->Plugin()) {
        const HRESULT setCore = m_hosted->TakeCore();
        m_transcript.Add("player", "plugin-call", "SetCore(none): " + ResultText(setCore),
                         JsonLine().Str("call", "SetCore(none)").Str("result", HresultText(setCore)));
        const HRESULT destroy = plugin->Destroy();
        m_transcript.Add("player", "plugin-call", "Destroy: " + ResultText(destroy),
                         JsonLine().Str("call", "Destroy").Str("result", HresultText(destroy)));
        m_hosted->ReleasePlugin();
        m_transcript.Add("player", "plugin-call", "releases the plug-in object", JsonLine().Str("call", "Release"));
    }
    if (m_hosted->Module()) {
        const HRESULT canUnload = m_hosted->CanUnloadNow();
        m_transcript.Add("player", "plugin-call", "DllCanUnloadNow: " + ResultText(canUnload),
                         JsonLine().Str("call", "DllCanUnloadNow").Str("result", HresultText(canUnload)));
        const bool unloaded = m_hosted->Unload();
        m_transcript.Add("player", "unload", unloaded ? "unloaded the plug-in's DLL" : "the plug-in's DLL stays loaded",
                         JsonLine().Bool("unloaded", unloaded));
    }
    m_hosted.reset();
}

void PluginHost::ReportRegisteredPlugins(const char* event)
{
    std::vector<std::string> names;
    const HMODULE module = Module();
    for (const UiPluginEntry& entry : ReadUiPlugins()) {
        const std::string name = Utf8FromAnsi(ResolveResourceText(entry.friendlyName, module));
        const std::string description = Utf8FromAnsi(ResolveResourceText(entry.description, module));
        names.push_back(name);
        std::string text = "UI plug-in " + entry.classId + ": \"" + name + "\", \"" + description + "\"";
        if (entry.capabilities)
            text += ", " + DescribeCapabilities(*entry.capabilities);
        m_transcript.Add("player", event, text,
                         JsonLine()
                             .Str("clsid", entry.classId)
                             .Str("name", name)
                             .Str("description", description)
                             .Int("capabilities", entry.capabilities.value_or(0)));
    }
    if (names.empty())
        m_transcript.Add("player", event, "no UI plug-in is registered", JsonLine().Str("clsid", ""));
}
