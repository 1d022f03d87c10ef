// The settings store against the test prefix's real registry: defaults, odd stored values, the
// exact types and sizes written at exit, and failures that cost only what they touch.
#include "settings/settings.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <ostream>
#include <string>
#include <tuple>
#include <type_traits>
#include <utility>
#include <vector>

#include "framework/module.h"
#include "framework/unique_handle.h"
#include "framework/win_app.h"
#include "res/resource.h"
#include "tests/win/settings_registry.h"
#include "tools/dll_watch/dll_watch.h"
#include "tests/table_row.h"

namespace {

constexpr DWORD kMissing = 0xFFFFFFFF;

// A value's registry type and data; kMissing as the type when there is no such value.
using StoredValue = std::pair<DWORD, Bytes>;

constexpr Settings kDefaults{1, 1, 1, 5, 7};

Bytes LittleEndian(std::uint64_t value, std::size_t size, const Bytes& tail = {})
{
    Bytes bytes;
    for (std::size_t i = 0; i < size; ++i)
        bytes.push_back(static_cast<BYTE>(value >> (8 * i)));
    bytes.insert(bytes.end(), tail.begin(), tail.end());
    return bytes;
}

template <typename T>
Settings DefaultsWith(T Settings::*field, std::common_type_t<T> value)
{
    Settings settings = kDefaults;
    settings.*field = value;
    return settings;
}

auto Fields(const Settings& s)
{
    return std::make_tuple(s.TipEnabled, s.CheckUpdates, s.LastUpdateCheck, s.BalloonDelay, s.BalloonTimeout);
}

unique_hkey OpenSettingsKey(REGSAM access)
{
    return OpenKey(HKEY_CURRENT_USER, kSettingsKeyPath, access);
}

bool Store(const char* name, DWORD type, const Bytes& bytes)
{
    HKEY key = nullptr;
    if (::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_SET_VALUE,
                          nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    const unique_hkey owner(key);
    return ::RegSetValueExA(key, name, 0, type, bytes.empty() ? nullptr : bytes.data(),
                            static_cast<DWORD>(bytes.size())) == ERROR_SUCCESS;
}

StoredValue Stored(const char* name)
{
    const unique_hkey key = OpenSettingsKey(KEY_QUERY_VALUE);
    DWORD type = 0;
    DWORD size = 0;
    if (!key || ::RegQueryValueExA(key.get(), name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return {kMissing, {}};
    Bytes bytes(size);
    if (::RegQueryValueExA(key.get(), name, nullptr, &type, bytes.data(), &size) != ERROR_SUCCESS)
        return {kMissing, {}};
    bytes.resize(size);
    return {type, bytes};
}

// Leaves the settings key readable by everyone and writable by nobody.
bool MakeSettingsKeyReadOnly()
{
    return SetDacl(HKEY_CURRENT_USER, kSettingsKeyPath, kReadOnlyDacl);
}

// Makes RegSetValueExA fail for one value name while it is alive. Access is granted per key
// and all five values share one key, so no registry state can refuse a single value; the
// failure is injected at this executable's import of the call instead, which the library
// under test is linked into.
class SetValueFailure {
public:
    explicit SetValueFailure(const char* valueName) : m_slot(ImportSlot("advapi32.dll", "RegSetValueExA"))
    {
        if (m_slot == nullptr)
            return;
        s_valueName = valueName;
        s_failures = 0;
        s_real = *m_slot;
        Patch(&FailingSetValue);
    }
    ~SetValueFailure()
    {
        if (m_slot != nullptr)
            Patch(s_real);
    }
    SetValueFailure(const SetValueFailure&) = delete;
    SetValueFailure& operator=(const SetValueFailure&) = delete;

    bool installed() const { return m_slot != nullptr; }
    int failures() const { return s_failures; }

private:
    using SetValueFn = decltype(&::RegSetValueExA);

    static LSTATUS WINAPI FailingSetValue(HKEY key, LPCSTR name, DWORD reserved, DWORD type, const BYTE* data,
                                          DWORD size)
    {
        if (name != nullptr && std::strcmp(name, s_valueName) == 0) {
            ++s_failures;
            return ERROR_ACCESS_DENIED;
        }
        return s_real(key, name, reserved, type, data, size);
    }

    static SetValueFn* ImportSlot(const char* dll, const char* function)
    {
        const std::vector<void**> slots = ImportSlots(ModuleInstance(), dll, function);
        return slots.empty() ? nullptr : reinterpret_cast<SetValueFn*>(slots.front());
    }

    void Patch(SetValueFn function)
    {
        PatchImportSlot(reinterpret_cast<void**>(m_slot), reinterpret_cast<void*>(function));
    }

    static inline const char* s_valueName = "";
    static inline int s_failures = 0;
    static inline SetValueFn s_real = nullptr;
    SetValueFn* m_slot;
};

class SettingsStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const LSTATUS deleted = ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKeyPath);
        ASSERT_TRUE(deleted == ERROR_SUCCESS || deleted == ERROR_FILE_NOT_FOUND) << deleted;
        m_app.m_pszAppName = LoadStringResource(IDS_APP_NAME);
        m_app.SetRegistryKey("Quillmark");
        GetSettings() = Settings{};
    }
    void TearDown() override { ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKeyPath); }

