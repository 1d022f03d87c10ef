// FakeEventsPoint: the IConnectionPoint the core hands out for IWMPEvents.
#include "tools/fake_player/fake_internal.h"

#include <new>

com_ptr<FakeEventsPoint> FakeEventsPoint::Create(FakeCore* core)
{
    return com_ptr<FakeEventsPoint>(new (std::nothrow) FakeEventsPoint(core));
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::QueryInterface(REFIID iid, void** object)
{
    if (!object)
        return E_POINTER;
    *object = nullptr;
    if (iid != __uuidof(IUnknown) && iid != __uuidof(IConnectionPoint))
        return E_NOINTERFACE;
    *object = static_cast<IConnectionPoint*>(this);
    AddRef();
    return S_OK;
}

ULONG STDMETHODCALLTYPE FakeEventsPoint::AddRef()
{
    return static_cast<ULONG>(::InterlockedIncrement(&m_refs));
}

ULONG STDMETHODCALLTYPE FakeEventsPoint::Release()
{
    const LONG refs = ::InterlockedDecrement(&m_refs);
    if (refs == 0)
        delete this;
    return static_cast<ULONG>(refs);
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::GetConnectionInterface(IID* iid)
{
    if (!iid)
        return E_POINTER;
    *iid = __uuidof(IWMPEvents);
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::GetConnectionPointContainer(
    IConnectionPointContainer** container)
{
    if (!container)
        return E_POINTER;
    *container = static_cast<IConnectionPointContainer*>(m_core.get());
    (*container)->AddRef();
    return S_OK;
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::Advise(IUnknown* sink, DWORD* cookie)
{
    return m_core->Advise(sink, cookie);
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::Unadvise(DWORD cookie)
{
    return m_core->Unadvise(cookie);
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::EnumConnections(IEnumConnections**)
{
    return E_NOTIMPL;
}
