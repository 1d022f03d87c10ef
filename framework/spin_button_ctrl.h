// The up-down (spin) control of a dialog, bound to its member by the data exchange.
#pragma once

#include <windows.h>
#include <commctrl.h>

#include "framework/dialog.h"

class CSpinButtonCtrl : public CDialogItem {
public:
    // The control keeps 16-bit bounds.
    void SetRange(short lower, short upper)
    {
        ::SendMessageA(m_hWnd, UDM_SETRANGE, 0, MAKELPARAM(upper, lower));
    }
};
