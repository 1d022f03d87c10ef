// The modal dialog base: a dialog of the module's own templates whose controls are filled
// from, and read back into, the members of the derived class by one data-exchange function.
#pragma once

#include <windows.h>

#include <cstdint>
#include <string>

class CDialog;

// A control of a dialog that a member of the dialog's class stands for.
class CDialogItem {
public:
    HWND m_hWnd = nullptr;
};

// One run of a dialog's exchange, in one direction. Each helper is one step; after a failed
// step the remaining ones do nothing, so the exchange stops there.
class DataExchange {
public:
    DataExchange(CDialog& dialog, bool saveAndValidate);

    bool Saving() const { return m_bSaveAndValidate; }
    bool Failed() const { return m_bFailed; }

    // An edit holding a decimal integer. Saving reads up to 63 characters, which must begin
    // (after optional white space) with an optionally signed integer; the rest is ignored.
    void IntegerEdit(int id, std::int32_t& value);
    // Saving only: the value of the edit exchanged last must lie in minimum ... maximum.
    void IntegerRange(std::int32_t value, std::int32_t minimum, std::int32_t maximum);
    // A two-state check box. Loading hands 0, 1 and 2 to the box and first sets anything else
    // to 0; saving stores 1 for ticked and 0 for clear.
    void CheckBox(int id, std::int32_t& value);
    // Loading only: the control's text. Nothing is read back.
    void StaticText(int id, const std::string& text);
    // Binds the member to its control at the first exchange.
    void Control(int id, CDialogItem& item);

    // Stops the exchange and hands the message, with the edit exchanged last (0 if none), to
    // the dialog's OnDataValidateError.
    void Fail(const std::string& message);

private:
    CDialog& m_dialog;
    bool m_bSaveAndValidate;
    bool m_bFailed = false;
    int m_idLastEdit = 0;
};

class CDialog {
public:
    CDialog(UINT templateId, HWND parent) : m_nIDTemplate(templateId), m_hWndParent(parent) {}
    virtual ~CDialog() = default;
    CDialog(const CDialog&) = delete;
    CDialog& operator=(const CDialog&) = delete;

    // Runs the dialog modally, holding a module lock meanwhile: the result given to EndDialog,
    // or -1 when the dialog cannot be created.
    INT_PTR DoModal();

    // Runs the data exchange in the given direction; false when a step failed.
    bool UpdateData(bool saveAndValidate);

    // Null outside the modal run.
    HWND m_hWnd = nullptr;

protected:
    friend class DataExchange;

    // A step of the exchange failed. The base shows the message in a box titled with the
    // caption (holding a module lock while the box is up), then gives the edit the focus
    // with its whole text selected.
    virtual void OnDataValidateError(int editId, const std::string& message);

    // The title of the dialog's message boxes.
    std::string m_strCaption;

    // The base fills the controls from the members.
    virtual BOOL OnInitDialog();
    virtual void DoDataExchange(DataExchange& dx);
    // Every WM_COMMAND: the base handles the clicks of OK and Cancel. Returns whether the
    // command was handled.
    virtual bool OnCommand(WORD id, WORD notifyCode, HWND control);
    // Reads the controls back and ends with IDOK only if that succeeds.
    virtual void OnOK();
    // Ends with IDCANCEL without any exchange.
    virtual void OnCancel();

    void EndDialog(INT_PTR result);

private:
    static INT_PTR CALLBACK DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
    static INT_PTR HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    HWND m_hWndParent;
};
