// The COM module's registration of its object map, from this test's own scripts
// (registration_test.rc): every script in map order with the module's path, and failures that
// write nothing and still broadcast.
#include "framework/com_module.h"
#include "framework/module.h"
#include "plugin/registration.h"
#include "tests/win/built_dll.h"
#include "tests/win/notice_listener.h"
#include "tests/win/registry_keys.h"
#include "tests/table_row.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <iterator>
#include <ostream>
#include <string>
#include <vector>

namespace {

// Scripts of this test's resources: the first writes the module's parameters into the scratch
// key, the second a sub-key of it.
constexpr UINT kParameterScript = 2104;
constexpr UINT kSecondScript = 2105;
constexpr UINT kMissingScript = 2199;

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
                         RowName{});

}  // namespace
