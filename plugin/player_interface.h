// The player's side of the boundary: its core, media and events interfaces come from the
// platform's wmp.h; the UI plug-in interface that the player calls is declared here from its
// published layout.
#pragma once

#include <windows.h>
#include <ole2.h>
#include <wmp.h>

// Slot order after IUnknown is fixed by the player: SetCore, Create, Destroy,
// DisplayPropertyPage, GetProperty, SetProperty, TranslateAccelerator.
MIDL_INTERFACE("4C5E8F9F-AD3E-4BF9-9753-FCD30D6D38DD")
IWMPPluginUI : public IUnknown {
public:
    virtual HRESULT STDMETHODCALLTYPE SetCore(IWMPCore* pCore) = 0;
    virtual HRESULT STDMETHODCALLTYPE Create(HWND hwndParent, HWND* phwndWindow) = 0;
    virtual HRESULT STDMETHODCALLTYPE Destroy() = 0;
    virtual HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND hwndParent) = 0;
    virtual HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pwszName, const VARIANT* pvarProperty) = 0;
    virtual HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) = 0;
};
__CRT_UUID_DECL(IWMPPluginUI, 0x4c5e8f9f, 0xad3e, 0x4bf9, 0x97, 0x53, 0xfc, 0xd3, 0x0d, 0x6d, 0x38, 0xdd)

