// Move-only owners for Win32 handles and COM interface pointers: one owner per resource, no
// hand-written release chains.
#pragma once

#include <windows.h>
#include <wininet.h>

#include <utility>

template <typename Traits>
class unique_handle {
public:
    using pointer = typename Traits::pointer;

    unique_handle() noexcept = default;
    explicit unique_handle(pointer value) noexcept : m_value(value) {}
    unique_handle(const unique_handle&) = delete;
    unique_handle& operator=(const unique_handle&) = delete;
    unique_handle(unique_handle&& other) noexcept : m_value(other.release()) {}
    unique_handle& operator=(unique_handle&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    ~unique_handle() { reset(); }

    pointer get() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != Traits::invalid(); }

    // For out-parameters: frees what is held and hands out the slot.
    pointer* put() noexcept
    {
        reset();
        return &m_value;
    }

    pointer release() noexcept { return std::exchange(m_value, Traits::invalid()); }

    void reset(pointer value = Traits::invalid()) noexcept
    {
        pointer old = std::exchange(m_value, value);
        if (old != Traits::invalid())
            Traits::close(old);
    }

private:
    pointer m_value = Traits::invalid();
};

#define TUNELORE_HANDLE_TRAITS(Name, Type, CloseCall)        \
    struct Name {                                            \
        using pointer = Type;                                \
        static constexpr pointer invalid() { return nullptr; } \
        static void close(pointer value) { CloseCall(value); } \
    }

TUNELORE_HANDLE_TRAITS(hkey_traits, HKEY, ::RegCloseKey);
TUNELORE_HANDLE_TRAITS(hinternet_traits, HINTERNET, ::InternetCloseHandle);
TUNELORE_HANDLE_TRAITS(hwnd_traits, HWND, ::DestroyWindow);
TUNELORE_HANDLE_TRAITS(hmenu_traits, HMENU, ::DestroyMenu);
TUNELORE_HANDLE_TRAITS(hmodule_traits, HMODULE, ::FreeLibrary);
TUNELORE_HANDLE_TRAITS(bstr_traits, BSTR, ::SysFreeString);
TUNELORE_HANDLE_TRAITS(hicon_traits, HICON, ::DestroyIcon);
TUNELORE_HANDLE_TRAITS(hbitmap_traits, HBITMAP, ::DeleteObject);
TUNELORE_HANDLE_TRAITS(hdc_traits, HDC, ::DeleteDC);  // a memory DC; a window's DC is released instead

#undef TUNELORE_HANDLE_TRAITS

using unique_hkey = unique_handle<hkey_traits>;
using unique_hinternet = unique_handle<hinternet_traits>;
using unique_hwnd = unique_handle<hwnd_traits>;
using unique_hmenu = unique_handle<hmenu_traits>;
using unique_hmodule = unique_handle<hmodule_traits>;
using unique_bstr = unique_handle<bstr_traits>;
using unique_hicon = unique_handle<hicon_traits>;
using unique_hbitmap = unique_handle<hbitmap_traits>;
using unique_hdc = unique_handle<hdc_traits>;

// A COM interface pointer of the same shape; put() feeds out-parameters.
template <typename T>
class com_ptr {
public:
    com_ptr() noexcept = default;
    com_ptr(std::nullptr_t) noexcept {}
    // Takes a new reference on the given pointer.
    explicit com_ptr(T* value) noexcept : m_value(value)
    {
        if (m_value)
            m_value->AddRef();
    }
    com_ptr(const com_ptr& other) noexcept : com_ptr(other.m_value) {}
    com_ptr(com_ptr&& other) noexcept : m_value(other.detach()) {}
    com_ptr& operator=(com_ptr other) noexcept
    {
        std::swap(m_value, other.m_value);
        return *this;
    }
    ~com_ptr() { reset(); }

    T* get() const noexcept { return m_value; }
    T* operator->() const noexcept { return m_value; }
    explicit operator bool() const noexcept { return m_value != nullptr; }

    T** put() noexcept
    {
        reset();
        return &m_value;
    }
    void** put_void() noexcept { return reinterpret_cast<void**>(put()); }

    T* detach() noexcept { return std::exchange(m_value, nullptr); }
    void attach(T* value) noexcept
    {
        reset();
        m_value = value;
    }
    void reset() noexcept
    {
        if (T* old = std::exchange(m_value, nullptr))
            old->Release();
    }

    template <typename U>
    HRESULT query(com_ptr<U>& out) const noexcept
    {
        return m_value ? m_value->QueryInterface(__uuidof(U), out.put_void()) : E_POINTER;
    }

private:
    T* m_value = nullptr;
};
