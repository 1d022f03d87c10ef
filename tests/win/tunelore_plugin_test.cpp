// The plug-in object as the player and COM see it: identity and aggregation, reference and
// module lock counts, the class factory, SetCore sequences and the property requests.
#include "framework/com_module.h"
#include "lookup/ilyrics_lookup.h"
#include "plugin/player_poll.h"
#include "plugin/tunelore_plugin.h"
#include "tests/win/recording_lookup.h"
#include "tools/fake_player/fake_player.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

const ObjectMapEntry kTestObjectMap[] = {{&CLSID_TunelorePlugin, &TunelorePlugin::CreateInstance, 0}};

class PluginObjectTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        g_lookup = &m_lookup;
        g_lastTrackKey.clear();
        Module().Init(kTestObjectMap, 1, nullptr);
    }

    void TearDown() override
    {
        Module().Term();
        g_lookup = nullptr;
        EXPECT_TRUE(g_livePlugins.empty());
        EXPECT_EQ(Module().LockCount(), 0);
        EXPECT_EQ(FakeCore::LiveObjects(), 0);
        EXPECT_EQ(FakeMedia::LiveObjects(), 0);
    }

    static com_ptr<IWMPPluginUI> NewPlugin()
    {
        com_ptr<IWMPPluginUI> plugin;
        EXPECT_EQ(TunelorePlugin::CreateInstance(nullptr, __uuidof(IWMPPluginUI), plugin.put_void()), S_OK);
        return plugin;
    }

    // Whether the plug-in polls this core: a song played on it is looked up at the next tick.
    void ExpectPolled(FakeCore* core)
    {
        core->SetCurrentMedia(FakeMedia::Create({{L"Title", L"Rain Song"}}, L"audio").get());
        core->SetPlayState(wmppsPlaying);
        PollPlayers();
        EXPECT_EQ(m_lookup.titles, std::vector<std::string>{"Rain Song"});
    }

    RecordingLookup m_lookup;
};

TEST_F(PluginObjectTest, AnswersOnlyItsTwoInterfacesWithOneIdentity)
{
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    com_ptr<IUnknown> unknown;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown, unknown.put_void()), S_OK);
    EXPECT_EQ(unknown.get(), static_cast<IUnknown*>(plugin.get()));

    for (const IID& iid : {__uuidof(IWMPEvents), IID_IDispatch, IID_IConnectionPointContainer, IID_IClassFactory}) {
        void* other = reinterpret_cast<void*>(1);
        EXPECT_EQ(plugin->QueryInterface(iid, &other), E_NOINTERFACE);
        EXPECT_EQ(other, nullptr);
    }
    EXPECT_EQ(plugin->QueryInterface(IID_IUnknown, nullptr), E_POINTER);
}

TEST_F(PluginObjectTest, ReferenceCountAndModuleLockFollowTheObject)
{
    IWMPPluginUI* plugin = nullptr;
    ASSERT_EQ(TunelorePlugin::CreateInstance(nullptr, __uuidof(IWMPPluginUI), reinterpret_cast<void**>(&plugin)),
              S_OK);
    EXPECT_EQ(Module().LockCount(), 1);
    EXPECT_EQ(Module().CanUnloadNow(), S_FALSE);
    EXPECT_EQ(g_livePlugins.size(), 1u);

    EXPECT_EQ(plugin->AddRef(), 2u);
    EXPECT_EQ(plugin->Release(), 1u);
    EXPECT_EQ(plugin->Release(), 0u);
    EXPECT_TRUE(g_livePlugins.empty());
    EXPECT_EQ(Module().CanUnloadNow(), S_OK);
}

