// Registration against the test prefix's real registry: the registrar on scripts of the test's
// own in a scratch key of the current user, the COM module's registration of its object map,
// and the built DLL registered by the real regsvr32 and through its exports, each time with the
// broadcast that running players listen for.
#include "framework/com_module.h"
#include "framework/module.h"
#include "framework/narrow_text.h"
#include "framework/registrar.h"
#include "framework/unique_handle.h"
#include "plugin/registration.h"
#include "res/resource.h"

#include <windows.h>
#include <sddl.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace {

// ---- Registry helpers -------------------------------------------------------------------------

using Bytes = std::vector<BYTE>;

struct StoredValue {
    DWORD type = REG_NONE;
    Bytes data;

    bool operator==(const StoredValue& other) const { return type == other.type && data == other.data; }
};

void PrintTo(const StoredValue& value, std::ostream* out)
{
    if (value.type == REG_SZ && !value.data.empty() && value.data.back() == 0)
        *out << "REG_SZ \"" << reinterpret_cast<const char*>(value.data.data()) << '"';
    else
        *out << "type " << value.type << ", " << value.data.size() << " bytes";
}

// Keyed by value name; "" is the key's default value.
using ValueMap = std::map<std::string, StoredValue>;

StoredValue Text(const std::string& text)
{
    return {REG_SZ, Bytes(text.c_str(), text.c_str() + text.size() + 1)};
}

StoredValue Number(DWORD number)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&number);
    return {REG_DWORD, Bytes(bytes, bytes + sizeof number)};
}

unique_hkey OpenKey(HKEY root, const std::string& path, REGSAM access = KEY_READ)
{
    unique_hkey key;
    ::RegOpenKeyExA(root, path.c_str(), 0, access, key.put());
    return key;
}

// A key this process may not open still exists.
bool KeyExists(HKEY root, const std::string& path)
{
    unique_hkey key;
    const LSTATUS status = ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put());
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

ValueMap ReadValues(HKEY key)
{
    ValueMap values;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        std::string name(maxName + 1, '\0');
        Bytes data(maxData + 1);
        DWORD nameLength = maxName + 1;
        DWORD size = maxData + 1;
        DWORD type = REG_NONE;
        if (::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        name.resize(nameLength);
        data.resize(size);
        values[name] = {type, data};
    }
    return values;
}

ValueMap ReadValues(HKEY root, const std::string& path)
{
    const unique_hkey key = OpenKey(root, path);
    return key ? ReadValues(key.get()) : ValueMap();
}

