// Finding, reading and driving the plug-in's dialogs and menus.
#include "tools/player_sim/desktop_watcher.h"

#include "tools/dll_watch/thread_windows.h"
#include "tools/player_sim/text.h"

#include <algorithm>

namespace {

// The menu window's own message for its menu handle.
constexpr UINT kMenuGetHandle = 0x01E1;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    ::GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string TextOf(HWND window)
{
    const int length = ::GetWindowTextLengthA(window);
    if (length <= 0)
        return {};
    std::string text(static_cast<std::size_t>(length) + 1, '\0');
    text.resize(static_cast<std::size_t>(std::max(::GetWindowTextA(window, text.data(), length + 1), 0)));
    return Utf8FromAnsi(text);
}

std::string WithoutAccelerators(std::string text)
{
    text.erase(std::remove(text.begin(), text.end(), '&'), text.end());
    return text;
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM list)
{
    reinterpret_cast<std::vector<HWND>*>(list)->push_back(window);
    return TRUE;
}

std::vector<HWND> Children(HWND parent)
{
    std::vector<HWND> children;
    ::EnumChildWindows(parent, &CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

// What a dialog shows, control by control in their order.
struct DialogContent {
    std::vector<std::string> texts, buttons, checkboxes, edits;
    std::string line;
};

DialogContent ReadDialog(HWND dialog)
{
    DialogContent content;
    for (const HWND child : Children(dialog)) {
        if (::GetParent(child) != dialog || !::IsWindowVisible(child))
            continue;
        const std::string kind = ClassOf(child);
        const std::string text = TextOf(child);
        std::string shown;
        if (::lstrcmpiA(kind.c_str(), "Button") == 0) {
            const LONG_PTR style = ::GetWindowLongPtrA(child, GWL_STYLE) & BS_TYPEMASK;
            if (style == BS_CHECKBOX || style == BS_AUTOCHECKBOX || style == BS_3STATE || style == BS_AUTO3STATE) {
                const bool checked = ::SendMessageA(child, BM_GETCHECK, 0, 0) == BST_CHECKED;
                content.checkboxes.push_back((checked ? "[x] " : "[ ] ") + WithoutAccelerators(text));
                shown = content.checkboxes.back();
            } else if (style != BS_GROUPBOX) {
                content.buttons.push_back(WithoutAccelerators(text));
                shown = "<" + content.buttons.back() + ">";
            }
        } else if (::lstrcmpiA(kind.c_str(), "Edit") == 0) {
            content.edits.push_back(text);
            shown = "[" + text + "]";
        } else if (::lstrcmpiA(kind.c_str(), "Static") == 0 && !text.empty()) {
            content.texts.push_back(text);
            shown = text;
        }
        if (!shown.empty())
            content.line += (content.line.empty() ? "" : " ") + shown;
    }
    return content;
}

std::vector<std::string> ReadMenu(HMENU menu, std::string& line)
{
    std::vector<std::string> items;
    for (const MenuItem& read : ReadMenuItems(menu)) {
        std::string item = WithoutAccelerators(Utf8FromAnsi(read.text));
        // A separator, or a text item without text, which draws as one.
        if ((read.type & MFT_SEPARATOR) || item.empty())
            item = "----";
        else if (read.state & MFS_CHECKED)
            item = "[x] " + item;
        items.push_back(item);
        line += (line.empty() ? "" : " | ") + item;
    }
    return items;
}

HMENU MenuOf(HWND menuWindow)
{
    return reinterpret_cast<HMENU>(::SendMessageA(menuWindow, kMenuGetHandle, 0, 0));
}

}  // namespace

void DesktopWatcher::Scan()
{
    const std::vector<HWND> dialogs = ThreadWindowsOfClass(kDialogClass, true);
    const std::vector<HWND> menus = ThreadWindowsOfClass(kMenuClass, true);

    for (auto seen = m_seen.begin(); seen != m_seen.end();) {
        const std::vector<HWND>& now = seen->menu ? menus : dialogs;
        if (std::find(now.begin(), now.end(), seen->window) != now.end()) {
            ++seen;
            continue;
        }
        if (seen->menu)
            m_transcript.Add("menu", "menu-closed", "closed", JsonLine());
        else
            m_transcript.Add("dialog", "dialog-closed", "\"" + seen->caption + "\" closed",
                             JsonLine().Str("caption", seen->caption));
        seen = m_seen.erase(seen);
    }
    for (const HWND dialog : dialogs)
        Opened(dialog, false);
    for (const HWND menu : menus)
        Opened(menu, true);
}

void DesktopWatcher::Opened(HWND window, bool menu)
{
    if (std::any_of(m_seen.begin(), m_seen.end(), [&](const Seen& seen) { return seen.window == window; }))
        return;
    if (menu) {
        std::string line;
        const std::vector<std::string> items = ReadMenu(MenuOf(window), line);
        m_seen.push_back({window, true, {}});
        m_menuKeys = 0;
        m_transcript.Add("menu", "menu-opened", "opened: " + line, JsonLine().List("items", items));
        return;
    }
    const std::string caption = TextOf(window);
    const DialogContent content = ReadDialog(window);
    m_seen.push_back({window, false, caption});
    m_transcript.Add("dialog", "dialog-opened", "\"" + caption + "\" opened: " + content.line,
                     JsonLine()
                         .Str("caption", caption)
                         .List("texts", content.texts)
                         .List("buttons", content.buttons)
                         .List("checkboxes", content.checkboxes)
                         .List("edits", content.edits));
}

HWND DesktopWatcher::FindDialog(const std::string& caption) const
{
    for (const HWND dialog : ThreadWindowsOfClass(kDialogClass, true)) {
        if (TextOf(dialog) == caption)
            return dialog;
    }
    return nullptr;
}

bool DesktopWatcher::ClickButton(HWND dialog, const std::string& text)
{
    for (const HWND child : Children(dialog)) {
        if (::lstrcmpiA(ClassOf(child).c_str(), "Button") != 0 || WithoutAccelerators(TextOf(child)) != text ||
            !::IsWindowEnabled(child))
            continue;
        const std::string caption = TextOf(dialog);
        m_transcript.Add("user", "dialog-answered", "clicks <" + text + "> in \"" + caption + "\"",
                         JsonLine().Str("caption", caption).Str("button", text));
        // Posted: a sent click would run whatever modal loop it starts inside this call.
        ::PostMessageA(child, BM_CLICK, 0, 0);
        return true;
    }
    return false;
}

HWND DesktopWatcher::OpenMenu() const
{
    const std::vector<HWND> menus = ThreadWindowsOfClass(kMenuClass, true);
    return menus.empty() ? nullptr : menus.front();
}

DesktopWatcher::MenuProgress DesktopWatcher::ChooseMenuItem(const std::string& text)
{
    const HWND window = OpenMenu();
    const HMENU menu = window ? MenuOf(window) : nullptr;
    if (!menu)
        return MenuProgress::NoSuchItem;
    const int count = ::GetMenuItemCount(menu);
    int wanted = -1;
    for (int i = 0; i < count && wanted < 0; ++i) {
        char itemText[256] = {};
        ::GetMenuStringA(menu, static_cast<UINT>(i), itemText, sizeof(itemText), MF_BYPOSITION);
        if (WithoutAccelerators(Utf8FromAnsi(itemText)) == text)
            wanted = i;
    }
    // Every item is reached within a round of the menu.
    if (wanted < 0 || m_menuKeys > 2 * count + 2)
        return MenuProgress::NoSuchItem;
    if (::GetMenuState(menu, static_cast<UINT>(wanted), MF_BYPOSITION) & MF_HILITE) {
        m_transcript.Add("user", "menu-chosen", "chooses \"" + text + "\"", JsonLine().Str("item", text));
        ::PostMessageA(window, WM_KEYDOWN, VK_RETURN, 0);
        return MenuProgress::Chosen;
    }
    ++m_menuKeys;
    ::PostMessageA(window, WM_KEYDOWN, VK_DOWN, 0);
    return MenuProgress::Pending;
}

void DesktopWatcher::CloseMenu()
{
    if (const HWND window = OpenMenu()) {
        m_transcript.Add("user", "menu-dismissed", "closes the menu", JsonLine());
        ::PostMessageA(window, WM_KEYDOWN, VK_ESCAPE, 0);
    }
}

void DesktopWatcher::EndEverything()
{
    if (OpenMenu())
        ::EndMenu();
    for (const HWND dialog : ThreadDialogs()) {
        if (std::find(m_ended.begin(), m_ended.end(), dialog) == m_ended.end()) {
            m_ended.push_back(dialog);
            const std::string caption = TextOf(dialog);
            m_transcript.Add("sim", "dialog-ended", "ends \"" + caption + "\" as its Escape key would",
                             JsonLine().Str("caption", caption));
        }
        ::PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    }
}
