// The new-version question, driven for real: its template, the caller's message in place of
// the placeholder, and the result of each way of answering it.
#include "settings/new_version_dlg.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>
#include <vector>

#include "res/resource.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/dialog_template.h"
#include "tests/table_row.h"

namespace {

constexpr char kCaption[] = "Update found";
constexpr char kQuestion[] =
    "There is a new version of Tunelore plugin (v2.2). Do you want to download it now?";

TEST(NewVersionDialogTemplate, HasTheCaptionFontSizeAndControlsInTabOrder)
{
    constexpr DWORD kButton = WS_CHILD | WS_VISIBLE | WS_TABSTOP;
    ExpectDialogTemplate(
        IDD_NEW_VERSION,
        {.style = DS_SETFONT | DS_MODALFRAME | DS_3DLOOK | WS_POPUP | WS_CAPTION | WS_SYSMENU,
         .cx = 199,
         .cy = 57,
         .caption = kCaption,
         .pointSize = 8,
         .typeface = "MS Sans Serif",
         .items = {
             {IDOK, "button", "Yes", 7, 34, 50, 16, kButton | BS_DEFPUSHBUTTON},
             {IDCANCEL, "button", "Later", 67, 34, 50, 16, kButton | BS_PUSHBUTTON},
             {IDC_DONT_ASK, "button", "Don't Ask Again", 127, 34, 65, 16, kButton | BS_PUSHBUTTON},
             {IDC_MESSAGE, "static", "Static", 7, 7, 185, 17, WS_CHILD | WS_VISIBLE | SS_LEFT | WS_GROUP},
         }});
}

struct AnswerCase {
    const char* name;
    std::function<void(HWND)> answer;
    INT_PTR result;
};

// A key as the user presses it on the control that has the focus; the dialog's loop turns
// Enter and Escape into the default button's and Cancel's commands.
void PressKey(HWND dialog, WPARAM key)
{
    const HWND focus = ::GetFocus();
    ::PostMessageA(focus != nullptr ? focus : dialog, WM_KEYDOWN, key, 0);
}

class NewVersionAnswerTest : public ::testing::TestWithParam<AnswerCase> {};

TEST_P(NewVersionAnswerTest, ShowsTheMessageAndEndsWithTheAnswersCode)
{
    HWND dialog = nullptr;
    std::string shown;
    bool visible = false;
    DialogDriver driver({[&] {
                             dialog = FindDialog(kCaption);
                             return dialog != nullptr && ::IsWindowVisible(dialog);
                         },
                         [&] {
                             shown = ItemText(dialog, IDC_MESSAGE);
                             visible = ::IsWindowVisible(::GetDlgItem(dialog, IDC_MESSAGE)) != FALSE;
                             GetParam().answer(dialog);
                             return true;
                         }});

    CNewVersionDlg dlg(nullptr, kQuestion);
    const INT_PTR result = dlg.DoModal();

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(shown, kQuestion);
    EXPECT_TRUE(visible);
    EXPECT_EQ(result, GetParam().result);
}

INSTANTIATE_TEST_SUITE_P(
    Answers, NewVersionAnswerTest,
    ::testing::Values(
        AnswerCase{"YesDownloadsNow", [](HWND d) { PostClick(d, IDOK); }, kNewVersionDownload},
        AnswerCase{"EnterPressesTheDefaultYes", [](HWND d) { PressKey(d, VK_RETURN); }, kNewVersionDownload},
        AnswerCase{"LaterAsksLater", [](HWND d) { PostClick(d, IDCANCEL); }, kNewVersionLater},
        AnswerCase{"EscapeAsksLater", [](HWND d) { PressKey(d, VK_ESCAPE); }, kNewVersionLater},
        AnswerCase{"CloseBoxAsksLater", [](HWND d) { ::PostMessageA(d, WM_SYSCOMMAND, SC_CLOSE, 0); },
                   kNewVersionLater},
        AnswerCase{"DontAskAgainNeverAsks", [](HWND d) { PostClick(d, IDC_DONT_ASK); }, kNewVersionNeverAsk}),
    RowName{});

// The base's answer when there is no such template: the caller reads it as "later".
TEST(DialogBase, MissingTemplateGivesMinusOne)
{
    CDialog dlg(0x7FFF, nullptr);
    EXPECT_EQ(dlg.DoModal(), -1);
}

}  // namespace
