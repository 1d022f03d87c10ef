// The module's application object: what exists once per process while the DLL is loaded,
// created at start-up and torn down at exit in a fixed order.
#pragma once

#include "framework/module.h"
#include "framework/win_app.h"
#include "lookup/ilyrics_lookup.h"
#include "net/http_exchange.h"
#include "res/resource.h"

#include <memory>
#include <string>

// The lyrics service as the module's strings name it, and as the plug-in introduces itself:
// by the application's name, which start-up has read already.
ServiceEndpoint ModuleServiceEndpoint(std::string appName = LoadStringResource(IDS_APP_NAME));

class CPluginApp : public CWinApp {
public:
    CPluginApp() = default;
    ~CPluginApp() override;

    // Application name and registry key, settings, the lookup object with its window, tray
    // icon and service endpoint, the COM module. Start-up has no failing path.
    BOOL InitInstance() override;
    // Settings saved, COM module ended, then the lookup object (window, icon) deleted.
    int ExitInstance() override;

    ILyricsLookup* Lookup() const { return m_pLookup.get(); }

private:
    std::unique_ptr<ILyricsLookup> m_pLookup;
};