std::vector<std::string> SubKeys(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SubKeys(HKEY root, const std::string& path)
{
    const unique_hkey key = OpenKey(root, path);
    return key ? SubKeys(key.get()) : std::vector<std::string>();
}

bool WriteValue(HKEY root, const std::string& path, const char* name, const StoredValue& value)
{
    unique_hkey key;
    return ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExA(key.get(), name, 0, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool SetDacl(HKEY root, const std::string& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const unique_hkey key = OpenKey(root, path, WRITE_DAC);
    const bool done = key && ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return done;
}

// Wine enforces these on opening a key; it grants DELETE whatever the list says.
constexpr char kReadOnlyDacl[] = "D:P(A;;KR;;;WD)";
constexpr char kClosedDacl[] = "D:P(D;;KA;;;WD)";
constexpr char kFullAccessDacl[] = "D:P(A;;KA;;;WD)";

struct KeySnapshot {
    ValueMap values;
    std::map<std::string, KeySnapshot> subKeys;
};

KeySnapshot Snapshot(HKEY key)
{
    KeySnapshot snapshot{ReadValues(key), {}};
    for (const std::string& name : SubKeys(key)) {
        const unique_hkey subKey = OpenKey(key, name);
        if (subKey)
            snapshot.subKeys[name] = Snapshot(subKey.get());
    }
    return snapshot;
}

void Recreate(HKEY root, const std::string& path, const KeySnapshot& snapshot)
{
    unique_hkey key;
    ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(), nullptr);
    for (const auto& [name, value] : snapshot.values)
        WriteValue(root, path, name.c_str(), value);
    for (const auto& [name, subKey] : snapshot.subKeys)
        Recreate(root, path + "\\" + name, subKey);
}

// Records a key with everything below it, and which keys of its path do not exist yet; puts
// all of it back as it was when it goes.
class KeyRestorer {
public:
    KeyRestorer(HKEY root, std::string path) : m_root(root), m_path(std::move(path))
    {
        for (size_t end = 0; end != std::string::npos;) {
            end = m_path.find('\\', end + 1);
            const std::string prefix = m_path.substr(0, end);
            if (!KeyExists(m_root, prefix))
                m_missing.push_back(prefix);
        }
        if (const unique_hkey key = OpenKey(m_root, m_path)) {
            m_existed = true;
            m_snapshot = Snapshot(key.get());
        }
    }
    ~KeyRestorer()
    {
        ::RegDeleteTreeA(m_root, m_path.c_str());
        ::RegDeleteKeyA(m_root, m_path.c_str());
        if (m_existed)
            Recreate(m_root, m_path, m_snapshot);
        for (auto it = m_missing.rbegin(); it != m_missing.rend(); ++it) {
            if (SubKeys(m_root, *it).empty() && ReadValues(m_root, *it).empty())
                ::RegDeleteKeyA(m_root, it->c_str());
        }
    }
    KeyRestorer(const KeyRestorer&) = delete;
    KeyRestorer& operator=(const KeyRestorer&) = delete;

private:
    HKEY m_root;
    std::string m_path;
    std::vector<std::string> m_missing;
    bool m_existed = false;
    KeySnapshot m_snapshot;
};

// ---- The broadcast ----------------------------------------------------------------------------

using Notice = std::pair<WPARAM, LPARAM>;
const std::vector<Notice> kOneNotice{{0, 0}};

// A hidden top-level window that records every "WMPlayer_PluginAddRemove" it is sent.
class NoticeListener {
public:
    NoticeListener() : m_message(::RegisterWindowMessageA(kPluginAddRemoveMessage))
    {
        WNDCLASSA windowClass{};
        windowClass.lpfnWndProc = &WindowProc;
        windowClass.hInstance = ModuleInstance();
        windowClass.lpszClassName = kClassName;
        ::RegisterClassA(&windowClass);
        s_listener = this;
        m_window.reset(::CreateWindowExA(0, kClassName, "", WS_OVERLAPPED, 0, 0, 0, 0, nullptr, nullptr,
                                         ModuleInstance(), nullptr));
        Pump();
        m_notices.clear();
    }
    ~NoticeListener()
    {
        m_window.reset();
        s_listener = nullptr;
    }
    NoticeListener(const NoticeListener&) = delete;
    NoticeListener& operator=(const NoticeListener&) = delete;

    bool ready() const { return m_message != 0 && m_window; }

    // What arrived since the last call: waits a while for the first notice, then takes
    // whatever else is already queued.
    std::vector<Notice> Collect()
    {
        const DWORD start = ::GetTickCount();
        Pump();
        while (m_notices.empty()) {
            const DWORD elapsed = ::GetTickCount() - start;
            if (elapsed >= kWaitMs)
                break;
            ::MsgWaitForMultipleObjects(0, nullptr, FALSE, kWaitMs - elapsed, QS_ALLINPUT);
            Pump();
        }
        return std::exchange(m_notices, {});
    }

private:
    static constexpr char kClassName[] = "TuneloreRegistrationTestListener";
    static constexpr DWORD kWaitMs = 5000;

    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
    {
        if (s_listener != nullptr && message == s_listener->m_message && message != 0) {
            s_listener->m_notices.emplace_back(wParam, lParam);
            return 0;
        }
        return ::DefWindowProcA(window, message, wParam, lParam);
    }

    static void Pump()
    {
        MSG msg;
        while (::PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            ::TranslateMessage(&msg);
            ::DispatchMessageA(&msg);
        }
    }

    static inline NoticeListener* s_listener = nullptr;
    UINT m_message;
    unique_hwnd m_window;
    std::vector<Notice> m_notices;
};

// ---- The registrar on scripts of the test's own -----------------------------------------------

const std::string kScratch = "Software\\Tunelore registrar test";

std::string Scratch(const std::string& relative)
{
    return relative.empty() ? kScratch : kScratch + "\\" + relative;
}

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

void PrintTo(const FailureCase& test, std::ostream* out)
{
    *out << test.name;
}

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
                         [](const ::testing::TestParamInfo<FailureCase>& info) { return std::string(info.param.name); });

// The build tree is on the Unix side, which Wine shows as drive Z:.
std::string WindowsPath(const std::string& unixPath)
{
    std::string path = "Z:" + unixPath;
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

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

// ---- The COM module's registration of its object map ------------------------------------------

// Scripts of this test's resources: the first writes the module's parameters into the scratch
// key, the second a sub-key of it.
constexpr UINT kParameterScript = 2104;
constexpr UINT kSecondScript = 2105;
constexpr UINT kMissingScript = 2199;

std::string ModulePath(HMODULE module)
{
    char path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
    return std::string(path, length < MAX_PATH ? length : 0);
}

class ModuleRegistrationTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kScratch.c_str());
        ASSERT_TRUE(m_listener.ready());
    }

    KeyRestorer m_restorer{HKEY_CURRENT_USER, kScratch};
    NoticeListener m_listener;
};

