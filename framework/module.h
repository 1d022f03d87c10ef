// The module that holds the plug-in's code and resources (the DLL, or a test executable that
// links the same library), and its string table.
#pragma once

#include <windows.h>

#include <string>

// Never GetModuleHandle(NULL): inside the player that is the player's executable.
HINSTANCE ModuleInstance();

// A narrow string of the module's string table; an id without a string yields "".
std::string LoadStringResource(UINT id);
