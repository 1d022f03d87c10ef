// Start-up and exit of the module, and its object map.
#include "plugin/plugin_app.h"

#include "framework/com_module.h"
#include "framework/module.h"
#include "net/http_exchange.h"
#include "lookup/lyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

#include <utility>

namespace {

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_TunelorePlugin, &TunelorePlugin::CreateInstance, IDR_REGISTRY},
};

}  // namespace

ServiceEndpoint ModuleServiceEndpoint(std::string appName)
{
    ServiceEndpoint endpoint;
    endpoint.host = LoadStringResource(IDS_SERVICE_HOST);
    endpoint.agent = std::move(appName);
    endpoint.referrer = "WMP " + endpoint.agent;
    endpoint.lookupPath = LoadStringResource(IDS_LOOKUP_PATH);
    endpoint.versionPath = LoadStringResource(IDS_VERSION_PATH);
    return endpoint;
}

CPluginApp::~CPluginApp() = default;

BOOL CPluginApp::InitInstance()
{
    CWinApp::InitInstance();

    const HINSTANCE instance = ModuleInstance();
    m_pszAppName = LoadStringResource(IDS_APP_NAME);
    SetRegistryKey("Quillmark");
    // Before the window exists, so that its first tick already sees the loaded settings.
    LoadSettings(*this);

    // The loop of the plug-in: the window's tick polls the player, the poll hands a new item
    // to the lookup, and the lookup shows its outcome on the window.
    m_pLookup = std::make_unique<LyricsLookup>(instance, ModuleServiceEndpoint(m_pszAppName), &PollPlayers, &ShowSettingsDialog);
    g_lookup = m_pLookup.get();

    Module().Init(kObjectMap, sizeof(kObjectMap) / sizeof(kObjectMap[0]), instance);
    ::DisableThreadLibraryCalls(instance);
    return TRUE;
}

int CPluginApp::ExitInstance()
{
    // Saved first, while the window and everything that changes settings still exist.
    SaveSettings(*this);
    Module().Term();
    g_lookup = nullptr;
    m_pLookup.reset();
    return CWinApp::ExitInstance();
}
