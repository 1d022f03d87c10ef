// The DLL's entry point and its exports for the COM runtime. Only the shipped DLL links this
// file; tests drive the same application object and module through the library.
#include "framework/com_module.h"
#include "plugin/plugin_app.h"
#include "plugin/registration.h"

namespace {

CPluginApp theApp;

}  // namespace

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID)
{
    switch (reason) {
    case DLL_PROCESS_ATTACH:
        if (!theApp.InitInstance()) {
            theApp.ExitInstance();
            return FALSE;
        }
        return TRUE;
    case DLL_PROCESS_DETACH:
        theApp.ExitInstance();
        return TRUE;
    default:
        return TRUE;
    }
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID iid, void** object)
{
    return Module().GetClassObject(clsid, iid, object);
}

STDAPI DllCanUnloadNow()
{
    return Module().CanUnloadNow();
}

STDAPI DllRegisterServer()
{
    return RegisterPlugin(Module());
}

STDAPI DllUnregisterServer()
{
    return UnregisterPlugin(Module());
}