// An outer object that aggregates the plug-in, counting the references that reach it.
class Outer : public IUnknown {
public:
    HRESULT STDMETHODCALLTYPE QueryInterface(REFIID iid, void** object) override
    {
        if (iid == IID_IUnknown) {
            *object = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner ? inner->QueryInterface(iid, object) : E_NOINTERFACE;
    }
    ULONG STDMETHODCALLTYPE AddRef() override { return static_cast<ULONG>(++refs); }
    ULONG STDMETHODCALLTYPE Release() override { return static_cast<ULONG>(--refs); }

    IUnknown* inner = nullptr;
    LONG refs = 1;
};

TEST_F(PluginObjectTest, AggregatedObjectDelegatesToItsOuterObject)
{
    Outer outer;
    ASSERT_EQ(TunelorePlugin::CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)), S_OK);
    EXPECT_NE(outer.inner, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(g_livePlugins.size(), 1u);
    EXPECT_EQ(Module().LockCount(), 1);

    // The inner unknown answers the plug-in interface, whose references go to the outer.
    IWMPPluginUI* plugin = nullptr;
    ASSERT_EQ(outer.inner->QueryInterface(__uuidof(IWMPPluginUI), reinterpret_cast<void**>(&plugin)), S_OK);
    EXPECT_EQ(outer.refs, 2);
    plugin->AddRef();
    EXPECT_EQ(outer.refs, 3);
    plugin->Release();
    plugin->Release();
    EXPECT_EQ(outer.refs, 1);

    // Asked through the plug-in interface, IUnknown is the outer object's identity.
    outer.inner->QueryInterface(__uuidof(IWMPPluginUI), reinterpret_cast<void**>(&plugin));
    IUnknown* identity = nullptr;
    ASSERT_EQ(plugin->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    plugin->Release();

    EXPECT_EQ(outer.inner->Release(), 0u);
    EXPECT_TRUE(g_livePlugins.empty());
}

TEST_F(PluginObjectTest, AggregationAskingForMoreThanIUnknownIsRefused)
{
    Outer outer;
    void* object = reinterpret_cast<void*>(1);
    EXPECT_EQ(TunelorePlugin::CreateInstance(&outer, __uuidof(IWMPPluginUI), &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(object, nullptr);
    EXPECT_TRUE(g_livePlugins.empty());
}

TEST_F(PluginObjectTest, ClassFactoryIsCachedAndCountsItsHolders)
{
    void* none = reinterpret_cast<void*>(1);
    EXPECT_EQ(Module().GetClassObject(IID_IUnknown, IID_IClassFactory, &none), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(none, nullptr);
    EXPECT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, nullptr), E_POINTER);

    com_ptr<IClassFactory> factory;
    com_ptr<IClassFactory> again;
    ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, factory.put_void()), S_OK);
    ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, again.put_void()), S_OK);
    EXPECT_EQ(factory.get(), again.get());
    again.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_FALSE);
    factory.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_OK);
}

TEST_F(PluginObjectTest, ClassFactoryCreatesChecksAndLocks)
{
    com_ptr<IClassFactory> factory;
    ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, factory.put_void()), S_OK);

    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), nullptr), E_POINTER);
    Outer outer;
    void* object = nullptr;
    EXPECT_EQ(factory->CreateInstance(&outer, __uuidof(IWMPPluginUI), &object), CLASS_E_NOAGGREGATION);
    EXPECT_EQ(factory->CreateInstance(nullptr, __uuidof(IWMPEvents), &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_TRUE(g_livePlugins.empty());

    com_ptr<IWMPPluginUI> plugin;
    ASSERT_EQ(factory->CreateInstance(nullptr, __uuidof(IWMPPluginUI), plugin.put_void()), S_OK);
    factory.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_FALSE);
    plugin.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_OK);

    ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(TRUE);
    factory.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_FALSE);
    ASSERT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, factory.put_void()), S_OK);
    factory->LockServer(FALSE);
    factory.reset();
    EXPECT_EQ(Module().CanUnloadNow(), S_OK);
}

TEST_F(PluginObjectTest, SetCoreWithNoneOnAFreshObjectChangesNothing)
{
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    EXPECT_EQ(plugin->SetCore(nullptr), S_OK);
    PollPlayers();
    EXPECT_TRUE(m_lookup.titles.empty());
}

TEST_F(PluginObjectTest, AcceptedSubscriptionEndsBeforeTheNextCoreIsTaken)
{
    com_ptr<FakeCore> first = FakeCore::Create();
    com_ptr<FakeCore> second = FakeCore::Create();
    first->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    second->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    com_ptr<IWMPPluginUI> plugin = NewPlugin();

    ASSERT_EQ(plugin->SetCore(first.get()), S_OK);
    ASSERT_EQ(first->AdvisedCookies().size(), 1u);
    EXPECT_EQ(first->SubscriptionCount(), 1u);

    // The second core fails at once, yet the first subscription is already gone.
    second->InjectResult(PlayerCall::QueryConnectionPointContainer, E_NOINTERFACE);
    EXPECT_EQ(plugin->SetCore(second.get()), E_NOINTERFACE);
    ASSERT_EQ(first->UnadvisedCookies().size(), 1u);
    EXPECT_EQ(first->UnadvisedCookies()[0], first->AdvisedCookies()[0]);
    EXPECT_EQ(first->SubscriptionCount(), 0u);
    EXPECT_EQ(first->RefCount(), 1u);

    // The second core is held all the same, and polled.
    ExpectPolled(second.get());

    EXPECT_EQ(plugin->SetCore(nullptr), S_OK);
    EXPECT_EQ(second->RefCount(), 1u);
    second->SetCurrentMedia(nullptr);
}

