// The tray menu: what it offers, how it marks the balloon switch, how a choice comes back to
// the notifier window, and what each command does there.
#include "notifier/notifier_wnd.h"

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <vector>

#include "framework/com_module.h"
#include "tests/win/menu_watcher.h"
#include "tests/win/notifier_fixture.h"
#include "res/resource.h"
#include "tools/dll_watch/thread_windows.h"
#include "tests/table_row.h"

namespace {

constexpr char kLyricsPage[] = "http://lyrics.example/view?song=1";

std::string HomePage()
{
    return LoadStringResource(IDS_HOME_PAGE);
}

class TrayMenuTest : public NotifierTest {};

struct ExpectedItem {
    const char* text;
    UINT id;
};

const ExpectedItem kItems[] = {
    {"Quillmark Home", IDM_HOME},
    {"", 0},  // the separator
    {"Enable Balloon", IDM_ENABLE_BALLOON},
    {"Settings", IDM_SETTINGS},
};
constexpr std::size_t kSeparator = 1;
constexpr std::size_t kBalloonSwitch = 2;

using SwitchCase = TableRow<std::int32_t, bool>;

class TrayMenuItemsTest : public TrayMenuTest, public ::testing::WithParamInterface<SwitchCase> {};

TEST_P(TrayMenuItemsTest, OffersFourPlainItemsAndMarksTheBalloonSwitch)
{
    GetSettings().TipEnabled = GetParam().input;
    MenuWatcher watcher(m_wnd->m_hWnd);
    m_wnd->ShowTrayMenu();

    // The menu's loop reported to the notifier window, so that window owns it.
    ASSERT_EQ(watcher.menus.size(), 1u);
    const MenuWatcher::Menu& items = watcher.menus[0];
    ASSERT_EQ(items.size(), std::size(kItems));
    for (std::size_t i = 0; i < items.size(); ++i) {
        SCOPED_TRACE(i);
        EXPECT_EQ(items[i].text, kItems[i].text);
        EXPECT_EQ(items[i].id, kItems[i].id);
        EXPECT_EQ(items[i].submenu, nullptr);
        EXPECT_EQ(items[i].type & (MFT_BITMAP | MFT_OWNERDRAW | MFT_RADIOCHECK), 0u);
        // The platform may report the separator as disabled: it is one, and only it.
        const UINT forbidden = i == kSeparator ? MFS_DEFAULT : MFS_DEFAULT | MFS_DISABLED;
        EXPECT_EQ(items[i].state & forbidden, 0u);
        const bool checked = i == kBalloonSwitch && GetParam().expected;
        EXPECT_EQ((items[i].state & MFS_CHECKED) != 0, checked);
    }
    // Every item but the separator is text; the second is a real separator.
    for (const std::size_t i : {0u, 2u, 3u})
        EXPECT_EQ(items[i].type & MFT_SEPARATOR, 0u) << i;
    EXPECT_NE(items[kSeparator].type & MFT_SEPARATOR, 0u);

    // Leaving the menu without a choice sends no command.
    PumpMessagesFor(100);
    EXPECT_EQ(GetSettings().TipEnabled, GetParam().input);
    EXPECT_TRUE(m_shell.opened.empty());
}

INSTANTIATE_TEST_SUITE_P(Switch, TrayMenuItemsTest,
                         ::testing::Values(SwitchCase{"Off", 0, false}, SwitchCase{"On", 1, true},
                                           SwitchCase{"StoredOddValue", 5, true}),
                         RowName{});

TEST_F(TrayMenuTest, CheckMarkFollowsTheSwitchAtEachOpening)
{
    MenuWatcher watcher(m_wnd->m_hWnd);
    m_wnd->ShowTrayMenu();
    ::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, IDM_ENABLE_BALLOON, 0);
    m_wnd->ShowTrayMenu();
    ::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, IDM_ENABLE_BALLOON, 0);
    m_wnd->ShowTrayMenu();
    ASSERT_EQ(watcher.menus.size(), 3u);
    std::string marks;
    for (const MenuWatcher::Menu& menu : watcher.menus) {
        ASSERT_GT(menu.size(), kBalloonSwitch);
        marks += (menu[kBalloonSwitch].state & MFS_CHECKED) != 0 ? 'x' : '-';
    }
    EXPECT_EQ(marks, "x-x");
}

TEST_F(TrayMenuTest, ChosenItemComesBackToTheNotifierAsItsCommand)
{
    MenuWatcher watcher(m_wnd->m_hWnd, {VK_DOWN, VK_RETURN});
    m_wnd->ShowTrayMenu();
    ASSERT_EQ(watcher.menus.size(), 1u);
    PumpMessagesUntil(1000, [this] { return !m_shell.opened.empty(); });
    EXPECT_EQ(m_shell.opened, std::vector<std::string>{HomePage()});
}

// Down from nothing chosen lands on "Quillmark Home"; a second Down passes the separator by,
// where an empty text item would stop and, with its id 0, open the home page.
TEST_F(TrayMenuTest, SeparatorCannotBeChosen)
{
    GetSettings().TipEnabled = 1;
    MenuWatcher watcher(m_wnd->m_hWnd, {VK_DOWN, VK_DOWN, VK_RETURN});
    m_wnd->ShowTrayMenu();
    ASSERT_EQ(watcher.menus.size(), 1u);
    PumpMessagesUntil(1000, [] { return GetSettings().TipEnabled == 0; });
    EXPECT_EQ(GetSettings().TipEnabled, 0);
    EXPECT_TRUE(m_shell.opened.empty());
}

