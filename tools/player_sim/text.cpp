// Code-page conversions through the wide form.
#include "tools/player_sim/text.h"

#include <windows.h>

#include <cstdio>

namespace {

std::wstring Widen(UINT codePage, const std::string& text)
{
    if (text.empty())
        return {};
    const int length = ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    if (length <= 0)
        return {};
    std::wstring wide(static_cast<std::size_t>(length), L'\0');
    ::MultiByteToWideChar(codePage, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
    return wide;
}

std::string Narrow(UINT codePage, const std::wstring& text)
{
    if (text.empty())
        return {};
    const int length =
        ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
    if (length <= 0)
        return {};
    std::string narrow(static_cast<std::size_t>(length), '\0');
    ::WideCharToMultiByte(codePage, 0, text.data(), static_cast<int>(text.size()), narrow.data(), length, nullptr,
                          nullptr);
    return narrow;
}

}  // namespace

std::string Utf8FromAnsi(const std::string& text)
{
    return Narrow(CP_UTF8, Widen(CP_ACP, text));
}

std::string Utf8FromWide(const std::wstring& text)
{
    return Narrow(CP_UTF8, text);
}

std::wstring WideFromUtf8(const std::string& text)
{
    return Widen(CP_UTF8, text);
}

std::string AnsiFromUtf8(const std::string& text)
{
    return Narrow(CP_ACP, Widen(CP_UTF8, text));
}

std::string HresultText(long hr)
{
    char text[16];
    std::snprintf(text, sizeof text, "0x%08lX", static_cast<unsigned long>(hr));
    return text;
}
