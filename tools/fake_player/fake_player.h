// A scriptable stand-in for the player's core: FakeCore (IWMPCore with its IWMPEvents
// connection point) and FakeMedia (IWMPMedia). Tests and the player simulator set what the
// player answers, inject results into the calls the plug-in makes, and count those calls.
#pragma once

#include "framework/unique_handle.h"
#include "plugin/player_interface.h"
#include "tools/fake_player/fake_com_object.h"

#include <ocidl.h>
#include <olectl.h>

#include <array>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

// The player calls the plug-in relies on; each can be counted and given an injected result.
enum class PlayerCall {
    GetPlayState,                   // IWMPCore::get_playState
    GetCurrentMedia,                // IWMPCore::get_currentMedia
    QueryConnectionPointContainer,  // IWMPCore::QueryInterface for IConnectionPointContainer
    FindConnectionPoint,            // IConnectionPointContainer::FindConnectionPoint
    Advise,                         // IConnectionPoint::Advise
    Unadvise,                       // IConnectionPoint::Unadvise
    GetItemInfo,                    // IWMPMedia::getItemInfo
    GetAttributeCount,              // IWMPMedia::get_attributeCount
    GetAttributeName,               // IWMPMedia::getAttributeName
    GetSourceUrl,                   // IWMPMedia::get_sourceURL
};
constexpr std::size_t kPlayerCallKinds = 10;

// Whether a call with an injected result still gives its normal answer.
enum class InjectedAnswer {
    ByResult,  // a success code (S_FALSE) gives the normal answer, a failure gives none
    Given,     // the normal answer (out-values, side effects) goes with any result
    Withheld,  // out-values are emptied (null, 0) and the call has no effect
    Junk,      // as Withheld, but out-values are filled with junk that a caller must neither
               // use nor free: a text that would change the capture, an object that records
               // being touched (FakeCore::JunkTouched), a cookie nobody issued
};

// Injected results and call counts, shared by FakeCore and FakeMedia. A call counts whatever
// it returns. An injected result stays until it is cleared.
class PlayerCallScript {
public:
    void InjectResult(PlayerCall call, HRESULT result,
                      InjectedAnswer answer = InjectedAnswer::ByResult);
    // The same injection for every call; a call this object does not serve is not affected.
    void InjectEveryResult(HRESULT result, InjectedAnswer answer = InjectedAnswer::ByResult);
    void ClearInjectedResult(PlayerCall call);
    void ClearInjectedResults();

    // Runs hook the next time the call arrives, before it answers; the object stays alive
    // through its own call even when the hook releases it. A player that calls back into the
    // plug-in, or lets go of its objects, from inside a call.
    void OnNextCall(PlayerCall call, std::function<void()> hook);

    int CallCount(PlayerCall call) const;
    void ResetCallCounts();

    // How an intercepted call of the fake's own objects answers.
    enum class Answer {
        Normal,  // from its script
        Empty,   // out-values emptied, return at once
        Junk,    // out-values filled with junk, return at once
    };

protected:
    // Runs a pending hook, counts one call and sets result to the injected result, or S_OK.
    Answer Intercept(PlayerCall call, HRESULT& result);
    // A call of the fake's own with one out-value: keeps self alive through it, intercepts it
    // and returns at once, with the value emptied or set to junk() (made only then), or with
    // E_POINTER when out is null; else answers respond(result), result as Intercept sets it.
    template <typename Self, typename T, typename MakeJunk, typename Respond>
    HRESULT Scripted(Self* self, PlayerCall call, T* out, MakeJunk junk, Respond respond);

    // Once the owner's flag turns false, every call answers as set by InjectOnceOwnerIsGone.
    void TieToOwner(std::shared_ptr<const bool> ownerAlive) { m_ownerAlive = std::move(ownerAlive); }
    void InjectOnceOwnerIsGone(HRESULT result, InjectedAnswer answer);

private:
    struct Injection {
        bool active = false;
        HRESULT result = S_OK;
        InjectedAnswer answer = InjectedAnswer::ByResult;
    };
    std::array<Injection, kPlayerCallKinds> m_injections{};
    std::array<int, kPlayerCallKinds> m_counts{};
    std::array<std::function<void()>, kPlayerCallKinds> m_hooks{};
    std::shared_ptr<const bool> m_ownerAlive;
    Injection m_orphanInjection{};
};

// One attribute of a media item; the name, the value or both may be absent (a null BSTR).
struct FakeAttribute {
    std::optional<std::wstring> name;
    std::optional<std::wstring> value;
};

// RefCount() and LiveObjects() (the FakeMedia objects alive in the process, to catch leaked or
// over-released items) come with the COM plumbing; QueryInterface answers IUnknown, IDispatch
// and IWMPMedia; IDispatch is not implemented.
class FakeMedia final : public FakeDispatchObject<FakeMedia, IWMPMedia>, public PlayerCallScript {
public:
    static com_ptr<FakeMedia> Create();
    // The attributes in the given order (index 0 first), then ("MediaType", mediaType) when a
    // media type is given, so the indexes of the given attributes are as listed.
    static com_ptr<FakeMedia> Create(std::vector<FakeAttribute> attributes,
                                     std::optional<std::wstring> mediaType,
                                     std::optional<std::wstring> sourceUrl = std::nullopt);

