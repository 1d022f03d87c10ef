// The built DLL registered by the prefix's real regsvr32 and through its exports: exactly its
// keys, again over what others added, unregistered down to the shared keys, and a module path
// past MAX_PATH; each time with the broadcast that running players listen for.
#include "tests/win/built_dll.h"
#include "tests/win/notice_listener.h"
#include "tests/win/registry_keys.h"
#include "tests/win/settings_registry.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

const std::string kClassKey = "CLSID\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const std::string kServerKey = kClassKey + "\\InprocServer32";
const std::string kPluginsKey = "SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins";
const std::string kPluginKey = kPluginsKey + "\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const std::string kAppKey = kAppKeyPath;
const std::string kSettingsKey = kSettingsKeyPath;
const std::string kDllPath = WindowsPath(TUNELORE_DLL_PATH);

constexpr HRESULT kPathTooLong = HRESULT_FROM_WIN32(ERROR_INSUFFICIENT_BUFFER);

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
    const DeepCopy copy(kDllPath);
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
