// FakeCore: the player's core with a scripted play state and current item, and the
// subscriptions of its IWMPEvents connection point.
#include "tools/fake_player/fake_internal.h"

#include <algorithm>
#include <new>
#include <utility>

namespace {

LONG g_liveCores = 0;

}  // namespace

FakeCore::FakeCore()
{
    ::InterlockedIncrement(&g_liveCores);
}

FakeCore::~FakeCore()
{
    // Take the sinks out first: releasing one may run its owner's clean-up.
    std::vector<Subscription> subscriptions = std::move(m_subscriptions);
    m_subscriptions.clear();
    subscriptions.clear();
    *m_alive = false;
    // The junk item's spare reference, unless a caller's stray Release has used it up.
    if (m_junkItem && m_junkItem->RefCount() >= 2)
        m_junkItem->Release();
    ::InterlockedDecrement(&g_liveCores);
}

LONG FakeCore::LiveObjects()
{
    return g_liveCores;
}

com_ptr<FakeCore> FakeCore::Create()
{
    return com_ptr<FakeCore>(new (std::nothrow) FakeCore);
}

void FakeCore::SetCurrentMedia(IWMPMedia* media)
{
    Tie(media);
    m_currentMedia = com_ptr<IWMPMedia>(media);
}

void FakeCore::Tie(IWMPMedia* media)
{
    if (auto* fake = dynamic_cast<FakeMedia*>(media))
        fake->TieToOwner(m_alive);
}

IWMPMedia* FakeCore::JunkItem()
{
    if (!m_junkItem) {
        m_junkItem = FakeMedia::Create({{L"Author", L"JUNK"}, {L"Title", L"JUNK"}}, L"audio", L"JUNK");
        if (m_junkItem)
            m_junkItem->AddRef();
    }
    return m_junkItem.get();
}

JunkObject* FakeCore::Junk()
{
    if (!m_junkObject)
        m_junkObject = std::make_unique<JunkObject>();
    return m_junkObject.get();
}

bool FakeCore::JunkTouched() const
{
    if (m_junkObject && m_junkObject->Touches() != 0)
        return true;
    if (std::find(m_unadvised.begin(), m_unadvised.end(), kJunkCookie) != m_unadvised.end())
        return true;
    if (!m_junkItem)
        return false;
    int calls = 0;
    for (std::size_t i = 0; i < kPlayerCallKinds; ++i)
        calls += m_junkItem->CallCount(static_cast<PlayerCall>(i));
    return calls != 0 || m_junkItem->RefCount() != 2;
}

void FakeCore::SetAdvisePolicy(AdvisePolicy policy, HRESULT refusal)
{
    m_advisePolicy = policy;
    m_refusal = refusal;
}

com_ptr<IUnknown> FakeCore::SinkFor(DWORD cookie) const
{
    for (const Subscription& subscription : m_subscriptions) {
        if (subscription.cookie == cookie)
            return subscription.sink;
    }
    return nullptr;
}

HRESULT STDMETHODCALLTYPE FakeCore::QueryInterface(REFIID iid, void** object)
{
    if (iid == __uuidof(IConnectionPointContainer)) {
        const com_ptr<FakeCore> keepAlive(this);
        HRESULT result;
        if (EndIntercepted<void*>(Intercept(PlayerCall::QueryConnectionPointContainer, result), object, nullptr,
                                  static_cast<IConnectionPointContainer*>(Junk())))
            return result;
        if (!object)
            return E_POINTER;
        *object = static_cast<IConnectionPointContainer*>(this);
        AddRef();
        return result;
    }
    return AnswerQuery(iid, object, static_cast<IWMPCore*>(this),
                       {__uuidof(IUnknown), __uuidof(IDispatch), __uuidof(IWMPCore)});
}

ULONG STDMETHODCALLTYPE FakeCore::AddRef()
{
    return AddReference(m_refs);
}

ULONG STDMETHODCALLTYPE FakeCore::Release()
{
    return ReleaseReference(m_refs, [this] { delete this; });
}

HRESULT STDMETHODCALLTYPE FakeCore::get_playState(WMPPlayState* state)
{
    const com_ptr<FakeCore> keepAlive(this);
    HRESULT result;
    // Junk that would start a capture if it were believed.
    if (EndIntercepted(Intercept(PlayerCall::GetPlayState, result), state, wmppsUndefined, wmppsPlaying))
        return result;
    if (!state)
        return E_POINTER;
    *state = m_playState;
    return result;
}

