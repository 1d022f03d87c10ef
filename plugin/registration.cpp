// Registration of the plug-in, followed in every case by the broadcast that tells a running
// player to read its UI plug-ins again.
#include "plugin/registration.h"

#include "framework/boundary.h"
#include "framework/com_module.h"

namespace {

void NotifyPlayers()
{
    const UINT message = ::RegisterWindowMessageA(kPluginAddRemoveMessage);
    if (message != 0)
        ::PostMessageA(HWND_BROADCAST, message, 0, 0);
}

}  // namespace

HRESULT RegisterPlugin(ComModule& module)
{
    // The registration tool is the caller: a registrar that throws is a failed registration,
    // and the players are told all the same.
    const HRESULT hr = HresultAtBoundary([&] { return module.RegisterServer(); });
    NotifyPlayers();
    return hr;
}

HRESULT UnregisterPlugin(ComModule& module)
{
    const HRESULT hr = HresultAtBoundary([&] { return module.UnregisterServer(); });
    NotifyPlayers();
    return hr;
}
