// The plug-in object that the player creates: an apartment-threaded COM object implementing
// the player's UI plug-in interface. It holds the player's core, through which the poll reads
// the play state and the current item; it creates no window of its own.
#pragma once

#include "framework/unique_handle.h"
#include "plugin/player_interface.h"
#include "lookup/track.h"

#include <ocidl.h>

#include <string>

// {921BC298-60F8-4557-A01D-ECEE7CC020A1}, the same in the object map and the registration.
extern const CLSID CLSID_TunelorePlugin;

class TunelorePlugin : public IWMPPluginUI {
public:
    // The class factory's creator: with an outer object the new object is aggregated and
    // hands out its inner IUnknown (the only interface an aggregate may ask for).
    static HRESULT CreateInstance(IUnknown* outer, REFIID iid, void** object);

    // Enters g_livePlugins and raises the module lock count; the destructor undoes both.
    explicit TunelorePlugin(IUnknown* outer = nullptr);
    virtual ~TunelorePlugin();
    TunelorePlugin(const TunelorePlugin&) = delete;
    TunelorePlugin& operator=(const TunelorePlugin&) = delete;

    // IUnknown: the controlling unknown's (the outer object's when aggregated).
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
    ULONG STDMETHODCALLTYPE AddRef() override;
    ULONG STDMETHODCALLTYPE Release() override;

    // IWMPPluginUI: the player's calls. None lets an exception out to the player.
    HRESULT STDMETHODCALLTYPE SetCore(IWMPCore* pCore) override;
    HRESULT STDMETHODCALLTYPE Create(HWND hwndParent, HWND* phwndWindow) override;
    HRESULT STDMETHODCALLTYPE Destroy() override;
    HRESULT STDMETHODCALLTYPE DisplayPropertyPage(HWND hwndParent) override;
    HRESULT STDMETHODCALLTYPE GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty) override;
    HRESULT STDMETHODCALLTYPE SetProperty(const WCHAR* pwszName, const VARIANT* pvarProperty) override;
    HRESULT STDMETHODCALLTYPE TranslateAccelerator(LPMSG lpmsg) override;

    void Poll();
    Track CaptureTrack();
    // The same capture into a record that exists already, which keeps its storage.
    void Capture(Track& track);
    // name is row's attribute name of the capture's table, in the player's string type.
    void ReadAttribute(IWMPMedia* item, long index, size_t row, BSTR name, std::string& field);

private:
    // The non-delegating IUnknown that an aggregating outer object holds.
    class InnerUnknown : public IUnknown {
    public:
        explicit InnerUnknown(TunelorePlugin& owner) : m_owner(owner) {}
        HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;
        ULONG STDMETHODCALLTYPE AddRef() override;
        ULONG STDMETHODCALLTYPE Release() override;

    private:
        TunelorePlugin& m_owner;
    };

    // The bodies of SetCore and GetProperty, inside their exception boundary.
    HRESULT TakeCore(IWMPCore* pCore);
    HRESULT AnswerProperty(const WCHAR* pwszName, VARIANT* pvarProperty);

    HRESULT InternalQueryInterface(REFIID iid, void** object);
    ULONG InternalAddRef();
    ULONG InternalRelease();
    void ReleaseCore();

    // Apartment-threaded: the player calls on one thread, so the count is a plain counter.
    LONG m_cRef = 0;
    com_ptr<IWMPCore> m_spCore;
    com_ptr<IConnectionPoint> m_spEventsPoint;
    DWORD m_dwEventsCookie = 0;
    IUnknown* m_pOuterUnknown;  // not owned: it owns us
    InnerUnknown m_innerUnknown;
};
