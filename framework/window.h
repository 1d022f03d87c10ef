// The window wrapper: a window of an existing class, subclassed so that its messages reach a
// C++ object, with a small message map that unpacks them into typed handlers.
#pragma once

#include <windows.h>

// The message map of a class derived from CWnd, in the manner of WTL's crackers:
//
//   TUNELORE_BEGIN_MSG_MAP()
//       TUNELORE_MSG_WM_TIMER(OnTimer)
//       TUNELORE_MSG_WM_COMMAND(OnCommand)
//       TUNELORE_MESSAGE_HANDLER(m_uRegistered, OnRegistered)
//       TUNELORE_CHAIN_MSG_MAP(CWnd)
//   TUNELORE_END_MSG_MAP()
//
// A handler that wants the original window procedure to see the message as well calls
// Default() itself.
#define TUNELORE_BEGIN_MSG_MAP()                                                                  \
    bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result) override \
    {                                                                                             \
        (void)wParam;                                                                             \
        (void)lParam;                                                                             \
        (void)result;

#define TUNELORE_MSG_WM_TIMER(handler)                 \
    if (message == WM_TIMER) {                         \
        handler(static_cast<UINT_PTR>(wParam));        \
        result = 0;                                    \
        return true;                                   \
    }

// void OnCommand(UINT id): menu and accelerator commands and control notifications alike.
#define TUNELORE_MSG_WM_COMMAND(handler)               \
    if (message == WM_COMMAND) {                       \
        handler(static_cast<UINT>(LOWORD(wParam)));    \
        result = 0;                                    \
        return true;                                   \
    }

// void OnNotifyIcon(UINT id, UINT event): a notification icon's callback message, sent with
// the icon's id and, for icons that asked for no version, the mouse or balloon event.
#define TUNELORE_MSG_NOTIFYICON(callbackMessage, handler)                        \
    if (message == (callbackMessage)) {                                          \
        handler(static_cast<UINT>(wParam), static_cast<UINT>(lParam));           \
        result = 0;                                                              \
        return true;                                                             \
    }

// LRESULT handler(UINT message, WPARAM wParam, LPARAM lParam): any message, registered ones
// (which are 0 until registered) included.
#define TUNELORE_MESSAGE_HANDLER(msg, handler)              \
    if ((msg) != 0 && message == (msg)) {                   \
        result = handler(message, wParam, lParam);          \
        return true;                                        \
    }

#define TUNELORE_CHAIN_MSG_MAP(BaseClass)                                  \
    if (BaseClass::ProcessWindowMessage(message, wParam, lParam, result)) \
        return true;

#define TUNELORE_END_MSG_MAP() \
    return false;              \
    }

class CWnd {
public:
    CWnd() = default;
    // Destroys the window if it still exists, after handing it back its own procedure.
    virtual ~CWnd();
    CWnd(const CWnd&) = delete;
    CWnd& operator=(const CWnd&) = delete;

    // Creates a window of an existing class and subclasses it. Messages sent during creation
    // (WM_NCCREATE, WM_CREATE) still go to the class's own procedure only.
    BOOL CreateEx(DWORD exStyle, const char* className, const char* windowName, DWORD style, const RECT& rect,
                  HWND parent, UINT id, void* param = nullptr);

    HWND m_hWnd = nullptr;

protected:
    // Every message of the window passes here: the message map first, then the class's own
    // window procedure for what the map leaves.
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    // The map of this class is empty; derived classes declare theirs with the macros above.
    virtual bool ProcessWindowMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result);

    // The message being handled, passed on to the class's own window procedure.
    LRESULT Default();

private:
    struct CurrentMessage {
        UINT message;
        WPARAM wParam;
        LPARAM lParam;
    };

    static CWnd* FromHandle(HWND window);
    void Link();
    void Unlink();
    static LRESULT CALLBACK WindowProcThunk(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT CallSuper(UINT message, WPARAM wParam, LPARAM lParam);
    void Unsubclass(bool windowGoes);

    WNDPROC m_pfnSuper = nullptr;
    CurrentMessage m_current{};
    CWnd* m_pNextLive = nullptr;
};
