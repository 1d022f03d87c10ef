// Tests of the fake player itself: COM lifetime and interfaces, text ownership, injected
// results and call counts, and the IWMPEvents connection point.
#include "tools/fake_player/fake_player.h"

#include <gtest/gtest.h>

#include <functional>
#include <ostream>
#include <string>

namespace {

// A subscriber that counts its references. When told to, it answers IWMPEvents with its own
// pointer: the fake only keeps and releases the sink, it fires no event, so no event method
// is ever reached through it.
class TestSink final : public IUnknown {
public:
    static com_ptr<TestSink> Create(bool answersEvents)
    {
        return com_ptr<TestSink>(new TestSink(answersEvents));
    }

    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        *object = nullptr;
        if (iid != __uuidof(IUnknown) && !(m_answersEvents && iid == __uuidof(IWMPEvents)))
            return E_NOINTERFACE;
        *object = this;
        AddRef();
        return S_OK;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return ++m_refs; }
    ULONG STDMETHODCALLTYPE Release() override
    {
        const ULONG refs = --m_refs;
        if (refs == 0)
            delete this;
        return refs;
    }
    ULONG RefCount() const { return m_refs; }

private:
    explicit TestSink(bool answersEvents) : m_answersEvents(answersEvents) {}
    ~TestSink() = default;

    bool m_answersEvents;
    ULONG m_refs = 0;
};

unique_bstr MakeBstr(const wchar_t* text)
{
    return unique_bstr(::SysAllocString(text));
}

std::wstring Text(const unique_bstr& text)
{
    return std::wstring(text.get(), ::SysStringLen(text.get()));
}

constexpr HRESULT kInjectedFailure = static_cast<HRESULT>(0x80041234);

// ---------------------------------------------------------------------------------------------
// Injected results and call counts, for every call the plug-in makes.

// A playing core with one item and one established subscription, counts reset.
struct Player {
    com_ptr<FakeCore> core = FakeCore::Create();
    com_ptr<FakeMedia> media =
        FakeMedia::Create({{L"Title", L"Song"}}, L"audio", L"C:\\music\\song.mp3");
    com_ptr<TestSink> sink = TestSink::Create(false);
    com_ptr<IConnectionPoint> point;
    DWORD cookie = 0;

    Player()
    {
        core->SetPlayState(wmppsPlaying);
        core->SetCurrentMedia(media.get());
        core->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
        core->FindConnectionPoint(__uuidof(IWMPEvents), point.put());
        point->Advise(sink.get(), &cookie);
        core->ResetCallCounts();
    }

    PlayerCallScript& ScriptOf(PlayerCall call)
    {
        switch (call) {
        case PlayerCall::GetItemInfo:
        case PlayerCall::GetAttributeCount:
        case PlayerCall::GetAttributeName:
        case PlayerCall::GetSourceUrl:
            return *media.get();
        default:
            return *core.get();
        }
    }

    int TotalCalls() const
    {
        int total = 0;
        for (std::size_t i = 0; i < kPlayerCallKinds; ++i)
            total += core->CallCount(static_cast<PlayerCall>(i)) +
                     media->CallCount(static_cast<PlayerCall>(i));
        return total;
    }
};

struct Outcome {
    HRESULT result;
    bool answered;  // the out-values (or the side effect) of the normal answer came
};

struct CallCase {
    const char* name;
    PlayerCall call;
    std::function<Outcome(Player&)> invoke;
};