    // Scripting. getItemInfo(name) answers the value of the first attribute whose name equals
    // name exactly, and null when there is none.
    void SetAttributes(std::vector<FakeAttribute> attributes);
    void AddAttribute(std::optional<std::wstring> name, std::optional<std::wstring> value);
    const std::vector<FakeAttribute>& Attributes() const { return m_attributes; }
    // get_attributeCount answers this instead of the number of attributes; nullopt undoes it.
    // Indexes without an attribute give E_INVALIDARG and a null name.
    void OverrideAttributeCount(std::optional<LONG> count);
    void SetSourceUrl(std::optional<std::wstring> url);
    // Once the core that holds or handed out this item is gone, every call answers so: a
    // player's item may outlive its player, and then fails (RPC_E_DISCONNECTED, say). Until
    // this is set, an orphaned item keeps answering from its script.
    void AnswerOnceCoreIsGone(HRESULT result, InjectedAnswer answer = InjectedAnswer::Withheld)
    {
        InjectOnceOwnerIsGone(result, answer);
    }

    // IWMPMedia: get_sourceURL, get_attributeCount, getAttributeName and getItemInfo answer
    // from the script; the rest are not implemented.
    HRESULT STDMETHODCALLTYPE get_isIdentical(IWMPMedia* other, VARIANT_BOOL* same) override;
    HRESULT STDMETHODCALLTYPE get_sourceURL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE get_name(BSTR* name) override;
    HRESULT STDMETHODCALLTYPE put_name(BSTR name) override;
    HRESULT STDMETHODCALLTYPE get_imageSourceWidth(LONG* width) override;
    HRESULT STDMETHODCALLTYPE get_imageSourceHeight(LONG* height) override;
    HRESULT STDMETHODCALLTYPE get_markerCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE getMarkerTime(LONG marker, double* time) override;
    HRESULT STDMETHODCALLTYPE getMarkerName(LONG marker, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE get_duration(double* duration) override;
    HRESULT STDMETHODCALLTYPE get_durationString(BSTR* duration) override;
    HRESULT STDMETHODCALLTYPE get_attributeCount(LONG* count) override;
    HRESULT STDMETHODCALLTYPE getAttributeName(LONG index, BSTR* name) override;
    HRESULT STDMETHODCALLTYPE getItemInfo(BSTR name, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE setItemInfo(BSTR name, BSTR value) override;
    HRESULT STDMETHODCALLTYPE getItemInfoByAtom(LONG atom, BSTR* value) override;
    HRESULT STDMETHODCALLTYPE isMemberOf(IWMPPlaylist* playlist, VARIANT_BOOL* member) override;
    HRESULT STDMETHODCALLTYPE isReadOnlyItem(BSTR name, VARIANT_BOOL* readOnly) override;

private:
    friend class FakeCore;
    friend class FakeDispatchObject<FakeMedia, IWMPMedia>;

    FakeMedia() = default;
    ~FakeMedia() = default;

    // getItemInfo's normal answer.
    HRESULT AnswerItemInfo(BSTR name, BSTR* value, HRESULT result) const;

    std::vector<FakeAttribute> m_attributes;
    std::optional<LONG> m_attributeCount;
    std::optional<std::wstring> m_sourceUrl;
};

// How the IWMPEvents connection point treats Advise.
enum class AdvisePolicy {
    RequireEventsSink,  // as the player does: the sink must answer IWMPEvents, else
                        // CONNECT_E_CANNOTCONNECT and nothing held
    AcceptAnySink,      // any IUnknown is kept as the sink
    Refuse,             // every Advise fails with the chosen result, nothing held
};

class FakeEventsPoint;
class JunkObject;

// RefCount() and LiveObjects() (the FakeCore objects alive in the process; a connection point
// handed out holds its core, so a leaked point shows here too) come with the COM plumbing;
// IDispatch is not implemented.
class FakeCore final : public FakeDispatchObject<FakeCore, IWMPCore, IConnectionPointContainer>,
                       public PlayerCallScript {
public:
    static com_ptr<FakeCore> Create();

    // Scripting: the play state (wmppsUndefined at first) and the current item (none at first;
    // the core keeps a reference to it).
    void SetPlayState(WMPPlayState state) { m_playState = state; }
    WMPPlayState PlayState() const { return m_playState; }
    void SetCurrentMedia(IWMPMedia* media);

    // The IWMPEvents connection point. Cookies are non-zero and never reused by one core.
    void SetAdvisePolicy(AdvisePolicy policy, HRESULT refusal = CONNECT_E_CANNOTCONNECT);
    // Cookies handed out by successful Advise calls, in order.
    const std::vector<DWORD>& AdvisedCookies() const { return m_advised; }
    // Cookies passed to Unadvise, in order, whatever its result.
    const std::vector<DWORD>& UnadvisedCookies() const { return m_unadvised; }
    std::size_t SubscriptionCount() const { return m_subscriptions.size(); }
    // The sink held for a cookie (the IWMPEvents the sink gave, or the IUnknown passed when
    // any sink is accepted), or null.
    com_ptr<IUnknown> SinkFor(DWORD cookie) const;

    // Whether the plug-in touched any junk this core handed out (InjectedAnswer::Junk): called
    // or released the junk item, container or point, or unadvised the junk cookie.
    bool JunkTouched() const;
    static constexpr DWORD kJunkCookie = 0x4A554E4B;

    // QueryInterface: IUnknown, IDispatch, IWMPCore and IConnectionPointContainer.
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override;

    // IWMPCore: get_playState and get_currentMedia answer from the script; the rest are not
    // implemented.
    HRESULT STDMETHODCALLTYPE close() override;
    HRESULT STDMETHODCALLTYPE get_URL(BSTR* url) override;
    HRESULT STDMETHODCALLTYPE put_URL(BSTR url) override;
    HRESULT STDMETHODCALLTYPE get_openState(WMPOpenState* state) override;
    HRESULT STDMETHODCALLTYPE get_playState(WMPPlayState* state) override;
    HRESULT STDMETHODCALLTYPE get_controls(IWMPControls** controls) override;
    HRESULT STDMETHODCALLTYPE get_settings(IWMPSettings** settings) override;
    HRESULT STDMETHODCALLTYPE get_currentMedia(IWMPMedia** media) override;
    HRESULT STDMETHODCALLTYPE put_currentMedia(IWMPMedia* media) override;
    HRESULT STDMETHODCALLTYPE get_mediaCollection(IWMPMediaCollection** collection) override;
    HRESULT STDMETHODCALLTYPE get_playlistCollection(IWMPPlaylistCollection** collection) override;
    HRESULT STDMETHODCALLTYPE get_versionInfo(BSTR* version) override;
    HRESULT STDMETHODCALLTYPE launchURL(BSTR url) override;
    HRESULT STDMETHODCALLTYPE get_network(IWMPNetwork** network) override;
    HRESULT STDMETHODCALLTYPE get_currentPlaylist(IWMPPlaylist** playlist) override;
    HRESULT STDMETHODCALLTYPE put_currentPlaylist(IWMPPlaylist* playlist) override;
    HRESULT STDMETHODCALLTYPE get_cdromCollection(IWMPCdromCollection** collection) override;
    HRESULT STDMETHODCALLTYPE get_closedCaption(IWMPClosedCaption** caption) override;
    HRESULT STDMETHODCALLTYPE get_isOnline(VARIANT_BOOL* online) override;
    HRESULT STDMETHODCALLTYPE get_Error(IWMPError** error) override;
    HRESULT STDMETHODCALLTYPE get_status(BSTR* status) override;

    // IConnectionPointContainer: only IWMPEvents has a point.
    HRESULT STDMETHODCALLTYPE EnumConnectionPoints(IEnumConnectionPoints** points) override;
    HRESULT STDMETHODCALLTYPE FindConnectionPoint(REFIID iid, IConnectionPoint** point) override;

private:
    friend class FakeEventsPoint;
    friend class FakeDispatchObject<FakeCore, IWMPCore, IConnectionPointContainer>;

    FakeCore() = default;
    ~FakeCore();

    HRESULT Advise(IUnknown* sink, DWORD* cookie);
    // Advise's normal answer, for a sink given: holds it as the advise policy says.
    HRESULT Subscribe(IUnknown* sink, DWORD* cookie, HRESULT result);
    HRESULT Unadvise(DWORD cookie);

    // The junk item handed out by a failing get_currentMedia: made on first use, held with a
    // spare reference so that a caller's stray Release shows instead of freeing it.
    IWMPMedia* JunkItem();
    // The junk container and point of failing QueryInterface and FindConnectionPoint calls.
    JunkObject* Junk();
    // Ties a fake item to this core's life.
    void Tie(IWMPMedia* media);

    struct Subscription {
        DWORD cookie;
        com_ptr<IUnknown> sink;
    };

    WMPPlayState m_playState = wmppsUndefined;
    com_ptr<IWMPMedia> m_currentMedia;
    AdvisePolicy m_advisePolicy = AdvisePolicy::RequireEventsSink;
    HRESULT m_refusal = CONNECT_E_CANNOTCONNECT;
    DWORD m_nextCookie = 1;
    std::vector<Subscription> m_subscriptions;
    std::vector<DWORD> m_advised;
    std::vector<DWORD> m_unadvised;
    // False once the core is destroyed; the items it held or handed out keep a copy.
    std::shared_ptr<bool> m_alive = std::make_shared<bool>(true);
    com_ptr<FakeMedia> m_junkItem;
    std::unique_ptr<JunkObject> m_junkObject;
};
