// The player speaks wide strings; the plug-in keeps everything as narrow ANSI text.
#pragma once

#include <windows.h>

#include <string>

// Converts with the thread's ANSI code page; characters it cannot hold become its default
// character. A null string yields "".
std::string NarrowFromWide(const wchar_t* text);

// The other way, for handing narrow names to the player.
std::wstring WideFromNarrow(const std::string& text);
