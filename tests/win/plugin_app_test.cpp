// The application object's start-up and exit, in their order: settings, lookup object with its
// window, icon and service endpoint, COM module; then settings saved before the icon goes.
#include "framework/com_module.h"
#include "plugin/player_poll.h"
#include "plugin/plugin_app.h"
#include "plugin/tunelore_plugin.h"
#include "settings/settings.h"
#include "tests/win/settings_registry.h"
#include "tests/win/shell_recorder.h"

#include <gtest/gtest.h>

#include <string>

namespace {

class PluginAppTest : public ShellAndClockTest {
protected:
    void SetUp() override
    {
        ShellAndClockTest::SetUp();
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKeyPath);
        // Stored settings that differ from the defaults, and no update check on the first tick.
        ASSERT_TRUE(WriteSetting("Balloon delay", 12));
        ASSERT_TRUE(WriteSetting("Check updates", 0));
    }

    void TearDown() override
    {
        ::RegDeleteTreeA(HKEY_CURRENT_USER, kAppKeyPath);
        ShellAndClockTest::TearDown();
    }
};

TEST_F(PluginAppTest, StartUpLoadsSettingsThenShowsTheIconAndServesTheClass)
{
    CPluginApp app;
    // The icon's first appearance must already see the loaded settings.
    int delayAtIconAdd = -1;
    m_shell.onNotify = [&delayAtIconAdd](const NotifyIconCall& call) {
        if (call.message == NIM_ADD)
            delayAtIconAdd = GetSettings().BalloonDelay;
    };
    ASSERT_TRUE(app.InitInstance());

    EXPECT_EQ(app.m_pszAppName, "Tunelore plugin");
    EXPECT_EQ(delayAtIconAdd, 12);
    EXPECT_EQ(g_lookup, app.Lookup());
    EXPECT_NE(::FindWindowA("Static", "TuneloreWnd"), nullptr);
    ASSERT_FALSE(m_shell.notifications.empty());
    EXPECT_EQ(m_shell.notifications[0].message, static_cast<DWORD>(NIM_ADD));
    EXPECT_EQ(m_shell.notifications[0].szTip, "Stopped");

    com_ptr<IClassFactory> factory;
    EXPECT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, factory.put_void()), S_OK);
    factory.reset();

    app.ExitInstance();
}

TEST_F(PluginAppTest, ExitSavesSettingsBeforeTheIconGoesAndEndsTheModule)
{
    CPluginApp app;
    ASSERT_TRUE(app.InitInstance());
    GetSettings().BalloonTimeout = 21;

    std::int64_t timeoutAtIconDelete = 0;
    bool deleted = false;
    m_shell.onNotify = [&](const NotifyIconCall& call) {
        if (call.message == NIM_DELETE) {
            deleted = true;
            if (const auto stored = ReadSetting("Balloon timeout"))
                timeoutAtIconDelete = stored->Number();
        }
    };
    app.ExitInstance();

    EXPECT_TRUE(deleted);
    EXPECT_EQ(timeoutAtIconDelete, 21);
    EXPECT_EQ(::FindWindowA("Static", "TuneloreWnd"), nullptr);
    EXPECT_EQ(g_lookup, nullptr);
    void* factory = nullptr;
    EXPECT_EQ(Module().GetClassObject(CLSID_TunelorePlugin, IID_IClassFactory, &factory), CLASS_E_CLASSNOTAVAILABLE);
    const auto delay = ReadSetting("Balloon delay");
    ASSERT_TRUE(delay.has_value());
    EXPECT_EQ(delay->Number(), 12);
}

}  // namespace
