// The modal dialog base and its data-exchange steps.
#include "framework/dialog.h"

#include "framework/boundary.h"
#include "framework/com_module.h"
#include "framework/module.h"
#include "framework/number_parse.h"

namespace {

constexpr char kNotAnInteger[] = "Enter an integer.";
constexpr char kIntegerOutOfRange[] = "Enter an integer between %1 and %2.";
// The edit's text is read into a buffer of this size: 63 characters and the terminator.
constexpr int kEditTextBuffer = 64;

// Replaces each %1 and %2 of the message with the matching argument.
std::string FillPlaceholders(const std::string& message, const std::string& first, const std::string& second)
{
    std::string out;
    for (std::size_t i = 0; i < message.size(); ++i) {
        if (message[i] == '%' && i + 1 < message.size() && (message[i + 1] == '1' || message[i + 1] == '2')) {
            out += message[i + 1] == '1' ? first : second;
            ++i;
        } else {
            out += message[i];
        }
    }
    return out;
}

}  // namespace

DataExchange::DataExchange(CDialog& dialog, bool saveAndValidate)
    : m_dialog(dialog), m_bSaveAndValidate(saveAndValidate)
{
}

void DataExchange::IntegerEdit(int id, std::int32_t& value)
{
    if (m_bFailed)
        return;
    m_idLastEdit = id;
    if (!m_bSaveAndValidate) {
        ::SetDlgItemTextA(m_dialog.m_hWnd, id, std::to_string(value).c_str());
        return;
    }
    char text[kEditTextBuffer] = {};
    ::GetDlgItemTextA(m_dialog.m_hWnd, id, text, kEditTextBuffer);
    if (!ParseLeadingInt32(text, value))
        Fail(kNotAnInteger);
}

void DataExchange::IntegerRange(std::int32_t value, std::int32_t minimum, std::int32_t maximum)
{
    if (m_bFailed || !m_bSaveAndValidate)
        return;
    if (value < minimum || value > maximum)
        Fail(FillPlaceholders(kIntegerOutOfRange, std::to_string(minimum), std::to_string(maximum)));
}

void DataExchange::CheckBox(int id, std::int32_t& value)
{
    if (m_bFailed)
        return;
    const HWND box = ::GetDlgItem(m_dialog.m_hWnd, id);
    if (m_bSaveAndValidate) {
        value = ::SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
        return;
    }
    if (value < 0 || value > 2)
        value = 0;
    ::SendMessageA(box, BM_SETCHECK, static_cast<WPARAM>(value), 0);
}

void DataExchange::StaticText(int id, const std::string& text)
{
    if (m_bFailed || m_bSaveAndValidate)
        return;
    ::SetDlgItemTextA(m_dialog.m_hWnd, id, text.c_str());
}

void DataExchange::Control(int id, CDialogItem& item)
{
    if (m_bFailed || item.m_hWnd != nullptr)
        return;
    item.m_hWnd = ::GetDlgItem(m_dialog.m_hWnd, id);
}

void DataExchange::Fail(const std::string& message)
{
    m_bFailed = true;
    m_dialog.OnDataValidateError(m_idLastEdit, message);
}

void CDialog::OnDataValidateError(int editId, const std::string& message)
{
    {
        // The message box runs a loop of its own with this module's code below it.
        const ModuleLock lock;
        ::MessageBoxA(m_hWnd, message.c_str(), m_strCaption.c_str(), MB_ICONEXCLAMATION | MB_OK);
    }
    const HWND edit = editId != 0 ? ::GetDlgItem(m_hWnd, editId) : nullptr;
    if (edit != nullptr) {
        ::SetFocus(edit);
        ::SendMessageA(edit, EM_SETSEL, 0, -1);
    }
}

INT_PTR CDialog::DoModal()
{
    // The modal loop runs with this module's code below it: the module stays loaded until it
    // has returned.
    const ModuleLock lock;
    return ::DialogBoxParamA(ModuleInstance(), MAKEINTRESOURCEA(m_nIDTemplate), m_hWndParent, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

bool CDialog::UpdateData(bool saveAndValidate)
{
    DataExchange dx(*this, saveAndValidate);
    DoDataExchange(dx);
    return !dx.Failed();
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void CDialog::DoDataExchange(DataExchange&) {}

bool CDialog::OnCommand(WORD id, WORD notifyCode, HWND)
{
    if (notifyCode != BN_CLICKED)
        return false;
    if (id == IDOK) {
        OnOK();
        return true;
    }
    if (id == IDCANCEL) {
        OnCancel();
        return true;
    }
    return false;
}

void CDialog::OnOK()
{
    if (UpdateData(true))
        EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void CDialog::EndDialog(INT_PTR result)
{
    ::EndDialog(m_hWnd, result);
}

INT_PTR CALLBACK CDialog::DialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    // The dialog manager's frames are below: a handler that throws leaves the message as not
    // handled, and the dialog as it was.
    return CallAtBoundary<INT_PTR>(FALSE, [&] { return HandleDialogMessage(dialog, message, wParam, lParam); });
}

INT_PTR CDialog::HandleDialogMessage(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        auto* self = reinterpret_cast<CDialog*>(lParam);
        ::SetWindowLongPtrA(dialog, DWLP_USER, lParam);
        self->m_hWnd = dialog;
        return self->OnInitDialog();
    }
    // Messages before WM_INITDIALOG (WM_SETFONT among them) find no object yet.
    auto* self = reinterpret_cast<CDialog*>(::GetWindowLongPtrA(dialog, DWLP_USER));
    if (self == nullptr)
        return FALSE;
    switch (message) {
    case WM_COMMAND:
        return self->OnCommand(LOWORD(wParam), HIWORD(wParam), reinterpret_cast<HWND>(lParam)) ? TRUE : FALSE;
    case WM_NCDESTROY:
        ::SetWindowLongPtrA(dialog, DWLP_USER, 0);
        self->m_hWnd = nullptr;
        return FALSE;
    default:
        return FALSE;
    }
}
