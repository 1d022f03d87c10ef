// The settings dialog: its exchange table and the one-at-a-time opening.
#include "settings/settings_dialog.h"

#include <commctrl.h>

#include <cstdint>

#include "framework/module.h"
#include "res/resource.h"

namespace {

// The dialog that exists now, if any: a tick or a menu command can ask for the dialog again
// while its modal loop is running.
CSettingsDlg* g_openSettingsDlg = nullptr;

// A number edit with its accepted range and its spin control.
struct NumberStep {
    int editId;
    std::int32_t Settings::*field;
    short minimum;
    short maximum;
    int spinId;
    CSpinButtonCtrl CSettingsDlg::*spin;
};

const NumberStep kNumberSteps[] = {
    {IDC_DELAY_EDIT, &Settings::BalloonDelay, 0, 30, IDC_DELAY_SPIN, &CSettingsDlg::m_spinDelay},
    {IDC_TIMEOUT_EDIT, &Settings::BalloonTimeout, 1, 30, IDC_TIMEOUT_SPIN, &CSettingsDlg::m_spinTimeout},
};

struct CheckStep {
    int boxId;
    std::int32_t Settings::*field;
};

const CheckStep kCheckSteps[] = {
    {IDC_ENABLE_BALLOON, &Settings::TipEnabled},
    {IDC_CHECK_UPDATES, &Settings::CheckUpdates},
};

}  // namespace

CSettingsDlg::CSettingsDlg(HWND parent) : CDialog(IDD_SETTINGS, parent)
{
    m_strCaption = LoadStringResource(IDS_APP_NAME);
    g_openSettingsDlg = this;
}

CSettingsDlg::~CSettingsDlg()
{
    g_openSettingsDlg = nullptr;
}

void CSettingsDlg::DoDataExchange(DataExchange& dx)
{
    for (const NumberStep& step : kNumberSteps) {
        dx.IntegerEdit(step.editId, m_settings.*step.field);
        dx.IntegerRange(m_settings.*step.field, step.minimum, step.maximum);
        dx.Control(step.spinId, this->*step.spin);
    }
    for (const CheckStep& step : kCheckSteps)
        dx.CheckBox(step.boxId, m_settings.*step.field);
}

BOOL CSettingsDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    for (const NumberStep& step : kNumberSteps)
        (this->*step.spin).SetRange(step.minimum, step.maximum);
    return TRUE;
}

void ShowSettingsDialog(HWND parent)
{
    if (g_openSettingsDlg != nullptr) {
        if (g_openSettingsDlg->m_hWnd != nullptr)
            ::SetForegroundWindow(g_openSettingsDlg->m_hWnd);
        return;
    }

    // The up-down controls of the template need their class registered first.
    INITCOMMONCONTROLSEX controls = {sizeof(controls), ICC_UPDOWN_CLASS};
    ::InitCommonControlsEx(&controls);

    CSettingsDlg dlg(parent);
    dlg.m_settings = GetSettings();
    if (dlg.DoModal() == IDOK)
        GetSettings() = dlg.m_settings;
}
