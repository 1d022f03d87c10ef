// Conversions between the player's wide strings and the plug-in's narrow text.
#include "framework/narrow_text.h"

std::string NarrowFromWide(const wchar_t* text)
{
    std::string narrow;
    AssignNarrow(narrow, text);
    return narrow;
}

void AssignNarrow(std::string& narrow, const wchar_t* text)
{
    narrow.clear();
    if (text == nullptr)
        return;
    // Every ANSI code page holds ASCII as itself, so the usual text needs no conversion call.
    std::size_t length = 0;
    for (; text[length] != L'\0'; ++length) {
        if (static_cast<unsigned>(text[length]) >= 0x80)
            break;
    }
    if (text[length] == L'\0') {
        narrow.resize(length);
        for (std::size_t i = 0; i < length; ++i)
            narrow[i] = static_cast<char>(text[i]);
        return;
    }
    // The whole string including its terminator, so the result is always terminated.
    const int size = ::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1)
        return;
    narrow.resize(static_cast<size_t>(size));
    if (::WideCharToMultiByte(CP_THREAD_ACP, 0, text, -1, narrow.data(), size, nullptr, nullptr) != size) {
        narrow.clear();
        return;
    }
    narrow.resize(static_cast<size_t>(size - 1));
}
