// Text conversions of the simulator: the plug-in speaks the ANSI code page, the player wide
// strings, and the transcript and playlists UTF-8.
#pragma once

#include <string>

std::string Utf8FromAnsi(const std::string& text);
std::string Utf8FromWide(const std::wstring& text);
std::wstring WideFromUtf8(const std::string& text);
// For Windows calls, which the simulator makes in their narrow form.
std::string AnsiFromUtf8(const std::string& text);

// "0x80004001"
std::string HresultText(long hr);
