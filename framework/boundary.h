// The places where the player or the window manager calls into the plug-in: the window and
// dialog procedures, the COM methods, the class factory and the DLL's entry point and exports.
// No exception may unwind out of them into the caller's frames: on i686 (DWARF unwinding) an
// exception that meets a frame without unwind information, user32's or the player's, ends
// the process in std::terminate. Each boundary catches whatever is left and does nothing more
// for that step; RAII owners have already released what the step held.
#pragma once

#include <windows.h>

#include <new>

// Runs body; when an exception escapes it, the step ends with the given result instead.
template <typename Result, typename Body>
Result CallAtBoundary(Result onException, Body&& body) noexcept
{
    try {
        return body();
    } catch (...) {
        return onException;
    }
}

// For COM methods and exports: an allocation failure answers E_OUTOFMEMORY, anything else
// E_UNEXPECTED.
template <typename Body>
HRESULT HresultAtBoundary(Body&& body) noexcept
{
    try {
        return body();
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    } catch (...) {
        return E_UNEXPECTED;
    }
}