TEST_F(ModuleRegistrationTest, EveryScriptOfTheMapRunsWithTheModulesPath)
{
    const ObjectMapEntry map[] = {
        {&GUID_NULL, nullptr, 0},
        {&GUID_NULL, nullptr, kParameterScript},
        {&GUID_NULL, nullptr, kSecondScript},
    };
    ComModule module;
    module.Init(map, std::size(map), ModuleInstance());
    const std::string path = ModulePath(ModuleInstance());
    ASSERT_FALSE(path.empty());

    EXPECT_EQ(RegisterPlugin(module), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, kScratch),
              (ValueMap{{"Module", Text(path)}, {"Raw", Text(path)}, {"AppId", Text("[]")}}));
    EXPECT_EQ(ReadValues(HKEY_CURRENT_USER, Scratch("Second")), (ValueMap{{"Order", Text("2")}}));

    // In map order backwards: the first script finds the second's sub-key still there.
    EXPECT_EQ(UnregisterPlugin(module), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    EXPECT_TRUE(ReadValues(HKEY_CURRENT_USER, kScratch).empty());
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, Scratch("Second")));
    module.Term();
}

enum class Instance { None, NotAModule, TestExecutable };

struct ModuleFailureCase {
    const char* name;
    Instance instance;
    UINT firstScript;
    HRESULT expected;
};

const ModuleFailureCase kModuleFailureCases[] = {
    {"ModuleNeverInitialised", Instance::None, kParameterScript, E_UNEXPECTED},
    {"ModuleWithoutAPathFailsWithTheLastError", Instance::NotAModule, kParameterScript,
     HRESULT_FROM_WIN32(ERROR_MOD_NOT_FOUND)},
    {"MissingScriptEndsTheRunBeforeTheNextEntry", Instance::TestExecutable, kMissingScript,
     HRESULT_FROM_WIN32(ERROR_RESOURCE_NAME_NOT_FOUND)},
};

void PrintTo(const ModuleFailureCase& test, std::ostream* out)
{
    *out << test.name;
}

class ModuleRegistrationFailureTest : public ModuleRegistrationTest,
                                      public ::testing::WithParamInterface<ModuleFailureCase> {};

TEST_P(ModuleRegistrationFailureTest, FailsWithoutWritingAndStillBroadcasts)
{
    const ModuleFailureCase& test = GetParam();
    const ObjectMapEntry map[] = {
        {&GUID_NULL, nullptr, test.firstScript},
        {&GUID_NULL, nullptr, kSecondScript},
    };
    // Heap memory lies in no module, so Windows has no path for it.
    const std::vector<BYTE> notAModule(64);
    HINSTANCE instance = nullptr;
    if (test.instance == Instance::NotAModule)
        instance = reinterpret_cast<HINSTANCE>(const_cast<BYTE*>(notAModule.data()));
    else if (test.instance == Instance::TestExecutable)
        instance = ModuleInstance();
    ComModule module;
    module.Init(map, std::size(map), instance);

    EXPECT_EQ(RegisterPlugin(module), test.expected);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    EXPECT_FALSE(KeyExists(HKEY_CURRENT_USER, kScratch));

    EXPECT_EQ(UnregisterPlugin(module), test.expected);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    module.Term();
}

INSTANTIATE_TEST_SUITE_P(Failures, ModuleRegistrationFailureTest, ::testing::ValuesIn(kModuleFailureCases),
                         [](const ::testing::TestParamInfo<ModuleFailureCase>& info) {
                             return std::string(info.param.name);
                         });

// ---- The built DLL ----------------------------------------------------------------------------

const std::string kClassKey = "CLSID\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const std::string kServerKey = kClassKey + "\\InprocServer32";
const std::string kPluginsKey = "SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins";
const std::string kPluginKey = kPluginsKey + "\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const std::string kAppKey = "software\\Quillmark\\Tunelore plugin";
const std::string kSettingsKey = kAppKey + "\\Settings";
const std::string kDllPath = WindowsPath(TUNELORE_DLL_PATH);

constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);
constexpr DWORD kNoExitCode = 0xFFFFFFFF;
constexpr DWORD kProcessWaitMs = 60000;

struct process_handle_traits {
    using pointer = HANDLE;
    static constexpr pointer invalid() { return nullptr; }
    static void close(pointer value) { ::CloseHandle(value); }
};
using unique_process_handle = unique_handle<process_handle_traits>;

