// The player speaks wide strings; the plug-in keeps everything as narrow ANSI text.
#pragma once

#include <windows.h>

#include <string>

// Converts with the thread's ANSI code page; characters it cannot hold become its default
// character. A null string yields "".
std::string NarrowFromWide(const wchar_t* text);

// The same conversion into a string that exists already: it keeps its storage, so a text
// that fits allocates nothing. On failure the string is left empty.
void AssignNarrow(std::string& narrow, const wchar_t* text);

// The other way, for handing narrow names to the player.
std::wstring WideFromNarrow(const std::string& text);