TEST_F(TrayMenuTest, MenuHoldsTheModuleWhileItIsOpen)
{
    LONG locksInside = -1;
    MenuWatcher watcher(m_wnd->m_hWnd, {}, [&locksInside] { locksInside = Module().LockCount(); });
    const LONG before = Module().LockCount();
    m_wnd->ShowTrayMenu();
    ASSERT_EQ(watcher.menus.size(), 1u);
    EXPECT_EQ(locksInside, before + 1);
    EXPECT_EQ(Module().LockCount(), before);
}

struct CommandCase {
    const char* name;
    WPARAM wParam;
    std::int32_t tipBefore;
    std::int32_t tipAfter;
    bool opensHomePage;
};

const CommandCase kCommands[] = {
    {"HomeOpensTheHomePage", IDM_HOME, 1, 1, true},
    {"HomeWhateverTheNotificationCode", MAKEWPARAM(IDM_HOME, 1), 1, 1, true},
    {"SwitchTurnsBalloonsOn", IDM_ENABLE_BALLOON, 0, 1, false},
    {"SwitchTurnsBalloonsOff", IDM_ENABLE_BALLOON, 1, 0, false},
    {"SwitchTurnsAnOddStoredValueOff", IDM_ENABLE_BALLOON, 5, 0, false},
    {"SwitchTurnsANegativeStoredValueOff", IDM_ENABLE_BALLOON, -1, 0, false},
    {"SwitchReadsOnlyTheLowWord", MAKEWPARAM(IDM_ENABLE_BALLOON, 0x1234), 0, 1, false},
    {"UnknownCommandChangesNothing", 7, 1, 1, false},
    {"CommandInTheHighWordOnlyIsUnknown", MAKEWPARAM(7, IDM_ENABLE_BALLOON), 0, 0, false},
};

class TrayCommandTest : public TrayMenuTest, public ::testing::WithParamInterface<CommandCase> {};

TEST_P(TrayCommandTest, CommandTakesEffectAndAnswersZero)
{
    const CommandCase& c = GetParam();
    GetSettings().TipEnabled = c.tipBefore;
    EXPECT_EQ(::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, c.wParam, 0), 0);
    EXPECT_EQ(GetSettings().TipEnabled, c.tipAfter);
    EXPECT_EQ(m_shell.opened, c.opensHomePage ? std::vector<std::string>{HomePage()} : std::vector<std::string>{});
}

INSTANTIATE_TEST_SUITE_P(Commands, TrayCommandTest, ::testing::ValuesIn(kCommands),
                         RowName{});

TEST_F(TrayMenuTest, HomePageLeavesTheLyricsAddressAlone)
{
    ASSERT_FALSE(HomePage().empty());
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    ::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, IDM_HOME, 0);
    ::SendMessageA(m_wnd->m_hWnd, WM_NOTIFYICON, 0, WM_LBUTTONDBLCLK);
    EXPECT_EQ(m_shell.opened, (std::vector<std::string>{HomePage(), kLyricsPage}));
}

TEST_F(TrayMenuTest, SwitchingBalloonsOffLeavesAPendingBalloon)
{
    GetSettings().BalloonDelay = 1;
    GetSettings().BalloonTimeout = 5;
    m_wnd->ShowFound("Song", kLyricsPage, kStart);
    m_shell.notifications.clear();
    ::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, IDM_ENABLE_BALLOON, 0);
    ASSERT_EQ(GetSettings().TipEnabled, 0);
    EXPECT_TRUE(m_shell.notifications.empty());
    Tick(kStart + 1);
    ASSERT_EQ(m_shell.notifications.size(), 1u);
    EXPECT_EQ(m_shell.notifications[0].uFlags, static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP | NIF_INFO));
}

// Finds the settings dialog from inside its modal loop and cancels it.
struct DialogProbe {
    HWND owner = nullptr;
    int found = 0;
    std::string caption;
};
DialogProbe g_dialogProbe;

void CALLBACK LookForTheDialog(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_dialogProbe.found != 0)
        return;
    for (const HWND dialog : ThreadDialogs()) {
        if (::GetWindow(dialog, GW_OWNER) != g_dialogProbe.owner)
            continue;
        char caption[64] = {};
        ::GetWindowTextA(dialog, caption, sizeof(caption));
        g_dialogProbe.caption = caption;
        ++g_dialogProbe.found;
        ::PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        return;
    }
}

TEST_F(TrayMenuTest, SettingsOpensTheSettingsDialogOverTheNotifier)
{
    g_dialogProbe = DialogProbe{};
    g_dialogProbe.owner = m_wnd->m_hWnd;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 50, &LookForTheDialog);
    EXPECT_EQ(::SendMessageA(m_wnd->m_hWnd, WM_COMMAND, IDM_SETTINGS, 0), 0);
    ::KillTimer(nullptr, timer);
    EXPECT_EQ(g_dialogProbe.found, 1);
    EXPECT_EQ(g_dialogProbe.caption, "Tunelore Settings");
}

}  // namespace
