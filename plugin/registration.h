// Registration of the plug-in's classes and the notice to running players that their set of
// UI plug-ins has changed. The DLL's registration exports are these calls.
#pragma once

#include <windows.h>

class ComModule;

// The message players listen for, broadcast after every registration and unregistration.
constexpr char kPluginAddRemoveMessage[] = "WMPlayer_PluginAddRemove";

// Runs the module's registration forwards or backwards, then broadcasts the message whatever
// the result; returns the registration's result.
HRESULT RegisterPlugin(ComModule& module);
HRESULT UnregisterPlugin(ComModule& module);
