// The question put when the service offers a newer version: download now, later, or never ask.
#pragma once

#include <windows.h>

#include <string>

#include "framework/dialog.h"

// Results of the modal run; not the usual IDOK and IDCANCEL. A dialog that cannot be created
// gives -1, which callers treat as "later".
constexpr INT_PTR kNewVersionDownload = 0;    // "Yes", and the Enter key
constexpr INT_PTR kNewVersionLater = 1;       // "Later", the Escape key and the close box
constexpr INT_PTR kNewVersionNeverAsk = 2;    // "Don't Ask Again"

class CNewVersionDlg : public CDialog {
public:
    CNewVersionDlg(HWND parent, std::string message);

    std::string m_strMessage;

protected:
    void DoDataExchange(DataExchange& dx) override;
    bool OnCommand(WORD id, WORD notifyCode, HWND control) override;
};
