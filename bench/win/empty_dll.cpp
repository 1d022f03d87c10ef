// A DLL that does nothing: the baseline against which the plug-in's load and unload are timed.
#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE, DWORD, LPVOID)
{
    return TRUE;
}