    CWinApp m_app;
};

TEST_F(SettingsStoreTest, NoKeyGivesDefaultsAndLeavesTheEmptyKeyPath)
{
    ASSERT_FALSE(OpenSettingsKey(KEY_READ));
    LoadSettings(m_app);
    EXPECT_EQ(Fields(GetSettings()), Fields(kDefaults));

    const unique_hkey key = OpenSettingsKey(KEY_READ);
    ASSERT_TRUE(key);
    DWORD subKeys = kMissing;
    DWORD values = kMissing;
    ASSERT_EQ(::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, &values, nullptr,
                                 nullptr, nullptr, nullptr),
              ERROR_SUCCESS);
    EXPECT_EQ(subKeys, 0u);
    EXPECT_EQ(values, 0u);
}

struct LoadCase {
    const char* name;
    const char* valueName;
    DWORD type;
    Bytes bytes;
    Settings expected;
};

class LoadSettingsTest : public SettingsStoreTest, public ::testing::WithParamInterface<LoadCase> {};

TEST_P(LoadSettingsTest, StoredValueReachesOnlyItsOwnField)
{
    ASSERT_TRUE(Store(GetParam().valueName, GetParam().type, GetParam().bytes));
    LoadSettings(m_app);
    EXPECT_EQ(Fields(GetSettings()), Fields(GetParam().expected));
}

constexpr std::int64_t kFarFuture = 253402300799; // 9999-12-31 23:59:59, beyond 32 bits

INSTANTIATE_TEST_SUITE_P(
    Values, LoadSettingsTest,
    ::testing::Values(
        LoadCase{"DelayOfFiftyIsNotClamped", "Balloon delay", REG_DWORD, LittleEndian(50, 4),
                 DefaultsWith(&Settings::BalloonDelay, 50)},
        LoadCase{"TipEnabledFiveIsKept", "Tip enabled", REG_DWORD, LittleEndian(5, 4),
                 DefaultsWith(&Settings::TipEnabled, 5)},
        LoadCase{"StoredZeroIsNoDefault", "Check updates", REG_DWORD, LittleEndian(0, 4),
                 DefaultsWith(&Settings::CheckUpdates, 0)},
        LoadCase{"NegativeTimeoutKeepsItsSign", "Balloon timeout", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF},
                 DefaultsWith(&Settings::BalloonTimeout, -1)},
        LoadCase{"FourByteBinaryIsReadLittleEndian", "Balloon delay", REG_BINARY, {0x00, 0x01, 0x00, 0x00},
                 DefaultsWith(&Settings::BalloonDelay, 256)},
        LoadCase{"FourByteStringIsReadAsItsBytes", "Balloon timeout", REG_SZ, {'a', 'b', 'c', 0},
                 DefaultsWith(&Settings::BalloonTimeout, 0x00636261)},
        LoadCase{"LongStringTimeoutGivesDefault", "Balloon timeout", REG_SZ, {'f', 'o', 'r', 't', 'y', 0}, kDefaults},
        LoadCase{"TwoByteDwordGivesDefault", "Check updates", REG_DWORD, {0x00, 0x00}, kDefaults},
        LoadCase{"EightByteDelayGivesDefault", "Balloon delay", REG_QWORD, LittleEndian(50, 8), kDefaults},
        LoadCase{"FutureLastCheckIsKept", "Last update check", REG_BINARY, LittleEndian(kFarFuture, 8),
                 DefaultsWith(&Settings::LastUpdateCheck, kFarFuture)},
        LoadCase{"NegativeLastCheckKeepsItsSign", "Last update check", REG_BINARY, LittleEndian(-2, 8),
                 DefaultsWith(&Settings::LastUpdateCheck, -2)},
        LoadCase{"LongerLastCheckUsesItsFirstEightBytes", "Last update check", REG_BINARY,
                 LittleEndian(kFarFuture, 8, {0xEE, 0xEE, 0xEE, 0xEE}),
                 DefaultsWith(&Settings::LastUpdateCheck, kFarFuture)},
        LoadCase{"EmptyLastCheckGivesDefault", "Last update check", REG_BINARY, {}, kDefaults},
        LoadCase{"OneByteLastCheckGivesDefault", "Last update check", REG_BINARY, {0x05}, kDefaults},
        LoadCase{"SevenByteLastCheckGivesDefault", "Last update check", REG_BINARY, LittleEndian(kFarFuture, 7),
                 kDefaults}),
    RowName{});

