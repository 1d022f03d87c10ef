// The new-version question: its message and its three answers.
#include "settings/new_version_dlg.h"

#include <utility>

#include "res/resource.h"

namespace {

struct Answer {
    WORD buttonId;
    INT_PTR result;
};

// Enter and Escape arrive as clicks of IDOK and IDCANCEL, the close box as one of IDCANCEL.
const Answer kAnswers[] = {
    {IDOK, kNewVersionDownload},
    {IDCANCEL, kNewVersionLater},
    {IDC_DONT_ASK, kNewVersionNeverAsk},
};

}  // namespace

CNewVersionDlg::CNewVersionDlg(HWND parent, std::string message)
    : CDialog(IDD_NEW_VERSION, parent), m_strMessage(std::move(message))
{
}

void CNewVersionDlg::DoDataExchange(DataExchange& dx)
{
    dx.StaticText(IDC_MESSAGE, m_strMessage);
}

bool CNewVersionDlg::OnCommand(WORD id, WORD notifyCode, HWND)
{
    if (notifyCode != BN_CLICKED)
        return false;
    for (const Answer& answer : kAnswers) {
        if (answer.buttonId == id) {
            EndDialog(answer.result);
            return true;
        }
    }
    return false;
}
