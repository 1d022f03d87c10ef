// Conversions between the player's wide strings and the plug-in's narrow text.
#include "framework/narrow_text.h"

std::string NarrowFromWide(const wchar_t* text)
{
    if (text == nullptr)
        return std::string();
    // The whole string including its terminator, so the result is always terminated.
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return std::string();
    std::string narrow(static_cast<size_t>(size), '\0');
    ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr);
    narrow.resize(static_cast<size_t>(size - 1));
    return narrow;
}

std::wstring WideFromNarrow(const std::string& text)
{
    if (text.empty())
        return std::wstring();
    const int size = ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        ::MultiByteToWideChar(CP_THREAD_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), size);
    return wide;
}