HRESULT STDMETHODCALLTYPE FakeCore::get_currentMedia(IWMPMedia** media)
{
    const com_ptr<FakeCore> keepAlive(this);
    HRESULT result;
    const Answer answer = Intercept(PlayerCall::GetCurrentMedia, result);
    if (EndIntercepted<IWMPMedia*>(answer, media, nullptr, answer == Answer::Junk ? JunkItem() : nullptr))
        return result;
    if (!media)
        return E_POINTER;
    Tie(m_currentMedia.get());
    *media = com_ptr<IWMPMedia>(m_currentMedia).detach();
    return result;
}

HRESULT STDMETHODCALLTYPE FakeCore::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    const com_ptr<FakeCore> keepAlive(this);
    HRESULT result;
    if (EndIntercepted<IConnectionPoint*>(Intercept(PlayerCall::FindConnectionPoint, result), point, nullptr,
                                          static_cast<IConnectionPoint*>(Junk())))
        return result;
    if (!point)
        return E_POINTER;
    *point = nullptr;
    if (iid != __uuidof(IWMPEvents))
        return CONNECT_E_NOCONNECTION;
    *point = FakeEventsPoint::Create(this).detach();
    return *point ? result : E_OUTOFMEMORY;
}

HRESULT FakeCore::Advise(IUnknown* sink, DWORD* cookie)
{
    const com_ptr<FakeCore> keepAlive(this);
    HRESULT result;
    if (EndIntercepted<DWORD>(Intercept(PlayerCall::Advise, result), cookie, 0, kJunkCookie))
        return result;
    if (!cookie)
        return E_POINTER;
    *cookie = 0;
    if (!sink)
        return E_POINTER;

    com_ptr<IUnknown> held;
    switch (m_advisePolicy) {
    case AdvisePolicy::Refuse:
        return m_refusal;
    case AdvisePolicy::AcceptAnySink:
        held = com_ptr<IUnknown>(sink);
        break;
    case AdvisePolicy::RequireEventsSink: {
        IWMPEvents* events = nullptr;
        if (FAILED(sink->QueryInterface(__uuidof(IWMPEvents), reinterpret_cast<void**>(&events))) ||
            !events)
            return CONNECT_E_CANNOTCONNECT;
        held.attach(events);
        break;
    }
    }

    const DWORD issued = m_nextCookie++;
    if (m_nextCookie == 0)
        m_nextCookie = 1;
    m_subscriptions.push_back(Subscription{issued, std::move(held)});
    m_advised.push_back(issued);
    *cookie = issued;
    return result;
}

HRESULT FakeCore::Unadvise(DWORD cookie)
{
    const com_ptr<FakeCore> keepAlive(this);
    HRESULT result;
    const bool withheld = Intercept(PlayerCall::Unadvise, result) != Answer::Normal;
    m_unadvised.push_back(cookie);
    if (withheld)
        return result;

    const auto found = std::find_if(m_subscriptions.begin(), m_subscriptions.end(),
                                    [cookie](const Subscription& s) { return s.cookie == cookie; });
    if (found == m_subscriptions.end())
        return CONNECT_E_NOCONNECTION;
    // Drop the sink only once the list is settled: its release may call back into the point.
    com_ptr<IUnknown> sink = std::move(found->sink);
    m_subscriptions.erase(found);
    sink.reset();
    return result;
}

// Everything below is player surface that the plug-in never calls.

HRESULT STDMETHODCALLTYPE FakeCore::GetTypeInfoCount(UINT*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::GetTypeInfo(UINT, LCID, ITypeInfo**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeCore::Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*,
                                           EXCEPINFO*, UINT*)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeCore::close() { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_URL(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::put_URL(BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_openState(WMPOpenState*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_controls(IWMPControls**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_settings(IWMPSettings**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::put_currentMedia(IWMPMedia*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_mediaCollection(IWMPMediaCollection**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_playlistCollection(IWMPPlaylistCollection**)
{
    return E_NOTIMPL;
}
HRESULT STDMETHODCALLTYPE FakeCore::get_versionInfo(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::launchURL(BSTR) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_network(IWMPNetwork**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_currentPlaylist(IWMPPlaylist**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::put_currentPlaylist(IWMPPlaylist*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_cdromCollection(IWMPCdromCollection**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_closedCaption(IWMPClosedCaption**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_isOnline(VARIANT_BOOL*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_Error(IWMPError**) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::get_status(BSTR*) { return E_NOTIMPL; }
HRESULT STDMETHODCALLTYPE FakeCore::EnumConnectionPoints(IEnumConnectionPoints**)
{
    return E_NOTIMPL;
}
