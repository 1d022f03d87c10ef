// The settings dialog, driven for real: its template, what it shows of the record, what OK
// accepts or refuses and with which message, what reaches the record, and that only one
// exists at a time.
#include "settings/settings_dialog.h"

#include <windows.h>
#include <commctrl.h>

#include <gtest/gtest.h>

#include <optional>
#include <ostream>
#include <string>
#include <tuple>
#include <vector>

#include "res/resource.h"
#include "settings/settings.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/dialog_template.h"
#include "tests/table_row.h"

namespace {

constexpr char kCaption[] = "Tunelore Settings";
constexpr char kMessageCaption[] = "Tunelore plugin";
constexpr char kNotAnInteger[] = "Enter an integer.";
constexpr char kDelayRange[] = "Enter an integer between 0 and 30.";
constexpr char kTimeoutRange[] = "Enter an integer between 1 and 30.";
constexpr std::int64_t kLastCheck = 1234567890;

constexpr Settings kDefaults{1, 1, kLastCheck, 5, 7};

Settings With(Settings settings, std::int32_t Settings::*field, std::int32_t value)
{
    settings.*field = value;
    return settings;
}

auto Fields(const Settings& s)
{
    return std::make_tuple(s.TipEnabled, s.CheckUpdates, s.LastUpdateCheck, s.BalloonDelay, s.BalloonTimeout);
}

int CheckState(HWND dialog, int id)
{
    return static_cast<int>(::SendDlgItemMessageA(dialog, id, BM_GETCHECK, 0, 0));
}

DialogDriver::Step WaitForDialog(HWND& dialog)
{
    return [&dialog] {
        dialog = FindDialog(kCaption);
        return dialog != nullptr;
    };
}

class SettingsDialogTest : public ::testing::Test {
protected:
    void SetUp() override { m_saved = GetSettings(); }
    void TearDown() override { GetSettings() = m_saved; }