TEST_F(SettingsStoreTest, SavedValuesHaveExactTypesAndSizesAndLoadBack)
{
    const Settings saved{0, 1, -0x0123456789ABCDF0, 30, -3};
    GetSettings() = saved;
    SaveSettings(m_app);

    EXPECT_EQ(Stored("Tip enabled"), StoredValue(REG_DWORD, {0x00, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Stored("Check updates"), StoredValue(REG_DWORD, {0x01, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Stored("Balloon delay"), StoredValue(REG_DWORD, {0x1E, 0x00, 0x00, 0x00}));
    EXPECT_EQ(Stored("Balloon timeout"), StoredValue(REG_DWORD, {0xFD, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Stored("Last update check"),
              StoredValue(REG_BINARY, {0x10, 0x32, 0x54, 0x76, 0x98, 0xBA, 0xDC, 0xFE}));

    GetSettings() = Settings{};
    LoadSettings(m_app);
    EXPECT_EQ(Fields(GetSettings()), Fields(saved));
}

TEST_F(SettingsStoreTest, StringTimeoutIsOverwrittenAsDwordAtSave)
{
    ASSERT_TRUE(Store("Balloon timeout", REG_SZ, {'f', 'o', 'r', 't', 'y', 0}));
    LoadSettings(m_app);
    ASSERT_EQ(GetSettings().BalloonTimeout, 7);
    SaveSettings(m_app);
    EXPECT_EQ(Stored("Balloon timeout"), StoredValue(REG_DWORD, {0x07, 0x00, 0x00, 0x00}));
}

// The key is opened for reading and writing even to read, so a read-only key is unavailable.
TEST_F(SettingsStoreTest, KeyWithoutWriteAccessGivesDefaultsAndStaysUntouched)
{
    ASSERT_TRUE(Store("Balloon delay", REG_DWORD, LittleEndian(50, 4)));
    ASSERT_TRUE(MakeSettingsKeyReadOnly());

    LoadSettings(m_app);
    EXPECT_EQ(Fields(GetSettings()), Fields(kDefaults));

    GetSettings() = Settings{0, 0, 1234, 20, 9};
    SaveSettings(m_app);
    EXPECT_EQ(Stored("Balloon delay"), StoredValue(REG_DWORD, LittleEndian(50, 4)));
    EXPECT_EQ(Stored("Tip enabled").first, kMissing);
    EXPECT_EQ(Stored("Last update check").first, kMissing);
}

TEST_F(SettingsStoreTest, ValueThatCannotBeWrittenKeepsItsOldDataAndTheOthersAreWritten)
{
    ASSERT_TRUE(Store("Balloon delay", REG_DWORD, LittleEndian(50, 4)));
    GetSettings() = Settings{0, 0, 1234, 20, 9};
    {
        const SetValueFailure failure("Balloon delay");
        ASSERT_TRUE(failure.installed());
        SaveSettings(m_app);
        EXPECT_EQ(failure.failures(), 1);
    }
    EXPECT_EQ(Stored("Tip enabled"), StoredValue(REG_DWORD, LittleEndian(0, 4)));
    EXPECT_EQ(Stored("Check updates"), StoredValue(REG_DWORD, LittleEndian(0, 4)));
    EXPECT_EQ(Stored("Balloon delay"), StoredValue(REG_DWORD, LittleEndian(50, 4)));
    EXPECT_EQ(Stored("Balloon timeout"), StoredValue(REG_DWORD, LittleEndian(9, 4)));
    EXPECT_EQ(Stored("Last update check"), StoredValue(REG_BINARY, LittleEndian(1234, 8)));
}

} // namespace
