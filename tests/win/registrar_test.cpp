// The registrar on scripts of the test's own, in a scratch key of the current user: every kind
// of step, what unregistering leaves, and where a locked key stops a run.
#include "framework/module.h"
#include "framework/registrar.h"
#include "res/resource.h"
#include "tests/win/built_dll.h"
#include "tests/win/registry_keys.h"
#include "tests/table_row.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Every kind of step: a created key with a default value, a text and a number value; a key
// made anew with a sub-key; a key that is never removed with a sub-key.
constexpr char kEveryStepScript[] = R"(
HKCU
{
    NoRemove Software
    {
        NoRemove 'Tunelore registrar test'
        {
            Plain = s 'plain default'
            {
                val Text = s '%MODULE%'
                val Number = d '3221225474'
            }
            ForceRemove Forced
            {
                val Kept = s 'forced'
                Inner
            }
            NoRemove Shared
            {
                Leaf
            }
        }
    }
})";

// Four keys in a row, so that a failure at one shows what came before and after it.
constexpr char kRowScript[] = R"(
HKCU
{
    NoRemove Software
    {
        NoRemove 'Tunelore registrar test'
        {
            First { val A = s '1' }
            Middle { val B = s '2' }
            ForceRemove Forced { val C = s '3' }
            Last { val D = s '4' }
        }
    }
})";

class RegistrarTest : public ::testing::Test {
protected:
    void SetUp() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kScratch.c_str()); }
    void TearDown() override
    {
        for (const std::string& path : m_locked)
            SetDacl(HKEY_CURRENT_USER, path, kFullAccessDacl);
    }

    static HRESULT Run(const char* script, RegistrarAction action, const ReplaceableParameters& parameters = {})
    {
        return RunRegistrarScript(script, parameters, action);
    }

    // Creates the key if need be, with a value of somebody else's, and restricts its access.
    bool Lock(const std::string& relative, const char* dacl)
    {
        const std::string path = Scratch(relative);
        if (!WriteValue(HKEY_CURRENT_USER, path, "Foreign", Text("foreign")) || !SetDacl(HKEY_CURRENT_USER, path, dacl))
            return false;
        m_locked.push_back(path);
        return true;
    }

    KeyRestorer m_restorer{HKEY_CURRENT_USER, kScratch};
    std::vector<std::string> m_locked;
};

TEST_F(RegistrarTest, RegisterCarriesOutEveryKindOfStep)
{
    const std::string module = "C:\\Program Files\\it's here\\module.dll";
    ASSERT_EQ(Run(kEveryStepScript, RegistrarAction::Register, {{"Module", module}}), S_OK);

    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, Scratch("Plain")),
              (ValueMap{{"", Text("plain default")}, {"Text", Text(module)}, {"Number", Number(0xC0000002)}}));
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, Scratch("Forced")), (ValueMap{{"Kept", Text("forced")}}));
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("Forced")), std::vector<std::string>{"Inner"});
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("Shared")), std::vector<std::string>{"Leaf"});
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("")), (std::vector<std::string>{"Forced", "Plain", "Shared"}));
}

TEST_F(RegistrarTest, ForceRemoveStartsItsKeyAfreshWhileOpenedKeysKeepWhatTheyHold)
{
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Forced"), "Foreign", Text("gone")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Forced\\Old\\Deeper"), "Foreign", Text("gone")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Plain"), "Foreign", Text("kept")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Shared\\Other"), "Foreign", Text("kept")));

    ASSERT_EQ(Run(kEveryStepScript, RegistrarAction::Register, {{"Module", "m"}}), S_OK);
    ASSERT_EQ(Run(kEveryStepScript, RegistrarAction::Register, {{"Module", "m"}}), S_OK);

    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, Scratch("Forced")), (ValueMap{{"Kept", Text("forced")}}));
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("Forced")), std::vector<std::string>{"Inner"});
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, Scratch("Plain")),
              (ValueMap{{"", Text("plain default")},
                        {"Text", Text("m")},
                        {"Number", Number(0xC0000002)},
                        {"Foreign", Text("kept")}}));
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("Shared")), (std::vector<std::string>{"Leaf", "Other"}));
}

TEST_F(RegistrarTest, UnregisterDeletesNamedValuesAndEmptiedKeysButNoRemoveKeys)
{
    ASSERT_EQ(Run(kEveryStepScript, RegistrarAction::Register, {{"Module", "m"}}), S_OK);
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Plain"), "Foreign", Text("goes with its key")));
    ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, Scratch("Forced\\Foreign child"), "Foreign", Text("stays")));

    ASSERT_EQ(Run(kEveryStepScript, RegistrarAction::Unregister, {{"Module", "m"}}), S_OK);

    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch("Plain")));
    // A key with a sub-key left below it stays, without the values the script named.
    EXPECT_TRUE(ReadValues(HKEY_CURRENT_USER, Scratch("Forced")).empty());
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("Forced")), std::vector<std::string>{"Foreign child"});
    EXPECT_TRUE(KeyExists(HKEY_CURRENT_USER, Scratch("Shared")));
    EXPECT_TRUE(SubKeys(HKEY_CURRENT_USER, Scratch("Shared")).empty());
    EXPECT_EQ(SubKeys(HKEY_CURRENT_USER, Scratch("")), (std::vector<std::string>{"Forced", "Shared"}));
}