// The real regsvr32 of the prefix, silent, as a child process; its exit code, or kNoExitCode
// when it could not be started or did not end in time.
DWORD RunRegsvr32(const std::string& options, const std::string& dll)
{
    std::string command = "regsvr32.exe /s " + options + "\"" + dll + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!::CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process))
        return kNoExitCode;
    const unique_process_handle processHandle(process.hProcess);
    const unique_process_handle threadHandle(process.hThread);
    if (::WaitForSingleObject(process.hProcess, kProcessWaitMs) != WAIT_OBJECT_0) {
        ::TerminateProcess(process.hProcess, kNoExitCode);
        return kNoExitCode;
    }
    DWORD exitCode = kNoExitCode;
    ::GetExitCodeProcess(process.hProcess, &exitCode);
    return exitCode;
}

// The DLL loaded into this process, as a registration tool loads it.
class PluginDll {
public:
    explicit PluginDll(const std::string& path) : m_module(::LoadLibraryA(path.c_str())) {}
    // The narrow loader stops at MAX_PATH; a longer path needs the wide one.
    explicit PluginDll(const std::wstring& path) : m_module(::LoadLibraryW(path.c_str())) {}

    explicit operator bool() const { return static_cast<bool>(m_module); }
    std::string Path() const { return ModulePath(m_module.get()); }

    HRESULT Call(const char* exportName) const
    {
        using Export = HRESULT(STDAPICALLTYPE*)();
        const auto function = reinterpret_cast<Export>(::GetProcAddress(m_module.get(), exportName));
        return function != nullptr ? function() : HRESULT_FROM_WIN32(ERROR_PROC_NOT_FOUND);
    }
    HRESULT Register() const { return Call("DllRegisterServer"); }
    HRESULT Unregister() const { return Call("DllUnregisterServer"); }

private:
    unique_hmodule m_module;
};

// A copy of the DLL deep enough below the build tree that its full path passes 259 characters.
class DeepCopy {
public:
    DeepCopy()
    {
        const std::string base = kDllPath.substr(0, kDllPath.rfind('\\')) + "\\registration-deep";
        std::string directory = base;
        m_directories.push_back(directory);
        for (char letter = 'a'; directory.size() + sizeof "\\Tunelore-WMP.dll" <= kWantedLength; ++letter) {
            directory += "\\" + std::string(kSegmentLength, letter);
            m_directories.push_back(directory);
        }
        m_path = directory + "\\Tunelore-WMP.dll";
        for (const std::string& created : m_directories) {
            if (!::CreateDirectoryW(Long(created).c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS)
                return;
        }
        m_copied = ::CopyFileW(Long(kDllPath).c_str(), Long(m_path).c_str(), FALSE) != FALSE;
    }
    ~DeepCopy()
    {
        ::DeleteFileW(Long(m_path).c_str());
        for (auto it = m_directories.rbegin(); it != m_directories.rend(); ++it)
            ::RemoveDirectoryW(Long(*it).c_str());
    }
    DeepCopy(const DeepCopy&) = delete;
    DeepCopy& operator=(const DeepCopy&) = delete;

    bool copied() const { return m_copied; }
    const std::string& path() const { return m_path; }
    std::wstring widePath() const { return WideFromNarrow(m_path); }

private:
    static constexpr size_t kSegmentLength = 60;
    static constexpr size_t kWantedLength = 300;

    // Past MAX_PATH the file calls need the long-path prefix.
    static std::wstring Long(const std::string& path) { return L"\\\\?\\" + WideFromNarrow(path); }

    std::vector<std::string> m_directories;
    std::string m_path;
    bool m_copied = false;
};

class PluginDllTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_TRUE(m_listener.ready());
        // Loading the DLL runs its start-up: no update check may head for the network.
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKey.c_str());
        ASSERT_TRUE(WriteValue(HKEY_CURRENT_USER, kSettingsKey, "Check updates", Number(0)));
    }

    static void ExpectRegistration(const std::string& modulePath)
    {
        EXPECT_EQ(ReadValues(HKEY_LOCAL_MACHINE, kPluginKey),
                  (ValueMap{{"FriendlyName", Text("res://Tunelore-WMP.dll/RT_STRING/#2014")},
                            {"Description", Text("res://Tunelore-WMP.dll/RT_STRING/#2015")},
                            {"Capabilities", Number(0xC0000002)}}));
        EXPECT_TRUE(SubKeys(HKEY_LOCAL_MACHINE, kPluginKey).empty());
        EXPECT_EQ(ReadValues(HKEY_CLASSES_ROOT, kClassKey), (ValueMap{{"", Text("TunelorePlugin Class")}}));
        EXPECT_EQ(SubKeys(HKEY_CLASSES_ROOT, kClassKey), std::vector<std::string>{"InprocServer32"});
        EXPECT_EQ(ReadValues(HKEY_CLASSES_ROOT, kServerKey),
                  (ValueMap{{"", Text(modulePath)}, {"ThreadingModel", Text("Apartment")}}));
        EXPECT_TRUE(SubKeys(HKEY_CLASSES_ROOT, kServerKey).empty());
    }

    static void ExpectNoRegistration()
    {
        EXPECT_FALSE(KeyExists(HKEY_CLASSES_ROOT, kClassKey));
        EXPECT_FALSE(KeyExists(HKEY_LOCAL_MACHINE, kPluginKey));
    }

    // Declared first, so that they put the registry back after everything else has gone.
    KeyRestorer m_classKey{HKEY_CLASSES_ROOT, kClassKey};
    KeyRestorer m_pluginKey{HKEY_LOCAL_MACHINE, kPluginKey};
    KeyRestorer m_appKey{HKEY_CURRENT_USER, kAppKey};
    NoticeListener m_listener;
};

