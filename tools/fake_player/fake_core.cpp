// FakeCore: the player's core with a scripted play state and current item, and the
// subscriptions of its IWMPEvents connection point.
#include "tools/fake_player/fake_internal.h"

#include <algorithm>
#include <new>
#include <utility>

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
    if (iid != __uuidof(IConnectionPointContainer))
        return FakeDispatchObject::QueryInterface(iid, object);
    return Scripted(
        this, PlayerCall::QueryConnectionPointContainer, object,
        [this] { return static_cast<IConnectionPointContainer*>(Junk()); },
        [this, object](HRESULT result) {
            *object = static_cast<IConnectionPointContainer*>(this);
            AddRef();
            return result;
        });
}

HRESULT STDMETHODCALLTYPE FakeCore::get_playState(WMPPlayState* state)
{
    // Junk that would start a capture if it were believed.
    return Scripted(this, PlayerCall::GetPlayState, state, [] { return wmppsPlaying; },
                    [this, state](HRESULT result) {
                        *state = m_playState;
                        return result;
                    });
}

HRESULT STDMETHODCALLTYPE FakeCore::get_currentMedia(IWMPMedia** media)
{
    return Scripted(this, PlayerCall::GetCurrentMedia, media, [this] { return JunkItem(); },
                    [this, media](HRESULT result) {
                        Tie(m_currentMedia.get());
                        *media = com_ptr<IWMPMedia>(m_currentMedia).detach();
                        return result;
                    });
}

HRESULT STDMETHODCALLTYPE FakeCore::FindConnectionPoint(REFIID iid, IConnectionPoint** point)
{
    return Scripted(this, PlayerCall::FindConnectionPoint, point,
                    [this] { return static_cast<IConnectionPoint*>(Junk()); },
                    [this, &iid, point](HRESULT result) {
                        *point = nullptr;
                        if (iid != __uuidof(IWMPEvents))
                            return CONNECT_E_NOCONNECTION;
                        *point = FakeEventsPoint::Create(this).detach();
                        return *point ? result : E_OUTOFMEMORY;
                    });
}

HRESULT FakeCore::Advise(IUnknown* sink, DWORD* cookie)
{
    return Scripted(this, PlayerCall::Advise, cookie, [] { return kJunkCookie; },
                    [this, sink, cookie](HRESULT result) {
                        *cookie = 0;
                        return sink ? Subscribe(sink, cookie, result) : E_POINTER;
                    });
}

HRESULT FakeCore::Subscribe(IUnknown* sink, DWORD* cookie, HRESULT result)
{
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
