// FakeEventsPoint: the IConnectionPoint the core hands out for IWMPEvents.
#include "tools/fake_player/fake_internal.h"

#include <new>

com_ptr<FakeEventsPoint> FakeEventsPoint::Create(FakeCore* core)
{
    return com_ptr<FakeEventsPoint>(new (std::nothrow) FakeEventsPoint(core));
}

HRESULT STDMETHODCALLTYPE FakeEventsPoint::QueryInterface(REFIID iid, void** object)
{
    return AnswerQuery(iid, object, static_cast<IConnectionPoint*>(this),
                       {__uuidof(IUnknown), __uuidof(IConnectionPoint)});
}

ULONG STDMETHODCALLTYPE FakeEventsPoint::AddRef()
{
    return AddReference(m_refs);
}

ULONG STDMETHODCALLTYPE FakeEventsPoint::Release()
{
    return ReleaseReference(m_refs, [this] { delete this; });
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