TEST_F(PluginObjectTest, RefusedSubscriptionKeepsTheCoreAndThePoll)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    // As the player does: the sink must answer the events interface, which this one does not.
    EXPECT_EQ(plugin->SetCore(core.get()), CONNECT_E_CANNOTCONNECT);
    EXPECT_EQ(core->SubscriptionCount(), 0u);

    core->SetCurrentMedia(FakeMedia::Create({{L"Title", L"Rain Song"}}, L"radio").get());
    core->SetPlayState(wmppsPlaying);
    PollPlayers();
    EXPECT_EQ(m_lookup.titles.size(), 1u);

    // Nothing was subscribed, so nothing is unadvised on release.
    plugin.reset();
    EXPECT_TRUE(core->UnadvisedCookies().empty());
    EXPECT_EQ(core->RefCount(), 1u);
    core->SetCurrentMedia(nullptr);
}

struct SetCoreFailureCase {
    const char* name;
    PlayerCall call;
    HRESULT result;
};

class SetCoreFailureTest : public PluginObjectTest, public ::testing::WithParamInterface<SetCoreFailureCase> {};

TEST_P(SetCoreFailureTest, ReturnsTheFailingStepsResultAndKeepsTheCore)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    core->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    core->InjectResult(GetParam().call, GetParam().result);
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    EXPECT_EQ(plugin->SetCore(core.get()), GetParam().result);
    EXPECT_EQ(core->SubscriptionCount(), 0u);

    core->SetPlayState(wmppsStopped);
    PollPlayers();
    EXPECT_EQ(core->CallCount(PlayerCall::GetPlayState), 1);
    plugin.reset();
    EXPECT_EQ(core->RefCount(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Steps, SetCoreFailureTest,
                         ::testing::Values(SetCoreFailureCase{"Container", PlayerCall::QueryConnectionPointContainer,
                                                              E_NOINTERFACE},
                                           SetCoreFailureCase{"FindPoint", PlayerCall::FindConnectionPoint,
                                                              CONNECT_E_NOCONNECTION},
                                           SetCoreFailureCase{"Advise", PlayerCall::Advise, E_FAIL}),
                         RowName{});

TEST_F(PluginObjectTest, SetCoreWithNoneEndsTheSubscriptionAndReleasesTheCore)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    core->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    ASSERT_EQ(plugin->SetCore(core.get()), S_OK);
    // The connection point holds the sink: the player ends the subscription with SetCore(none).
    EXPECT_EQ(plugin->SetCore(nullptr), S_OK);
    EXPECT_EQ(core->UnadvisedCookies().size(), 1u);
    plugin.reset();
    EXPECT_EQ(core->RefCount(), 1u);
}

// A hostile player's answers to the subscription's steps: success with nothing in the
// out-value, or failure with junk in it. SetCore answers as for the nearest honest failure,
// keeps the core, and never touches, releases or unadvises what a failed call left.
struct HostileSetCoreCase {
    const char* name;
    PlayerCall call;
    HRESULT injected;
    InjectedAnswer answer;
    HRESULT expected;
};

class HostileSetCoreTest : public PluginObjectTest, public ::testing::WithParamInterface<HostileSetCoreCase> {};

TEST_P(HostileSetCoreTest, KeepsTheCoreAndLeavesTheJunkAlone)
{
    const HostileSetCoreCase& c = GetParam();
    com_ptr<FakeCore> core = FakeCore::Create();
    core->SetAdvisePolicy(AdvisePolicy::AcceptAnySink);
    core->InjectResult(c.call, c.injected, c.answer);
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    EXPECT_EQ(plugin->SetCore(core.get()), c.expected);
    EXPECT_EQ(core->SubscriptionCount(), 0u);

    ExpectPolled(core.get());

    // Ending the core, and the object, unadvise nothing.
    EXPECT_EQ(plugin->SetCore(nullptr), S_OK);
    plugin.reset();
    EXPECT_TRUE(core->UnadvisedCookies().empty());
    EXPECT_FALSE(core->JunkTouched());
    EXPECT_EQ(core->RefCount(), 1u);
    core->SetCurrentMedia(nullptr);
}