const CallCase kCallCases[] = {
    {"GetPlayState", PlayerCall::GetPlayState,
     [](Player& p) {
         WMPPlayState state = wmppsStopped;
         const HRESULT hr = p.core->get_playState(&state);
         return Outcome{hr, state == wmppsPlaying};
     }},
    {"GetCurrentMedia", PlayerCall::GetCurrentMedia,
     [](Player& p) {
         com_ptr<IWMPMedia> media;
         const HRESULT hr = p.core->get_currentMedia(media.put());
         return Outcome{hr, media.get() == static_cast<IWMPMedia*>(p.media.get())};
     }},
    {"QueryConnectionPointContainer", PlayerCall::QueryConnectionPointContainer,
     [](Player& p) {
         com_ptr<IConnectionPointContainer> container;
         const HRESULT hr = p.core.query(container);
         return Outcome{hr, static_cast<bool>(container)};
     }},
    {"FindConnectionPoint", PlayerCall::FindConnectionPoint,
     [](Player& p) {
         com_ptr<IConnectionPoint> point;
         const HRESULT hr = p.core->FindConnectionPoint(__uuidof(IWMPEvents), point.put());
         return Outcome{hr, static_cast<bool>(point)};
     }},
    {"Advise", PlayerCall::Advise,
     [](Player& p) {
         const std::size_t before = p.core->SubscriptionCount();
         DWORD cookie = 0xDEAD;
         const HRESULT hr = p.point->Advise(p.sink.get(), &cookie);
         EXPECT_EQ(cookie != 0, p.core->SubscriptionCount() == before + 1);
         return Outcome{hr, cookie != 0};
     }},
    {"Unadvise", PlayerCall::Unadvise,
     [](Player& p) {
         const HRESULT hr = p.point->Unadvise(p.cookie);
         return Outcome{hr, p.core->SubscriptionCount() == 0};
     }},
    {"GetItemInfo", PlayerCall::GetItemInfo,
     [](Player& p) {
         unique_bstr value;
         const HRESULT hr = p.media->getItemInfo(MakeBstr(L"Title").get(), value.put());
         return Outcome{hr, value && Text(value) == L"Song"};
     }},
    {"GetAttributeCount", PlayerCall::GetAttributeCount,
     [](Player& p) {
         LONG count = -1;
         const HRESULT hr = p.media->get_attributeCount(&count);
         return Outcome{hr, count == 2};
     }},
    {"GetAttributeName", PlayerCall::GetAttributeName,
     [](Player& p) {
         unique_bstr name;
         const HRESULT hr = p.media->getAttributeName(0, name.put());
         return Outcome{hr, name && Text(name) == L"Title"};
     }},
    {"GetSourceUrl", PlayerCall::GetSourceUrl,
     [](Player& p) {
         unique_bstr url;
         const HRESULT hr = p.media->get_sourceURL(url.put());
         return Outcome{hr, url && Text(url) == L"C:\\music\\song.mp3"};
     }},
};

void PrintTo(const CallCase& c, std::ostream* os)
{
    *os << c.name;
}

class PlayerCallTest : public ::testing::TestWithParam<CallCase> {
protected:
    Outcome Invoke() { return GetParam().invoke(m_player); }
    PlayerCallScript& Script() { return m_player.ScriptOf(GetParam().call); }

    Player m_player;
};

TEST_P(PlayerCallTest, InjectedFailureIsReturnedWithoutAnswerUntilCleared)
{
    Script().InjectResult(GetParam().call, kInjectedFailure);
    const Outcome failed = Invoke();
    EXPECT_EQ(failed.result, kInjectedFailure);
    EXPECT_FALSE(failed.answered);

    Script().ClearInjectedResult(GetParam().call);
    const Outcome normal = Invoke();
    EXPECT_EQ(normal.result, S_OK);
    EXPECT_TRUE(normal.answered);
}

TEST_P(PlayerCallTest, InjectedSFalseStillGivesAnswer)
{
    Script().InjectResult(GetParam().call, S_FALSE);
    const Outcome outcome = Invoke();
    EXPECT_EQ(outcome.result, S_FALSE);
    EXPECT_TRUE(outcome.answered);
}

TEST_P(PlayerCallTest, AnswerModeOverridesTheResultsDefault)
{
    Script().InjectResult(GetParam().call, kInjectedFailure, InjectedAnswer::Given);
    const Outcome failing = Invoke();
    EXPECT_EQ(failing.result, kInjectedFailure);
    EXPECT_TRUE(failing.answered);

    Player fresh;
    fresh.ScriptOf(GetParam().call)
        .InjectResult(GetParam().call, S_FALSE, InjectedAnswer::Withheld);
    const Outcome withheld = GetParam().invoke(fresh);
    EXPECT_EQ(withheld.result, S_FALSE);
    EXPECT_FALSE(withheld.answered);
}

