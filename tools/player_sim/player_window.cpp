// The player window's class, its registered message and its property-page request.
#include "tools/player_sim/player_window.h"

#include <utility>

namespace {

constexpr char kClassName[] = "TunelorePlayerSim";
constexpr UINT WM_PROPERTY_PAGE = WM_APP + 0x100;

}  // namespace

PlayerWindow::PlayerWindow(std::function<void()> onPluginsChanged, std::function<void()> onPropertyPage)
    : m_onPluginsChanged(std::move(onPluginsChanged)), m_onPropertyPage(std::move(onPropertyPage))
{
    m_pluginAddRemove = ::RegisterWindowMessageA("WMPlayer_PluginAddRemove");
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = &PlayerWindow::WindowProc;
    windowClass.hInstance = ::GetModuleHandleA(nullptr);
    windowClass.lpszClassName = kClassName;
    ::RegisterClassA(&windowClass);
    // Not a message-only window: broadcasts reach top-level windows only.
    m_window.reset(::CreateWindowExA(0, kClassName, "Tunelore player simulator", WS_OVERLAPPEDWINDOW, CW_USEDEFAULT,
                                     CW_USEDEFAULT, 400, 300, nullptr, nullptr, windowClass.hInstance, this));
}

void PlayerWindow::RequestPropertyPage()
{
    ::PostMessageA(m_window.get(), WM_PROPERTY_PAGE, 0, 0);
}

LRESULT CALLBACK PlayerWindow::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_NCCREATE) {
        const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lParam);
        ::SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
    }
    auto* self = reinterpret_cast<PlayerWindow*>(::GetWindowLongPtrA(window, GWLP_USERDATA));
    if (self != nullptr) {
        if (self->m_pluginAddRemove != 0 && message == self->m_pluginAddRemove) {
            self->m_onPluginsChanged();
            return 0;
        }
        if (message == WM_PROPERTY_PAGE) {
            self->m_onPropertyPage();
            return 0;
        }
    }
    return ::DefWindowProcA(window, message, wParam, lParam);
}