INSTANTIATE_TEST_SUITE_P(
    Steps, HostileSetCoreTest,
    ::testing::Values(
        HostileSetCoreCase{"ContainerNull", PlayerCall::QueryConnectionPointContainer, S_OK, InjectedAnswer::Withheld,
                           E_NOINTERFACE},
        HostileSetCoreCase{"PointNull", PlayerCall::FindConnectionPoint, S_OK, InjectedAnswer::Withheld, E_POINTER},
        HostileSetCoreCase{"CookieZero", PlayerCall::Advise, S_OK, InjectedAnswer::Withheld, S_OK},
        HostileSetCoreCase{"ContainerJunk", PlayerCall::QueryConnectionPointContainer, E_NOINTERFACE,
                           InjectedAnswer::Junk, E_NOINTERFACE},
        HostileSetCoreCase{"PointJunk", PlayerCall::FindConnectionPoint, CONNECT_E_NOCONNECTION, InjectedAnswer::Junk,
                           CONNECT_E_NOCONNECTION},
        HostileSetCoreCase{"CookieJunk", PlayerCall::Advise, E_FAIL, InjectedAnswer::Junk, E_FAIL}),
    RowName{});

TEST_F(PluginObjectTest, CoreWhoseEveryCallSucceedsEmptyIsHeldAndPolledSafely)
{
    com_ptr<FakeCore> core = FakeCore::Create();
    core->InjectEveryResult(S_OK, InjectedAnswer::Withheld);
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    EXPECT_EQ(plugin->SetCore(core.get()), E_NOINTERFACE);
    PollPlayers();
    EXPECT_TRUE(m_lookup.titles.empty());
    EXPECT_EQ(core->CallCount(PlayerCall::GetPlayState), 1);
    plugin.reset();
    EXPECT_EQ(core->RefCount(), 1u);
}

using PropertyCase = TableRow<const wchar_t*, HRESULT>;

class GetPropertyTest : public PluginObjectTest, public ::testing::WithParamInterface<PropertyCase> {};

TEST_P(GetPropertyTest, AnswersOnlyTheDefaultExtents)
{
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    VARIANT value;
    V_VT(&value) = VT_BOOL;
    V_BOOL(&value) = VARIANT_TRUE;
    EXPECT_EQ(plugin->GetProperty(GetParam().input, &value), GetParam().expected);
    if (GetParam().expected == S_OK) {
        EXPECT_EQ(V_VT(&value), VT_I4);
        EXPECT_EQ(V_I4(&value), 100);
    } else {
        EXPECT_EQ(V_VT(&value), VT_BOOL);
        EXPECT_EQ(V_BOOL(&value), VARIANT_TRUE);
    }
}

INSTANTIATE_TEST_SUITE_P(Names, GetPropertyTest,
                         ::testing::Values(PropertyCase{"DefaultWidth", L"DefaultWidth", S_OK},
                                           PropertyCase{"LowerCaseHeight", L"defaultheight", S_OK},
                                           PropertyCase{"UpperCaseWidth", L"DEFAULTWIDTH", S_OK},
                                           PropertyCase{"Other", L"Width", E_NOTIMPL},
                                           PropertyCase{"Prefix", L"DefaultWidthX", E_NOTIMPL},
                                           PropertyCase{"Empty", L"", E_NOTIMPL},
                                           PropertyCase{"Null", nullptr, E_NOTIMPL}),
                         RowName{});

TEST_F(PluginObjectTest, RemainingOperationsAnswerAsThePlayerExpects)
{
    com_ptr<IWMPPluginUI> plugin = NewPlugin();
    EXPECT_EQ(plugin->GetProperty(L"DefaultWidth", nullptr), E_POINTER);

    HWND window = reinterpret_cast<HWND>(0x1234);
    EXPECT_EQ(plugin->Create(nullptr, &window), S_OK);
    EXPECT_EQ(window, reinterpret_cast<HWND>(0x1234));
    EXPECT_EQ(plugin->Destroy(), S_OK);
    VARIANT value;
    V_VT(&value) = VT_EMPTY;
    EXPECT_EQ(plugin->SetProperty(L"DefaultWidth", &value), E_NOTIMPL);
    MSG message = {};
    EXPECT_EQ(plugin->TranslateAccelerator(&message), S_OK);

    EXPECT_EQ(plugin->DisplayPropertyPage(nullptr), S_OK);
    EXPECT_EQ(m_lookup.settingsShown, 1);
}

}  // namespace