TEST_P(PlayerCallTest, EveryCallIsCountedOnlyUnderItsOwnName)
{
    Invoke();
    Script().InjectResult(GetParam().call, kInjectedFailure);
    Invoke();
    EXPECT_EQ(Script().CallCount(GetParam().call), 2);
    EXPECT_EQ(m_player.TotalCalls(), 2);

    Script().ResetCallCounts();
    EXPECT_EQ(Script().CallCount(GetParam().call), 0);
}

INSTANTIATE_TEST_SUITE_P(EachPlayerCall, PlayerCallTest, ::testing::ValuesIn(kCallCases),
                         [](const ::testing::TestParamInfo<CallCase>& info) {
                             return std::string(info.param.name);
                         });

// ---------------------------------------------------------------------------------------------
// A hostile player: every call at once, junk in failed calls' out-values, calls back from
// inside a call, items that outlive their core.

TEST(HostilePlayer, EveryCallAtOnceSucceedsWithNothingInItsOutValues)
{
    Player p;
    p.core->InjectEveryResult(S_OK, InjectedAnswer::Withheld);
    p.media->InjectEveryResult(S_OK, InjectedAnswer::Withheld);
    for (const CallCase& c : kCallCases) {
        SCOPED_TRACE(c.name);
        const Outcome outcome = c.invoke(p);
        EXPECT_EQ(outcome.result, S_OK);
        EXPECT_FALSE(outcome.answered);
    }
    p.core->ClearInjectedResults();
    p.media->ClearInjectedResults();
    EXPECT_TRUE(kCallCases[0].invoke(p).answered);
}

TEST(HostilePlayer, FailedCallsLeaveJunkThatTheCoreSeesBeingTouched)
{
    Player p;
    p.core->InjectEveryResult(kInjectedFailure, InjectedAnswer::Junk);
    p.media->InjectEveryResult(kInjectedFailure, InjectedAnswer::Junk);

    WMPPlayState state = wmppsStopped;
    EXPECT_EQ(p.core->get_playState(&state), kInjectedFailure);
    EXPECT_EQ(state, wmppsPlaying);
    LONG count = 0;
    EXPECT_EQ(p.media->get_attributeCount(&count), kInjectedFailure);
    EXPECT_GT(count, 0);
    DWORD cookie = 0;
    EXPECT_EQ(p.point->Advise(p.sink.get(), &cookie), kInjectedFailure);
    EXPECT_EQ(cookie, FakeCore::kJunkCookie);

    // Texts laid out as the player's strings, saying what a believer would act on.
    BSTR text = nullptr;
    EXPECT_EQ(p.media->getItemInfo(MakeBstr(L"MediaType").get(), &text), kInjectedFailure);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, ::SysStringLen(text)), L"audio");
    text = nullptr;
    EXPECT_EQ(p.media->getAttributeName(0, &text), kInjectedFailure);
    ASSERT_NE(text, nullptr);
    EXPECT_EQ(std::wstring(text, ::SysStringLen(text)), L"Title");

    // Junk objects: only counted, and each touch shows.
    void* container = nullptr;
    EXPECT_EQ(p.core->QueryInterface(__uuidof(IConnectionPointContainer), &container), kInjectedFailure);
    ASSERT_NE(container, nullptr);
    IConnectionPoint* point = nullptr;
    EXPECT_EQ(p.core->FindConnectionPoint(__uuidof(IWMPEvents), &point), kInjectedFailure);
    ASSERT_NE(point, nullptr);
    IWMPMedia* item = nullptr;
    EXPECT_EQ(p.core->get_currentMedia(&item), kInjectedFailure);
    ASSERT_NE(item, nullptr);
    EXPECT_NE(item, static_cast<IWMPMedia*>(p.media.get()));
    EXPECT_FALSE(p.core->JunkTouched());

    item->Release();
    EXPECT_TRUE(p.core->JunkTouched());
}

