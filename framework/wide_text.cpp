// Narrow text made wide, for handing names to the player's string type. A file of its own, so
// that a binary which only narrows links none of the wide string's code.
#include "framework/narrow_text.h"

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
