// The settings dialog, reached from the tray menu and from the player's property page.
#pragma once

#include <windows.h>

#include "framework/dialog.h"
#include "framework/spin_button_ctrl.h"
#include "settings/settings.h"

// Opens the modal settings dialog with the given parent (or none) and replaces the settings
// only on OK. While one is open, a further call brings that one to the foreground instead.
void ShowSettingsDialog(HWND parent);

// Edits a copy of the settings record; the caller copies it back after OK. While one exists it
// is the process's open settings dialog.
class CSettingsDlg : public CDialog {
public:
    explicit CSettingsDlg(HWND parent);
    ~CSettingsDlg() override;

    Settings m_settings{};
    CSpinButtonCtrl m_spinDelay;
    CSpinButtonCtrl m_spinTimeout;

protected:
    void DoDataExchange(DataExchange& dx) override;
    BOOL OnInitDialog() override;
};