struct JunkTouchCase {
    const char* name;
    std::function<void(FakeCore&)> touch;
};

void PrintTo(const JunkTouchCase& c, std::ostream* os)
{
    *os << c.name;
}

const JunkTouchCase kJunkTouches[] = {
    {"ItemCalled",
     [](FakeCore& core) {
         IWMPMedia* item = nullptr;
         core.get_currentMedia(&item);
         LONG count = 0;
         item->get_attributeCount(&count);
     }},
    {"ContainerReleased",
     [](FakeCore& core) {
         void* container = nullptr;
         core.QueryInterface(__uuidof(IConnectionPointContainer), &container);
         static_cast<IUnknown*>(container)->Release();
     }},
    {"PointUnadvised",
     [](FakeCore& core) {
         IConnectionPoint* point = nullptr;
         core.FindConnectionPoint(__uuidof(IWMPEvents), &point);
         point->Unadvise(1);
     }},
    {"JunkCookieUnadvised",
     [](FakeCore& core) {
         com_ptr<IConnectionPoint> point;
         core.ClearInjectedResult(PlayerCall::FindConnectionPoint);
         core.FindConnectionPoint(__uuidof(IWMPEvents), point.put());
         core.ClearInjectedResult(PlayerCall::Unadvise);
         point->Unadvise(FakeCore::kJunkCookie);
     }},
};

class JunkTouchTest : public ::testing::TestWithParam<JunkTouchCase> {};

TEST_P(JunkTouchTest, ShowsInTheCore)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    core->InjectEveryResult(kInjectedFailure, InjectedAnswer::Junk);
    EXPECT_FALSE(core->JunkTouched());
    GetParam().touch(*core.get());
    EXPECT_TRUE(core->JunkTouched());
    core.reset();
    EXPECT_EQ(FakeCore::LiveObjects(), 0);
    EXPECT_EQ(FakeMedia::LiveObjects(), 0);
}