    Settings m_saved{};
};

// --- The template ------------------------------------------------------------------------

TEST(SettingsDialogTemplate, HasTheCaptionFontSizeAndControlsInTabOrder)
{
    constexpr DWORD kChild = WS_CHILD | WS_VISIBLE;
    constexpr DWORD kEdit = kChild | ES_LEFT | WS_BORDER | WS_TABSTOP | ES_NUMBER | ES_AUTOHSCROLL;
    constexpr DWORD kSpin = kChild | UDS_SETBUDDYINT | UDS_ALIGNRIGHT | UDS_AUTOBUDDY | UDS_ARROWKEYS | UDS_NOTHOUSANDS;
    constexpr DWORD kLabel = kChild | SS_LEFT | WS_GROUP;
    constexpr DWORD kCheck = kChild | BS_AUTOCHECKBOX | WS_TABSTOP;
    ExpectDialogTemplate(
        IDD_SETTINGS,
        {.style = DS_SETFONT | DS_MODALFRAME | WS_POPUP | WS_CAPTION | WS_SYSMENU,
         .cx = 142,
         .cy = 111,
         .caption = kCaption,
         .pointSize = 8,
         .typeface = "MS Sans Serif",
         .items = {
             {IDOK, "button", "OK", 7, 88, 50, 16, kChild | BS_DEFPUSHBUTTON | WS_TABSTOP},
             {IDCANCEL, "button", "Cancel", 85, 88, 50, 16, kChild | BS_PUSHBUTTON | WS_TABSTOP},
             {-1, "static", "Balloon Delay:", 7, 13, 57, 10, kLabel},
             {IDC_DELAY_EDIT, "edit", "", 67, 10, 32, 14, kEdit},
             {IDC_DELAY_SPIN, "msctls_updown32", "", 87, 10, 11, 14, kSpin},
             {-1, "static", "seconds", 102, 13, 33, 10, kLabel},
             {-1, "static", "Balloon Timeout:", 7, 32, 57, 10, kLabel},
             {IDC_TIMEOUT_EDIT, "edit", "", 67, 30, 32, 14, kEdit},
             {IDC_TIMEOUT_SPIN, "msctls_updown32", "", 87, 30, 11, 14, kSpin},
             {-1, "static", "seconds", 102, 32, 33, 10, kLabel},
             {IDC_ENABLE_BALLOON, "button", "Enable Balloon", 7, 53, 63, 10, kCheck},
             {IDC_CHECK_UPDATES, "button", "Check For Updates", 7, 71, 77, 10, kCheck},
         }});
}

// --- What the dialog shows ---------------------------------------------------------------

struct ShowCase {
    const char* name;
    Settings stored;
    const char* delayText;
    const char* timeoutText;
    int tipState;
    int updatesState;
};

class SettingsDialogShowTest : public SettingsDialogTest, public ::testing::WithParamInterface<ShowCase> {};

TEST_P(SettingsDialogShowTest, ShowsTheRecordAndCancelKeepsIt)
{
    const ShowCase& c = GetParam();
    GetSettings() = c.stored;
    HWND dialog = nullptr;
    std::string delay, timeout;
    int tip = -1, updates = -1;
    DialogDriver driver({WaitForDialog(dialog), [&] {
                             delay = ItemText(dialog, IDC_DELAY_EDIT);
                             timeout = ItemText(dialog, IDC_TIMEOUT_EDIT);
                             tip = CheckState(dialog, IDC_ENABLE_BALLOON);
                             updates = CheckState(dialog, IDC_CHECK_UPDATES);
                             PostClick(dialog, IDCANCEL);
                             return true;
                         }});

    ShowSettingsDialog(nullptr);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(delay, c.delayText);
    EXPECT_EQ(timeout, c.timeoutText);
    EXPECT_EQ(tip, c.tipState);
    EXPECT_EQ(updates, c.updatesState);
    EXPECT_TRUE(driver.messages.empty());
    EXPECT_EQ(Fields(GetSettings()), Fields(c.stored));
}

INSTANTIATE_TEST_SUITE_P(
    Records, SettingsDialogShowTest,
    ::testing::Values(
        ShowCase{"Defaults", kDefaults, "5", "7", BST_CHECKED, BST_CHECKED},
        ShowCase{"StoredDelayOutOfRangeShownAsIs", With(kDefaults, &Settings::BalloonDelay, 50), "50", "7",
                 BST_CHECKED, BST_CHECKED},
        ShowCase{"TipEnabledFiveShowsClear", With(kDefaults, &Settings::TipEnabled, 5), "5", "7", BST_UNCHECKED,
                 BST_CHECKED},
        ShowCase{"NegativeCheckUpdatesShowsClear", With(kDefaults, &Settings::CheckUpdates, -1), "5", "7",
                 BST_CHECKED, BST_UNCHECKED}),
    RowName{});

// --- Pressing OK -------------------------------------------------------------------------

constexpr int kLeave = -1;

struct OkCase {
    const char* name;
    Settings stored;
    std::optional<std::string> delayText;  // nullopt: left as shown
    std::optional<std::string> timeoutText;
    int tipState;  // kLeave: left as shown
    int updatesState;
    // Refused: the messages shown and the edit that gets the focus; then Cancel.
    std::vector<std::string> messages;
    int focusedEdit;
    Settings accepted;  // the record after an accepted OK
};

OkCase Refused(const char* name, Settings stored, std::optional<std::string> delay,
               std::optional<std::string> timeout, const char* message, int focusedEdit)
{
    return OkCase{name, stored, delay, timeout, kLeave, kLeave, {message}, focusedEdit, Settings{}};
}

OkCase Accepted(const char* name, Settings stored, std::optional<std::string> delay,
                std::optional<std::string> timeout, int tip, int updates, Settings accepted)
{
    return OkCase{name, stored, delay, timeout, tip, updates, {}, 0, accepted};
}

class SettingsDialogOkTest : public SettingsDialogTest, public ::testing::WithParamInterface<OkCase> {};

TEST_P(SettingsDialogOkTest, AcceptsValidInputAndRefusesTheRestWithItsMessage)
{
    const OkCase& c = GetParam();
    const bool refused = !c.messages.empty();
    GetSettings() = c.stored;
    HWND dialog = nullptr;
    int focusId = 0;
    DWORD selStart = 1, selEnd = 0;
    std::string focusedText;
    std::vector<DialogDriver::Step> steps = {WaitForDialog(dialog), [&] {
                                                 if (c.delayText)
                                                     ::SetDlgItemTextA(dialog, IDC_DELAY_EDIT, c.delayText->c_str());
                                                 if (c.timeoutText)
                                                     ::SetDlgItemTextA(dialog, IDC_TIMEOUT_EDIT,
                                                                       c.timeoutText->c_str());
                                                 if (c.tipState != kLeave)
                                                     ::CheckDlgButton(dialog, IDC_ENABLE_BALLOON, c.tipState);
                                                 if (c.updatesState != kLeave)
                                                     ::CheckDlgButton(dialog, IDC_CHECK_UPDATES, c.updatesState);
                                                 PostClick(dialog, IDOK);
                                                 return true;
                                             }};
    DialogDriver* driverPtr = nullptr;
    if (refused) {
        // Once the message is answered and gone, the dialog must still be there with the
        // failing edit focused and its text selected.
        steps.push_back([&] {
            if (driverPtr->messages.empty() || FindDialog(kMessageCaption) != nullptr)
                return false;
            const HWND focus = ::GetFocus();
            focusId = ::GetDlgCtrlID(focus);
            ::SendMessageA(focus, EM_GETSEL, reinterpret_cast<WPARAM>(&selStart), reinterpret_cast<LPARAM>(&selEnd));
            focusedText = ItemText(dialog, c.focusedEdit);
            PostClick(dialog, IDCANCEL);
            return true;
        });
    }
    DialogDriver driver(std::move(steps));
    driverPtr = &driver;

    ShowSettingsDialog(nullptr);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(driver.messages, c.messages);
    if (refused) {
        EXPECT_EQ(focusId, c.focusedEdit);
        EXPECT_EQ(selStart, 0u);
        EXPECT_EQ(selEnd, focusedText.size());
        EXPECT_EQ(Fields(GetSettings()), Fields(c.stored));
    } else {
        EXPECT_EQ(Fields(GetSettings()), Fields(c.accepted));
    }
}

INSTANTIATE_TEST_SUITE_P(
    Attempts, SettingsDialogOkTest,
    ::testing::Values(
        Refused("StoredDelayFiftyRefusedWithItsBounds", With(kDefaults, &Settings::BalloonDelay, 50), std::nullopt,
                std::nullopt, kDelayRange, IDC_DELAY_EDIT),
        Refused("EmptiedDelayIsNotAnInteger", kDefaults, "", std::nullopt, kNotAnInteger, IDC_DELAY_EDIT),
        Refused("TimeoutZeroRefusedWhileDelayZeroPasses", kDefaults, "0", "0", kTimeoutRange, IDC_TIMEOUT_EDIT),
        Refused("BothEditsInvalidShowsOnlyTheDelayMessage", kDefaults, "x", "y", kNotAnInteger, IDC_DELAY_EDIT),
        Refused("DelayAboveRange", kDefaults, "31", std::nullopt, kDelayRange, IDC_DELAY_EDIT),
        Refused("NegativeDelayBelowRange", kDefaults, "-1", std::nullopt, kDelayRange, IDC_DELAY_EDIT),
        Refused("TimeoutAboveRange", kDefaults, std::nullopt, "31", kTimeoutRange, IDC_TIMEOUT_EDIT),
        Refused("NumberPast32BitsIsNotAnInteger", kDefaults, "99999999999", std::nullopt, kNotAnInteger,
                IDC_DELAY_EDIT),
        Refused("OnlySixtyThreeCharactersAreRead", kDefaults, std::string(63, ' ') + "5", std::nullopt, kNotAnInteger,
                IDC_DELAY_EDIT),
        Accepted("NumberAtTheSixtyThirdCharacterIsRead", kDefaults, std::string(62, ' ') + "9", std::nullopt, kLeave,
                 kLeave, With(kDefaults, &Settings::BalloonDelay, 9)),
        Accepted("EditsAndBoxesReplaceTheRecord", kDefaults, "12", "9", BST_UNCHECKED, BST_UNCHECKED,
                 Settings{0, 0, kLastCheck, 12, 9}),
        Accepted("WhiteSpaceSignAndTrailingTextAllowed", kDefaults, " 12abc", "+9", kLeave, kLeave,
                 Settings{1, 1, kLastCheck, 12, 9}),
        Accepted("LowerBoundsAccepted", kDefaults, "0", "1", kLeave, kLeave, Settings{1, 1, kLastCheck, 0, 1}),
        Accepted("UpperBoundsAccepted", kDefaults, "30", "30", kLeave, kLeave, Settings{1, 1, kLastCheck, 30, 30}),
        Accepted("TipEnabledFiveStoresZeroUnlessTicked", With(kDefaults, &Settings::TipEnabled, 5), std::nullopt,
                 std::nullopt, kLeave, kLeave, With(kDefaults, &Settings::TipEnabled, 0)),
        Accepted("TipEnabledFiveTickedStoresOne", With(kDefaults, &Settings::TipEnabled, 5), std::nullopt,
                 std::nullopt, BST_CHECKED, kLeave, kDefaults)),
    RowName{});

// --- The record around the dialog ---------------------------------------------------------

TEST_F(SettingsDialogTest, OkRestoresTheLastUpdateCheckCopiedAtOpening)
{
    GetSettings() = kDefaults;
    HWND dialog = nullptr;
    DialogDriver driver({WaitForDialog(dialog), [&] {
                             // As the update check would, from a tick inside the modal loop.
                             GetSettings().LastUpdateCheck = kLastCheck + 86400;
                             ::SetDlgItemTextA(dialog, IDC_DELAY_EDIT, "3");
                             PostClick(dialog, IDOK);
                             return true;
                         }});

    ShowSettingsDialog(nullptr);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(Fields(GetSettings()), Fields(With(kDefaults, &Settings::BalloonDelay, 3)));
}

TEST_F(SettingsDialogTest, SecondCallBringsTheOpenDialogForwardInsteadOfOpeningAnother)
{
    GetSettings() = kDefaults;
    // Some other window of ours holds the foreground when the second call comes.
    const HWND other = ::CreateWindowExA(0, "STATIC", "other", WS_POPUP | WS_VISIBLE, 0, 0, 50, 50, nullptr, nullptr,
                                         nullptr, nullptr);
    ASSERT_NE(other, nullptr);
    HWND dialog = nullptr;
    HWND foregroundBefore = nullptr, foregroundAfter = nullptr;
    int dialogsAfter = 0;
    bool secondCallReturned = false;
    DialogDriver driver({WaitForDialog(dialog), [&] {
                             ::SetForegroundWindow(other);
                             foregroundBefore = ::GetForegroundWindow();
                             ShowSettingsDialog(nullptr);
                             secondCallReturned = true;
                             foregroundAfter = ::GetForegroundWindow();
                             dialogsAfter = CountDialogs(kCaption);
                             PostClick(dialog, IDCANCEL);
                             return true;
                         }});

    ShowSettingsDialog(nullptr);
    ::DestroyWindow(other);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_TRUE(secondCallReturned);
    EXPECT_EQ(dialogsAfter, 1);
    EXPECT_EQ(foregroundBefore, other);
    EXPECT_EQ(foregroundAfter, dialog);
}

TEST_F(SettingsDialogTest, SpinControlsHaveTheirRangesAndTheirEdits)
{
    GetSettings() = kDefaults;
    HWND dialog = nullptr;
    struct Spin {
        int lower = -99, upper = -99;
        int buddyId = 0;
    } delay, timeout;
    const auto readSpin = [&dialog](int id, Spin& spin) {
        ::SendDlgItemMessageA(dialog, id, UDM_GETRANGE32, reinterpret_cast<WPARAM>(&spin.lower),
                              reinterpret_cast<LPARAM>(&spin.upper));
        spin.buddyId = ::GetDlgCtrlID(reinterpret_cast<HWND>(::SendDlgItemMessageA(dialog, id, UDM_GETBUDDY, 0, 0)));
    };
    DialogDriver driver({WaitForDialog(dialog), [&] {
                             readSpin(IDC_DELAY_SPIN, delay);
                             readSpin(IDC_TIMEOUT_SPIN, timeout);
                             PostClick(dialog, IDCANCEL);
                             return true;
                         }});

    ShowSettingsDialog(nullptr);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(std::make_pair(delay.lower, delay.upper), std::make_pair(0, 30));
    EXPECT_EQ(std::make_pair(timeout.lower, timeout.upper), std::make_pair(1, 30));
    EXPECT_EQ(delay.buddyId, IDC_DELAY_EDIT);
    EXPECT_EQ(timeout.buddyId, IDC_TIMEOUT_EDIT);
}

}  // namespace
