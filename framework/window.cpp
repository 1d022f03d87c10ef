// The window wrapper: subclassing, the thunk that finds the object behind a window, and the
// default handling through the class's own procedure.
#include "framework/window.h"

#include "framework/boundary.h"
#include "framework/module.h"

namespace {

// The objects behind subclassed windows, linked through the objects themselves. A window
// property would say the same, but reading one costs a trip to the window server under Wine,
// and this is read for every message; GWLP_USERDATA belongs to the window's class.
SRWLOCK g_liveLock = SRWLOCK_INIT;
CWnd* g_firstLive = nullptr;

}  // namespace

CWnd* CWnd::FromHandle(HWND window)
{
    CWnd* found = nullptr;
    ::AcquireSRWLockShared(&g_liveLock);
    for (CWnd* live = g_firstLive; live != nullptr; live = live->m_pNextLive) {
        if (live->m_hWnd == window) {
            found = live;
            break;
        }
    }
    ::ReleaseSRWLockShared(&g_liveLock);
    return found;
}

void CWnd::Link()
{
    ::AcquireSRWLockExclusive(&g_liveLock);
    m_pNextLive = g_firstLive;
    g_firstLive = this;
    ::ReleaseSRWLockExclusive(&g_liveLock);
}

void CWnd::Unlink()
{
    ::AcquireSRWLockExclusive(&g_liveLock);
    for (CWnd** link = &g_firstLive; *link != nullptr; link = &(*link)->m_pNextLive) {
        if (*link == this) {
            *link = m_pNextLive;
            break;
        }
    }
    m_pNextLive = nullptr;
    ::ReleaseSRWLockExclusive(&g_liveLock);
}

CWnd::~CWnd()
{
    const HWND window = m_hWnd;
    if (window == nullptr)
        return;
    // A derived object is gone by now, so the destruction's messages meet only this class's
    // handling, which passes them on: they go down the whole chain, through anyone who
    // subclassed the window after us, and WM_NCDESTROY unhooks us.
    if (::IsWindow(window))
        ::DestroyWindow(window);
    // Still hooked if the window outlives that (another thread's cannot be destroyed here).
    Unsubclass(false);
}

BOOL CWnd::CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect,
                    HWND parent, UINT id, void* param)
{
    if (m_hWnd != nullptr)
        return FALSE;
    const HWND window = ::CreateWindowExA(exStyle, className, windowName, style, rect.left, rect.top,
                                          rect.right - rect.left, rect.bottom - rect.top, parent,
                                          reinterpret_cast<HMENU>(static_cast<UINT_PTR>(id)), ModuleInstance(), param);
    if (window == nullptr)
        return FALSE;
    // Linked before the procedure changes, so that the first message already finds us.
    m_hWnd = window;
    Link();
    m_pfnSuper = reinterpret_cast<WNDPROC>(
        ::SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&CWnd::WindowProcThunk)));
    if (m_pfnSuper == nullptr) {
        Unlink();
        m_hWnd = nullptr;
        ::DestroyWindow(window);
        return FALSE;
    }
    return TRUE;
}

LRESULT CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam)
{
    LRESULT result = 0;
    if (ProcessWindowMessage(message, wParam, lParam, result))
        return result;
    return CallSuper(message, wParam, lParam);
}

bool CWnd::ProcessWindowMessage(UINT, WPARAM, LPARAM, LRESULT&)
{
    return false;
}

LRESULT CWnd::Default()
{
    return CallSuper(m_current.message, m_current.wParam, m_current.lParam);
}

LRESULT CWnd::CallSuper(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (m_hWnd == nullptr || m_pfnSuper == nullptr)
        return 0;
    return ::CallWindowProcA(m_pfnSuper, m_hWnd, message, wParam, lParam);
}

LRESULT CALLBACK CWnd::WindowProcThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    CWnd* const self = FromHandle(window);
    if (self == nullptr)
        return ::DefWindowProcA(window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        // The window goes away under its object: the object lets go, the class cleans up.
        const WNDPROC super = self->m_pfnSuper;
        self->Unsubclass(true);
        return ::CallWindowProcA(super, window, message, wParam, lParam);
    }
    // Menus and dialogs run nested message loops inside handlers, so the outer message is
    // kept for the Default() of the handler that is still on the stack.
    const CurrentMessage outer = self->m_current;
    self->m_current = CurrentMessage{message, wParam, lParam};
    // The window manager's frames are below: a handler that throws has done its last for
    // this message, which is answered 0.
    const LRESULT result =
        CallAtBoundary<LRESULT>(0, [&] { return self->WindowProc(message, wParam, lParam); });
    self->m_current = outer;
    return result;
}

void CWnd::Unsubclass(bool windowGoes)
{
    if (m_hWnd == nullptr)
        return;
    // Over a later subclass, putting the class's procedure back would cut that one out of the
    // chain: while the window goes, ours stays below it and passes on what it gets. A window
    // that outlives the object must not keep a procedure of a module that may unload, so
    // there the class's goes back all the same.
    if (!windowGoes ||
        ::GetWindowLongPtrA(m_hWnd, GWLP_WNDPROC) == reinterpret_cast<LONG_PTR>(&CWnd::WindowProcThunk))
        ::SetWindowLongPtrA(m_hWnd, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_pfnSuper));
    Unlink();
    m_hWnd = nullptr;
    m_pfnSuper = nullptr;
}