TEST_F(PluginDllTest, Regsvr32RegistersExactlyAndRunsTheModulesStartUpAndExit)
{
    ASSERT_EQ(RunRegsvr32("", kDllPath), 0u);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectRegistration(kDllPath);

    // Written by the module's exit; the value set beforehand was read at its start-up.
    const ValueMap settings = ReadValues(HKEY_CURRENT_USER, kSettingsKey);
    std::vector<std::string> names;
    for (const auto& entry : settings)
        names.push_back(entry.first);
    EXPECT_EQ(names, (std::vector<std::string>{"Balloon delay", "Balloon timeout", "Check updates",
                                               "Last update check", "Tip enabled"}));
    EXPECT_EQ(settings.count("Check updates") ? settings.at("Check updates") : StoredValue{}, Number(0));

    ASSERT_EQ(RunRegsvr32("/u ", kDllPath), 0u);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectNoRegistration();
}

TEST_F(PluginDllTest, RegisteringAgainLeavesOneSetAndDropsWhatOthersAdded)
{
    const PluginDll dll(kDllPath);
    ASSERT_TRUE(dll);
    ASSERT_EQ(dll.Register(), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectRegistration(dll.Path());

    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, kClassKey, "Foreign", Text("x")));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, kServerKey, "Foreign", Text("x")));
    ASSERT_TRUE(WriteValue(HKEY_CLASSES_ROOT, kClassKey + "\\Foreign child", "Foreign", Text("x")));
    ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kPluginKey, "Foreign", Text("x")));
    ASSERT_TRUE(WriteValue(HKEY_LOCAL_MACHINE, kPluginKey + "\\Foreign child", "Foreign", Text("x")));

    ASSERT_EQ(dll.Register(), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectRegistration(dll.Path());
    // The path as Windows reports it for the loaded module is the one regsvr32 was given.
    EXPECT_EQ(dll.Path(), kDllPath);
}

TEST_F(PluginDllTest, UnregisteringLeavesTheSharedKeysAndAlwaysBroadcasts)
{
    const PluginDll dll(kDllPath);
    ASSERT_TRUE(dll);
    ASSERT_EQ(dll.Register(), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);

    EXPECT_EQ(dll.Unregister(), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectNoRegistration();
    EXPECT_TRUE(KeyExists(HKEY_CLASSES_ROOT, "CLSID"));
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPluginsKey));

    // Nothing left to unregister: still a success, still the notice.
    EXPECT_EQ(dll.Unregister(), S_OK);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    EXPECT_TRUE(KeyExists(HKEY_LOCAL_MACHINE, kPluginsKey));
}

TEST_F(PluginDllTest, ModulePathPastMaxPathFailsAndStillBroadcasts)
{
    const DeepCopy copy;
    ASSERT_TRUE(copy.copied());
    ASSERT_GT(copy.path().size(), 259u);
    {
        const PluginDll dll(copy.widePath());
        ASSERT_TRUE(dll);
        EXPECT_EQ(dll.Register(), kPathTooLong);
        EXPECT_EQ(m_listener.Collect(), kOneNotice);
        EXPECT_EQ(dll.Unregister(), kPathTooLong);
        EXPECT_EQ(m_listener.Collect(), kOneNotice);
    }
    EXPECT_NE(RunRegsvr32("", copy.path()), 0u);
    EXPECT_EQ(m_listener.Collect(), kOneNotice);
    ExpectNoRegistration();
}

}  // namespace
