// The DLL's entry point and its exports for the COM runtime. Only the shipped DLL links this
// file; tests drive the same application object and module through the library. Each of
// them is a boundary where the loader, COM or a registration tool calls in: nothing may
// unwind out of them.
#include "framework/boundary.h"
#include "framework/com_module.h"
#include "net/http_exchange.h"
#include "plugin/plugin_app.h"
#include "plugin/registration.h"

// libstdc++'s hook that frees what the runtime keeps for the process's life; no header
// declares it.
namespace __gnu_cxx {
void __freeres();
}

namespace {

CPluginApp theApp;
// Set once start-up has succeeded: only a started module is exited at detach. A start-up that
// fails has been exited already, and the loader still reports the detach of a failed attach.
bool g_started = false;

// ExitInstance only saves the settings and releases owners; a failure there must not keep the
// window of this module alive past its code.
void Exit()
{
    CallAtBoundary(0, [] { return theApp.ExitInstance(); });
}

BOOL Start()
{
    // A start-up that throws part-way counts as one that failed: what it built goes again.
    if (!CallAtBoundary(FALSE, [] { return theApp.InitInstance(); })) {
        Exit();
        return FALSE;
    }
    g_started = true;
    return TRUE;
}

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        return Start();
    case DLL_PROCESS_DETACH:
        if (g_started) {
            g_started = false;
            Exit();
        }
        // What outlives the application object: WinINet work that timed-out exchanges
        // left behind, and the C++ runtime's emergency exception pool, which the runtime
        // never frees itself. Only for an unload: at the process's exit other threads are
        // gone, and so must not be waited for or have their locks taken.
        if (!reserved) {
            releaseAbandonedExchanges();
            __gnu_cxx::__freeres();
        }
        return TRUE;
    default:
        return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return HresultAtBoundary([&] { return Module().GetClassObject(clsid, iid, object); });
}

STDAPI DllCanUnloadNow()
{
    return Module().CanUnloadNow();
}

// Both catch inside, so that the players are told whatever happened.
STDAPI DllRegisterServer()
{
    return RegisterPlugin(Module());
}

STDAPI DllUnregisterServer()
{
    return UnregisterPlugin(Module());
}