INSTANTIATE_TEST_SUITE_P(Touches, JunkTouchTest, ::testing::ValuesIn(kJunkTouches),
                         [](const ::testing::TestParamInfo<JunkTouchCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(HostilePlayer, JunkWithASuccessIsTheNormalAnswer)
{
    Player p;
    p.media->InjectResult(PlayerCall::GetAttributeName, S_FALSE, InjectedAnswer::Junk);
    unique_bstr name;
    EXPECT_EQ(p.media->getAttributeName(0, name.put()), S_FALSE);
    EXPECT_EQ(Text(name), L"Title");
}

TEST(HostilePlayer, HookRunsOnceBeforeTheCallAnswersAndMayReleaseTheCallee)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    core->SetPlayState(wmppsPlaying);
    int runs = 0;
    IWMPCore* raw = core.get();
    core->OnNextCall(PlayerCall::GetPlayState, [&] {
        ++runs;
        // Only the core's own hold on itself is left: it must last out this call.
        core.reset();
        EXPECT_EQ(FakeCore::LiveObjects(), 1);
    });
    WMPPlayState state = wmppsUndefined;
    EXPECT_EQ(raw->get_playState(&state), S_OK);
    EXPECT_EQ(state, wmppsPlaying);
    EXPECT_EQ(runs, 1);
    EXPECT_EQ(FakeCore::LiveObjects(), 0);

    com_ptr<FakeCore> again = FakeCore::Create();
    again->OnNextCall(PlayerCall::GetPlayState, [&] { ++runs; });
    again->get_playState(&state);
    again->get_playState(&state);
    EXPECT_EQ(runs, 2);
}

TEST(HostilePlayer, ItemOutlivingItsCoreAnswersAsTold)
{
    com_ptr<FakeMedia> kept = FakeMedia::Create({{L"Title", L"Song"}}, L"audio");
    com_ptr<FakeMedia> orphan = FakeMedia::Create({{L"Title", L"Song"}}, L"audio");
    orphan->AnswerOnceCoreIsGone(RPC_E_DISCONNECTED);
    {
        com_ptr<FakeCore> core = FakeCore::Create();
        core->SetCurrentMedia(kept.get());
        com_ptr<IWMPMedia> handedOut;
        core->SetCurrentMedia(orphan.get());
        core->get_currentMedia(handedOut.put());
        LONG count = 0;
        EXPECT_EQ(orphan->get_attributeCount(&count), S_OK);
        EXPECT_EQ(count, 2);
    }
    LONG count = -1;
    EXPECT_EQ(orphan->get_attributeCount(&count), RPC_E_DISCONNECTED);
    EXPECT_EQ(count, 0);
    // Without an answer of its own, an orphan keeps answering from its script.
    EXPECT_EQ(kept->get_attributeCount(&count), S_OK);
    EXPECT_EQ(count, 2);
}

// ---------------------------------------------------------------------------------------------
// COM identity and lifetime.

struct InterfaceCase {
    const char* name;
    IID iid;
    bool onCore;
    bool onMedia;
    bool onPoint;
};

const InterfaceCase kInterfaceCases[] = {
    {"IUnknown", __uuidof(IUnknown), true, true, true},
    {"IDispatch", __uuidof(IDispatch), true, true, false},
    {"IWMPCore", __uuidof(IWMPCore), true, false, false},
    {"IConnectionPointContainer", __uuidof(IConnectionPointContainer), true, false, false},
    {"IWMPMedia", __uuidof(IWMPMedia), false, true, false},
    {"IConnectionPoint", __uuidof(IConnectionPoint), false, false, true},
    {"IWMPEvents", __uuidof(IWMPEvents), false, false, false},
    {"IWMPCore3", __uuidof(IWMPCore3), false, false, false},
};

void PrintTo(const InterfaceCase& c, std::ostream* os)
{
    *os << c.name;
}

class InterfaceTest : public ::testing::TestWithParam<InterfaceCase> {};

// Asks for the interface, checks the answer and that a granted reference is a real one.
void ExpectAnswers(IUnknown* object, const IID& iid, bool expected)
{
    void* answer = reinterpret_cast<void*>(1);
    const HRESULT hr = object->QueryInterface(iid, &answer);
    if (!expected) {
        EXPECT_EQ(hr, E_NOINTERFACE);
        EXPECT_EQ(answer, nullptr);
        return;
    }
    ASSERT_EQ(hr, S_OK);
    ASSERT_NE(answer, nullptr);
    com_ptr<IUnknown> identity;
    static_cast<IUnknown*>(answer)->QueryInterface(__uuidof(IUnknown), identity.put_void());
    com_ptr<IUnknown> expectedIdentity;
    object->QueryInterface(__uuidof(IUnknown), expectedIdentity.put_void());
    EXPECT_EQ(identity.get(), expectedIdentity.get());
    static_cast<IUnknown*>(answer)->Release();
}

TEST_P(InterfaceTest, EachObjectAnswersExactlyItsInterfaces)
{
    const InterfaceCase& c = GetParam();
    com_ptr<FakeCore> core = FakeCore::Create();
    com_ptr<FakeMedia> media = FakeMedia::Create();
    com_ptr<IConnectionPoint> point;
    ASSERT_EQ(core->FindConnectionPoint(__uuidof(IWMPEvents), point.put()), S_OK);
    const ULONG coreRefs = core->RefCount();
    const ULONG mediaRefs = media->RefCount();

    ExpectAnswers(static_cast<IWMPCore*>(core.get()), c.iid, c.onCore);
    ExpectAnswers(static_cast<IWMPMedia*>(media.get()), c.iid, c.onMedia);
    ExpectAnswers(point.get(), c.iid, c.onPoint);

    EXPECT_EQ(core->RefCount(), coreRefs);
    EXPECT_EQ(media->RefCount(), mediaRefs);
}

INSTANTIATE_TEST_SUITE_P(Interfaces, InterfaceTest, ::testing::ValuesIn(kInterfaceCases),
                         [](const ::testing::TestParamInfo<InterfaceCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(FakePlayerLifetime, ObjectsDieAtTheirLastRelease)
{
    const LONG cores = FakeCore::LiveObjects();
    const LONG items = FakeMedia::LiveObjects();
    {
        com_ptr<FakeCore> core = FakeCore::Create();
        EXPECT_EQ(core->RefCount(), 1u);
        EXPECT_EQ(FakeCore::LiveObjects(), cores + 1);

        IWMPMedia* media = FakeMedia::Create({}, L"audio").detach();
        core->SetCurrentMedia(media);
        EXPECT_EQ(media->AddRef(), 3u);
        EXPECT_EQ(media->Release(), 2u);
        EXPECT_EQ(media->Release(), 1u);  // the core's own reference remains
        EXPECT_EQ(FakeMedia::LiveObjects(), items + 1);

        com_ptr<IWMPMedia> given;
        core->get_currentMedia(given.put());
        core->SetCurrentMedia(nullptr);
        EXPECT_EQ(FakeMedia::LiveObjects(), items + 1);
        given.reset();
        EXPECT_EQ(FakeMedia::LiveObjects(), items);
    }
    EXPECT_EQ(FakeCore::LiveObjects(), cores);
    EXPECT_EQ(FakeMedia::LiveObjects(), items);
}

TEST(FakePlayerLifetime, ConnectionPointKeepsItsCoreAlive)
{
    const LONG cores = FakeCore::LiveObjects();
    com_ptr<IConnectionPoint> point;
    {
        com_ptr<FakeCore> core = FakeCore::Create();
        ASSERT_EQ(core->FindConnectionPoint(__uuidof(IWMPEvents), point.put()), S_OK);
        EXPECT_EQ(core->RefCount(), 2u);

        com_ptr<IConnectionPointContainer> container;
        ASSERT_EQ(point->GetConnectionPointContainer(container.put()), S_OK);
        EXPECT_EQ(container.get(), static_cast<IConnectionPointContainer*>(core.get()));
    }
    EXPECT_EQ(FakeCore::LiveObjects(), cores + 1);
    point.reset();
    EXPECT_EQ(FakeCore::LiveObjects(), cores);
}

// ---------------------------------------------------------------------------------------------
// Texts.

TEST(FakeMediaText, EveryAnswerIsAFreshCopyOwnedByTheCaller)
{
    com_ptr<FakeMedia> media = FakeMedia::Create({{L"Title", L"Song"}}, L"audio");
    unique_bstr name = MakeBstr(L"Title");
    unique_bstr first;
    unique_bstr second;
    ASSERT_EQ(media->getItemInfo(name.get(), first.put()), S_OK);
    ASSERT_EQ(media->getItemInfo(name.get(), second.put()), S_OK);
    ASSERT_TRUE(first && second);
    EXPECT_NE(first.get(), second.get());
    EXPECT_NE(first.get(), name.get());
    EXPECT_EQ(::SysStringLen(first.get()), 4u);

    // The caller may scribble on and free its copy; the item's own text is unaffected.
    first.get()[0] = L'X';
    first.reset();
    unique_bstr third;
    media->getItemInfo(name.get(), third.put());
    EXPECT_EQ(Text(third), L"Song");
    EXPECT_EQ(Text(second), L"Song");
}

// A case asks getItemInfo for a name, passed as a BSTR, unless it makes a call of its own.
struct TextCase {
    const char* name;
    const wchar_t* itemName;
    const wchar_t* expected;  // null: an absent text
    std::function<HRESULT(FakeMedia&, BSTR*)> call = nullptr;
};

const TextCase kTextCases[] = {
    {"AbsentValueIsNull", L"WM/Genre", nullptr},
    {"EmptyValueIsEmptyNotNull", L"WM/Year", L""},
    {"UnknownNameIsNull", L"WM/Composer", nullptr},
    {"NameIsMatchedWithCase", L"mediatype", nullptr},
    {"MediaTypeIsAnAttribute", L"MediaType", L"radio"},
    {"FirstAttributeOfANameWins", L"Author", L"First"},
    {"PlainWideNameIsAccepted", nullptr, L"First",
     [](FakeMedia& m, BSTR* out) { return m.getItemInfo(const_cast<BSTR>(L"Author"), out); }},
    {"AbsentAttributeNameIsNull", nullptr, nullptr,
     [](FakeMedia& m, BSTR* out) { return m.getAttributeName(1, out); }},
    {"GivenAttributesKeepTheirIndexes", nullptr, L"Author",
     [](FakeMedia& m, BSTR* out) { return m.getAttributeName(4, out); }},
    {"MediaTypeComesAfterTheGivenAttributes", nullptr, L"MediaType",
     [](FakeMedia& m, BSTR* out) { return m.getAttributeName(5, out); }},
    {"AbsentSourceUrlIsNull", nullptr, nullptr,
     [](FakeMedia& m, BSTR* out) { return m.get_sourceURL(out); }},
};

void PrintTo(const TextCase& c, std::ostream* os)
{
    *os << c.name;
}

class FakeMediaTextTest : public ::testing::TestWithParam<TextCase> {};

TEST_P(FakeMediaTextTest, AnswersAsScripted)
{
    com_ptr<FakeMedia> media = FakeMedia::Create({{L"Author", L"First"},
                                                  {std::nullopt, L"orphan"},
                                                  {L"WM/Genre", std::nullopt},
                                                  {L"WM/Year", L""},
                                                  {L"Author", L"Second"}},
                                                 L"radio");
    const TextCase& c = GetParam();
    BSTR out = reinterpret_cast<BSTR>(1);
    const HRESULT hr =
        c.call ? c.call(*media.get(), &out) : media->getItemInfo(MakeBstr(c.itemName).get(), &out);
    EXPECT_EQ(hr, S_OK);
    unique_bstr owned(out);
    if (!c.expected) {
        EXPECT_EQ(owned.get(), nullptr);
        return;
    }
    ASSERT_NE(owned.get(), nullptr);
    EXPECT_EQ(Text(owned), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Texts, FakeMediaTextTest, ::testing::ValuesIn(kTextCases),
                         [](const ::testing::TestParamInfo<TextCase>& info) {
                             return std::string(info.param.name);
                         });

TEST(FakeMediaAttributes, OverriddenCountAndIndexesBeyondTheList)
{
    com_ptr<FakeMedia> media = FakeMedia::Create({{L"Title", L"T"}}, std::nullopt);
    media->OverrideAttributeCount(5);
    LONG count = 0;
    media->get_attributeCount(&count);
    EXPECT_EQ(count, 5);

    for (LONG index : {-1L, 1L, 4L}) {
        BSTR name = reinterpret_cast<BSTR>(1);
        EXPECT_EQ(media->getAttributeName(index, &name), E_INVALIDARG) << index;
        EXPECT_EQ(name, nullptr) << index;
    }

    media->OverrideAttributeCount(std::nullopt);
    media->get_attributeCount(&count);
    EXPECT_EQ(count, 1);
}

// ---------------------------------------------------------------------------------------------
// The IWMPEvents connection point.

class EventsPointTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(m_core->FindConnectionPoint(__uuidof(IWMPEvents), m_point.put()), S_OK);
    }

    // A new sink, one that answers IWMPEvents or not, advised through the point.
    struct Advised {
        com_ptr<TestSink> sink;
        DWORD cookie = 0xDEAD;
        HRESULT result = E_FAIL;
    };
    Advised AdviseNewSink(bool answersEvents)
    {
        Advised advised{TestSink::Create(answersEvents)};
        advised.result = m_point->Advise(advised.sink.get(), &advised.cookie);
        return advised;
    }

    // A refused Advise fails with the given result and holds nothing: no cookie, no reference.
    void ExpectRefused(const Advised& advised, HRESULT expected)
    {
        EXPECT_EQ(advised.result, expected);
        EXPECT_EQ(advised.cookie, 0u);
        EXPECT_EQ(advised.sink->RefCount(), 1u);
        EXPECT_EQ(m_core->SubscriptionCount(), 0u);
        EXPECT_TRUE(m_core->AdvisedCookies().empty());
    }

    com_ptr<FakeCore> m_core = FakeCore::Create();
    com_ptr<IConnectionPoint> m_point;
};

TEST_F(EventsPointTest, OnlyTheEventsInterfaceHasAPoint)
{
    IConnectionPoint* other = reinterpret_cast<IConnectionPoint*>(1);
    EXPECT_EQ(m_core->FindConnectionPoint(__uuidof(IPropertyNotifySink), &other),
              CONNECT_E_NOCONNECTION);
    EXPECT_EQ(other, nullptr);

    IID iid{};
    ASSERT_EQ(m_point->GetConnectionInterface(&iid), S_OK);
    EXPECT_EQ(iid, __uuidof(IWMPEvents));
}

TEST_F(EventsPointTest, DefaultRefusesASinkWithoutEventsAndHoldsNothing)
{
    ExpectRefused(AdviseNewSink(false), CONNECT_E_CANNOTCONNECT);
}

TEST_F(EventsPointTest, DefaultKeepsAnEventsSinkUntilUnadvise)
{
    const Advised advised = AdviseNewSink(true);
    ASSERT_EQ(advised.result, S_OK);
    const DWORD cookie = advised.cookie;
    TestSink* sink = advised.sink.get();
    EXPECT_NE(cookie, 0u);
    EXPECT_EQ(sink->RefCount(), 2u);
    EXPECT_EQ(m_core->SinkFor(cookie).get(), static_cast<IUnknown*>(sink));
    EXPECT_EQ(m_core->AdvisedCookies(), std::vector<DWORD>{cookie});

    EXPECT_EQ(m_point->Unadvise(cookie), S_OK);
    EXPECT_EQ(sink->RefCount(), 1u);
    EXPECT_EQ(m_point->Unadvise(cookie), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_point->Unadvise(cookie + 100), CONNECT_E_NOCONNECTION);
    EXPECT_EQ(m_core->UnadvisedCookies(), (std::vector<DWORD>{cookie, cookie, cookie + 100}));
    EXPECT_EQ(m_core->SinkFor(cookie).get(), nullptr);
}

TEST_F(EventsPointTest, AcceptAnySinkGivesDistinctNonZeroCookies)
{
    m_core->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    com_ptr<TestSink> sink = TestSink::Create(false);
    DWORD first = 0;
    DWORD second = 0;
    ASSERT_EQ(m_point->Advise(sink.get(), &first), S_OK);
    ASSERT_EQ(m_point->Advise(sink.get(), &second), S_OK);
    EXPECT_NE(first, 0u);
    EXPECT_NE(second, 0u);
    EXPECT_NE(first, second);
    EXPECT_EQ(sink->RefCount(), 3u);
    EXPECT_EQ(m_core->SubscriptionCount(), 2u);

    // Ending one subscription leaves the other in place.
    EXPECT_EQ(m_point->Unadvise(first), S_OK);
    EXPECT_EQ(m_core->SinkFor(second).get(), static_cast<IUnknown*>(sink.get()));
}

TEST_F(EventsPointTest, RefusePolicyFailsWithTheChosenResult)
{
    m_core->SetAdvisePolicy(AdvisePolicy::Refuse, CONNECT_E_ADVISELIMIT);
    ExpectRefused(AdviseNewSink(true), CONNECT_E_ADVISELIMIT);
    EXPECT_EQ(m_core->CallCount(PlayerCall::Advise), 1);
}

TEST_F(EventsPointTest, DyingCoreReleasesItsSinks)
{
    const Advised advised = AdviseNewSink(true);
    ASSERT_EQ(advised.result, S_OK);
    EXPECT_EQ(advised.sink->RefCount(), 2u);
    m_point.reset();
    m_core.reset();
    EXPECT_EQ(advised.sink->RefCount(), 1u);
}

}  // namespace
