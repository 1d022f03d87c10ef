// Start-up and exit of the module, and its object map.
#include "plugin/plugin_app.h"

#include "framework/com_module.h"
#include "framework/module.h"
#include "lookup/http_exchange.h"
#include "lookup/lyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "res/resource.h"
#include "settings/settings.h"

namespace {

const ObjectMapEntry kObjectMap[] = {
    {&CLSID_TunelorePlugin, &TunelorePlugin::CreateInstance, IDR_REGISTRY},
};

}  // namespace

CPluginApp::~CPluginApp() = default;

BOOL CPluginApp::InitInstance()
{
    CWinApp::InitInstance();

    const HINSTANCE instance = ModuleInstance();
    m_pszAppName = LoadStringResource(IDS_APP_NAME);
    SetRegistryKey("Quillmark");
    // Before the window exists, so that its first tick already sees the loaded settings.
    LoadSettings(*this);

    m_pLookup = std::make_unique<LyricsLookup>(instance);
    g_lookup = m_pLookup.get();

    Module().Init(kObjectMap, sizeof(kObjectMap) / sizeof(kObjectMap[0]), instance);
    ::DisableThreadLibraryCalls(instance);

    setReferrer("WMP " + LoadStringResource(IDS_APP_NAME));
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
