// The plug-in object's COM side: identity and aggregation, its hold on the player's core and
// the core's events connection point, and the player's property requests.
#include "plugin/tunelore_plugin.h"

#include "framework/boundary.h"
#include "framework/com_module.h"
#include "lookup/ilyrics_lookup.h"
#include "plugin/player_poll.h"

#include <algorithm>
#include <new>

const CLSID CLSID_TunelorePlugin = {0x921bc298, 0x60f8, 0x4557, {0xa0, 0x1d, 0xec, 0xee, 0x7c, 0xc0, 0x20, 0xa1}};

namespace {

// What the player gets for the size it should give the plug-in's window.
constexpr LONG kDefaultExtent = 100;

}  // namespace

HRESULT TunelorePlugin::CreateInstance(IUnknown* outer, REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (outer != nullptr && iid != IID_IUnknown)
        return CLASS_E_NOAGGREGATION;

    TunelorePlugin* plugin = nullptr;
    try {
        plugin = new (std::nothrow) TunelorePlugin(outer);
    } catch (...) {
        // Only the live list's growth can throw; nothing may cross into the player.
    }
    if (plugin == nullptr)
        return E_OUTOFMEMORY;

    // A temporary reference, so that a refused interface destroys the new object.
    plugin->InternalAddRef();
    const HRESULT hr = plugin->InternalQueryInterface(iid, object);
    plugin->InternalRelease();
    return hr;
}

TunelorePlugin::TunelorePlugin(IUnknown* outer)
    : m_pOuterUnknown(outer), m_innerUnknown(*this)
{
    g_livePlugins.push_back(this);
    Module().Lock();
}

TunelorePlugin::~TunelorePlugin()
{
    ReleaseCore();
    Module().Unlock();
    const auto entry = std::find(g_livePlugins.begin(), g_livePlugins.end(), this);
    if (entry != g_livePlugins.end())
        g_livePlugins.erase(entry);
}

HRESULT TunelorePlugin::InternalQueryInterface(REFIID iid, void** object)
{
    if (object == nullptr)
        return E_POINTER;
    *object = nullptr;
    if (iid == IID_IUnknown) {
        // An aggregate's identity is the outer object; it keeps our inner unknown.
        IUnknown* identity = m_pOuterUnknown ? static_cast<IUnknown*>(&m_innerUnknown)
                                             : static_cast<IUnknown*>(static_cast<IWMPPluginUI*>(this));
        identity->AddRef();
        *object = identity;
        return S_OK;
    }
    if (iid == __uuidof(IWMPPluginUI)) {
        AddRef();
        *object = static_cast<IWMPPluginUI*>(this);
        return S_OK;
    }
    return E_NOINTERFACE;
}

ULONG TunelorePlugin::InternalAddRef()
{
    return static_cast<ULONG>(++m_cRef);
}

ULONG TunelorePlugin::InternalRelease()
{
    const LONG count = --m_cRef;
    if (count == 0)
        delete this;
    return static_cast<ULONG>(count);
}

HRESULT TunelorePlugin::QueryInterface(REFIID iid, void** object)
{
    return m_pOuterUnknown ? m_pOuterUnknown->QueryInterface(iid, object) : InternalQueryInterface(iid, object);
}

ULONG TunelorePlugin::AddRef()
{
    return m_pOuterUnknown ? m_pOuterUnknown->AddRef() : InternalAddRef();
}

ULONG TunelorePlugin::Release()
{
    return m_pOuterUnknown ? m_pOuterUnknown->Release() : InternalRelease();
}

HRESULT TunelorePlugin::InnerUnknown::QueryInterface(REFIID iid, void** object)
{
    return m_owner.InternalQueryInterface(iid, object);
}

ULONG TunelorePlugin::InnerUnknown::AddRef()
{
    return m_owner.InternalAddRef();
}

ULONG TunelorePlugin::InnerUnknown::Release()
{
    return m_owner.InternalRelease();
}

void TunelorePlugin::ReleaseCore()
{
    if (m_spEventsPoint) {
        if (m_dwEventsCookie != 0) {
            m_spEventsPoint->Unadvise(m_dwEventsCookie);
            m_dwEventsCookie = 0;
        }
        m_spEventsPoint.reset();
    }
    m_spCore.reset();
}

HRESULT TunelorePlugin::SetCore(IWMPCore* pCore)
{
    return HresultAtBoundary([&] { return TakeCore(pCore); });
}

HRESULT TunelorePlugin::TakeCore(IWMPCore* pCore)
{
    ReleaseCore();
    if (pCore == nullptr)
        return S_OK;

    // Whatever the subscription's fate, the core stays held: the poll needs nothing else.
    m_spCore = com_ptr<IWMPCore>(pCore);

    // Out-values of a failed call are not ours: a player may leave anything there, so each is
    // taken into its owner only once the call has succeeded.
    void* rawContainer = nullptr;
    HRESULT hr = m_spCore->QueryInterface(IID_IConnectionPointContainer, &rawContainer);
    if (FAILED(hr))
        return hr;
    com_ptr<IConnectionPointContainer> container;
    container.attach(static_cast<IConnectionPointContainer*>(rawContainer));
    if (!container)
        return E_NOINTERFACE;

    IConnectionPoint* rawPoint = nullptr;
    hr = container->FindConnectionPoint(__uuidof(IWMPEvents), &rawPoint);
    if (FAILED(hr))
        return hr;
    m_spEventsPoint.attach(rawPoint);
    if (!m_spEventsPoint)
        return E_POINTER;

    // The object serves no event: a player that asks the sink for its events interface
    // refuses the subscription, and that refusal is the result.
    hr = m_spEventsPoint->Advise(static_cast<IWMPPluginUI*>(this), &m_dwEventsCookie);
    if (FAILED(hr) || m_dwEventsCookie == 0) {
        m_dwEventsCookie = 0;
        m_spEventsPoint.reset();
    }
    return hr;
}

HRESULT TunelorePlugin::Create(HWND, HWND*)
{
    return S_OK;
}

HRESULT TunelorePlugin::Destroy()
{
    return S_OK;
}

HRESULT TunelorePlugin::DisplayPropertyPage(HWND)
{
    // The dialog's loop may see the player release this object: nothing of it is used after.
    return HresultAtBoundary([] {
        if (g_lookup)
            g_lookup->showSettings();
        return S_OK;
    });
}

HRESULT TunelorePlugin::GetProperty(const WCHAR* pwszName, VARIANT* pvarProperty)
{
    return HresultAtBoundary([&] { return AnswerProperty(pwszName, pvarProperty); });
}

HRESULT TunelorePlugin::AnswerProperty(const WCHAR* pwszName, VARIANT* pvarProperty)
{
    if (pvarProperty == nullptr)
        return E_POINTER;
    if (pwszName == nullptr)
        return E_NOTIMPL;
    if (::lstrcmpiW(pwszName, L"DefaultWidth") == 0 || ::lstrcmpiW(pwszName, L"DefaultHeight") == 0) {
        V_VT(pvarProperty) = VT_I4;
        V_I4(pvarProperty) = kDefaultExtent;
        return S_OK;
    }
    return E_NOTIMPL;
}

HRESULT TunelorePlugin::SetProperty(const WCHAR*, const VARIANT*)
{
    return E_NOTIMPL;
}

HRESULT TunelorePlugin::TranslateAccelerator(LPMSG)
{
    return S_OK;
}