TEST_F(RegistrarTest, UnregisteringWhatIsNotThereSucceedsAndCreatesNothing)
{
    EXPECT_EQ(Run(kEveryStepScript, RegistrarAction::Unregister, {{"Module", "m"}}), S_OK);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));
}

// The failure cases below rest on Wine enforcing these access lists.
TEST_F(RegistrarTest, LockedKeysRefuseTheAccessTheFailuresNeed)
{
    ASSERT_TRUE(Lock("Read only", kReadOnlyDacl));
    ASSERT_TRUE(Lock("Closed", kClosedDacl));
    unique_hkey key;
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, Scratch("Read only").c_str(), 0, KEY_SET_VALUE, key.put()),
              ERROR_ACCESS_DENIED);
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, Scratch("Read only").c_str(), 0, KEY_READ, key.put()), ERROR_SUCCESS);
    EXPECT_EQ(::RegOpenKeyExA(HKEY_CURRENT_USER, Scratch("Closed").c_str(), 0, KEY_READ, key.put()),
              ERROR_ACCESS_DENIED);
}

struct Presence {
    const char* key;    // below the scratch key
    const char* value;  // null: the key itself
    bool present;
};

struct FailureCase {
    const char* name;
    const char* script;
    RegistrarAction action;
    bool registeredBefore;  // the script has run forwards before the key is locked
    const char* lockedKey;  // null: nothing locked
    const char* dacl;
    HRESULT expected;
    std::vector<Presence> afterwards;
};

constexpr HRESULT kAccessDenied = HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);

const std::string kUnreadableScript = std::string(kRowScript) + "\nHKCU { First = d '1' }";
const std::string kUnknownParameterScript = std::string(kRowScript) + "\nHKCU { '%NOPE%' }";

const FailureCase kFailureCases[] = {
    {"ReadOnlyKeyStopsRegistrationWhereItIsNamed", kRowScript, RegistrarAction::Register, false, "Middle",
     kReadOnlyDacl, kAccessDenied,
     {{"First", "A", true}, {"Middle", "B", false}, {"Forced", nullptr, false}, {"Last", nullptr, false}}},
    {"ClosedKeyBelowForceRemoveStopsItsDeletion", kRowScript, RegistrarAction::Register, false, "Forced\\Old",
     kClosedDacl, kAccessDenied,
     {{"First", "A", true}, {"Middle", "B", true}, {"Forced\\Old", nullptr, true},
      {"Forced", "C", false}, {"Last", nullptr, false}}},
    {"ReadOnlyKeyStopsUnregistrationWhereItIsNamed", kRowScript, RegistrarAction::Unregister, true, "Middle",
     kReadOnlyDacl, kAccessDenied,
     {{"First", nullptr, false}, {"Middle", "B", true}, {"Forced", "C", true}, {"Last", "D", true}}},
    {"UnreadableScriptWritesNothing", kUnreadableScript.c_str(), RegistrarAction::Register, false, nullptr, nullptr,
     DISP_E_EXCEPTION, {{"", nullptr, false}}},
    {"UnknownParameterWritesNothing", kUnknownParameterScript.c_str(), RegistrarAction::Register, false, nullptr,
     nullptr, DISP_E_EXCEPTION, {{"", nullptr, false}}},
    {"UnreadableScriptDeletesNothing", kUnreadableScript.c_str(), RegistrarAction::Unregister, true, nullptr, nullptr,
     DISP_E_EXCEPTION, {{"First", "A", true}, {"Last", "D", true}}},
};

class RegistrarFailureTest : public RegistrarTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(RegistrarFailureTest, FirstFailureEndsTheRunAndIsItsResult)
{
    const FailureCase& test = GetParam();
    if (test.registeredBefore) {
        ASSERT_EQ(Run(kRowScript, RegistrarAction::Register), S_OK);
    }
    if (test.lockedKey != nullptr) {
        ASSERT_TRUE(Lock(test.lockedKey, test.dacl));
    }

    EXPECT_EQ(Run(test.script, test.action), test.expected);

    for (const Presence& check : test.afterwards) {
        const std::string path = Scratch(check.key);
        if (check.value == nullptr) {
            EXPECT_EQ(KeyExists(HKEY_CURRENT_USER, path), check.present) << path;
        } else {
            EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, path).count(check.value), check.present ? 1u : 0u)
                << path << " " << check.value;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(Failures, RegistrarFailureTest, ::testing::ValuesIn(kFailureCases),
                         RowName{});

TEST(RegistrarResourceTest, ModuleCarriesTheRegistrationScriptByteForByte)
{
    std::ifstream file(WindowsPath(TUNELORE_RGS_PATH), std::ios::binary);
    ASSERT_TRUE(file);
    const std::string expected{std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};

    std::string script;
    ASSERT_EQ(LoadRegistrarScript(ModuleInstance(), IDR_REGISTRY, script), S_OK);
    EXPECT_EQ(script, expected);
}

TEST(RegistrarResourceTest, MissingResourceIsTheLoadersError)
{
    constexpr UINT kNoSuchScript = 2199;
    std::string script = "left over";
    EXPECT_EQ(LoadRegistrarScript(ModuleInstance(), kNoSuchScript, script),
              HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND));
    EXPECT_EQ(script, "");
}

}  // namespace
