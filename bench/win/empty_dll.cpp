// A DLL that does nothing but has the plug-in's entry point and its four exports: the baseline
// against which the plug-in's load and unload are timed.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID, REFIID, void** object)
{
    *object = nullptr;
    return CLASS_E_CLASSNOTAVAILABLE;
}

STDAPI DllCanUnloadNow()
{
    return S_OK;
}

STDAPI DllRegisterServer()
{
    return S_OK;
}

STDAPI DllUnregisterServer()
{
    return S_OK;
}
