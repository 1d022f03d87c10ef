// The tray menu of the notifier window and the commands it sends back to it.
#include "notifier/notifier_wnd.h"

#include "framework/com_module.h"
#include "framework/module.h"
#include "framework/shell.h"
#include "framework/unique_handle.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "settings/settings_dialog.h"

void CNotifierWnd::ShowTrayMenu()
{
    const unique_hmenu menu(::CreatePopupMenu());
    if (!menu)
        return;

    struct Item {
        UINT flags;
        UINT id;
        const char* text;
    };
    // The check mark shows the setting as it is now; it is not refreshed while the menu is open.
    const UINT balloonCheck = GetSettings().TipEnabled != 0 ? MF_CHECKED : MF_UNCHECKED;
    const Item items[] = {
        {MF_STRING, IDM_HOME, "Quillmark Home"},
        // A real separator: a text item without text would be an empty row that can be
        // chosen, and its id 0 is IDM_HOME.
        {MF_SEPARATOR, 0, nullptr},
        {MF_STRING | balloonCheck, IDM_ENABLE_BALLOON, "Enable Balloon"},
        {MF_STRING, IDM_SETTINGS, "Settings"},
    };
    for (const Item& item : items)
        ::AppendMenuA(menu.get(), item.flags, item.id, item.text);

    POINT pointer{};
    ::GetCursorPos(&pointer);
    // A menu whose owner is not in the foreground does not close when the user clicks elsewhere.
    ::SetForegroundWindow(m_hWnd);
    // The choice comes back to this window as WM_COMMAND. The menu's loop runs with this
    // module's code below it: the module stays loaded until it has returned.
    const ModuleLock lock;
    ::TrackPopupMenu(menu.get(), 0, pointer.x, pointer.y, 0, m_hWnd, nullptr);
}

void CNotifierWnd::OnCommand(UINT id)
{
    switch (id) {
    case IDM_HOME:
        Shell().Open(LoadStringResource(IDS_HOME_PAGE));
        break;
    case IDM_ENABLE_BALLOON: {
        // Stored settings may hold any number; everything but 0 counts as on.
        std::int32_t& tipEnabled = GetSettings().TipEnabled;
        tipEnabled = tipEnabled == 0 ? 1 : 0;
        break;
    }
    case IDM_SETTINGS:
        ShowSettingsDialog(m_hWnd);
        break;
    default:
        Default();
        break;
    }
}
