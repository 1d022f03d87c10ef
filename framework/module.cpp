// The module that holds this code, found from an address inside it.
#include "framework/module.h"

HINSTANCE ModuleInstance()
{
    static const char anchor = 0;
    HMODULE module = nullptr;
    ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                         &anchor, &module);
    return module;
}

std::string LoadStringResource(UINT id)
{
    // With a zero length LoadStringW hands out a pointer into the resource itself, so a
    // string of any length is read whole; it is then narrowed as LoadStringA would.
    const wchar_t* text = nullptr;
    const int length = ::LoadStringW(ModuleInstance(), id, reinterpret_cast<LPWSTR>(&text), 0);
    if (length <= 0 || text == nullptr)
        return std::string();
    const int size = ::WideCharToMultiByte(CP_ACP, 0, text, length, nullptr, 0, nullptr, nullptr);
    std::string narrow(static_cast<size_t>(size > 0 ? size : 0), '\0');
    if (size > 0)
        ::WideCharToMultiByte(CP_ACP, 0, text, length, narrow.data(), size, nullptr, nullptr);
    return narrow;
}
