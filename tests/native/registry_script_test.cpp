// The registrar script reader: each construct, the plans of the module's own script read from
// the source tree, and the rejection of malformed scripts.
#include "framework/registry_script.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

// Readable failures: gtest would otherwise print these as raw bytes.
void PrintTo(const ScriptKey& key, std::ostream* os)
{
    *os << "{root " << static_cast<int>(key.root) << ", '" << key.path << "', marking "
        << static_cast<int>(key.marking);
    if (key.hasDefaultValue)
        *os << ", default '" << key.defaultValue << "'";
    for (const ScriptValue& value : key.values) {
        *os << ", " << value.name << "=";
        if (value.type == ScriptValueType::Text)
            *os << "'" << value.text << "'";
        else
            *os << value.number;
    }
    *os << "}";
}

void PrintTo(const PlanStep& step, std::ostream* os)
{
    *os << "{kind " << static_cast<int>(step.kind) << ", root " << static_cast<int>(step.root) << ", '"
        << step.keyPath << "', '" << step.valueName << "', '" << step.text << "', " << step.number << "}";
}

namespace {

const char kModulePath[] = "C:\\Program Files\\Tunelore\\Tunelore-WMP.dll";
const char kClassKey[] = "CLSID\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";
const char kUiPluginKey[] =
    "SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins\\{921BC298-60F8-4557-A01D-ECEE7CC020A1}";

const ReplaceableParameters& registrarParameters()
{
    static const ReplaceableParameters parameters{
        {"Module", kModulePath}, {"Module_Raw", kModulePath}, {"APPID", ""}};
    return parameters;
}

ScriptKey key(RegistryRoot root, std::string path, KeyMarking marking = KeyMarking::None,
              std::vector<ScriptValue> values = {})
{
    ScriptKey result;
    result.root = root;
    result.path = std::move(path);
    result.marking = marking;
    result.values = std::move(values);
    return result;
}

ScriptKey withDefault(ScriptKey key, std::string text)
{
    key.hasDefaultValue = true;
    key.defaultValue = std::move(text);
    return key;
}

ScriptValue text(std::string name, std::string data)
{
    return ScriptValue{std::move(name), ScriptValueType::Text, std::move(data), 0};
}

ScriptValue number(std::string name, std::uint32_t data)
{
    return ScriptValue{std::move(name), ScriptValueType::Number, "", data};
}

PlanStep planStep(PlanStepKind kind, RegistryRoot root, std::string path, std::string valueName = "",
                  std::string data = "", std::uint32_t value = 0)
{
    return PlanStep{kind, root, std::move(path), std::move(valueName), std::move(data), value};
}

constexpr RegistryRoot kCR = RegistryRoot::ClassesRoot;
constexpr RegistryRoot kCU = RegistryRoot::CurrentUser;
constexpr RegistryRoot kLM = RegistryRoot::LocalMachine;

struct AcceptedCase {
    const char* name;
    std::string script;
    std::vector<ScriptKey> expected;
};

class AcceptedScriptTest : public ::testing::TestWithParam<AcceptedCase> {};

TEST_P(AcceptedScriptTest, ReadsIntoTheExpectedKeys)
{
    const RegistryScript script = parseRegistryScript(GetParam().script, registrarParameters());
    ASSERT_TRUE(script.ok) << script.error;
    EXPECT_EQ(script.keys, GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Constructs, AcceptedScriptTest,
    ::testing::Values(
        AcceptedCase{"LongAndShortRootNamesAreOneRoot",
                     "HKEY_CLASSES_ROOT { A } HKCR { B } HKEY_CURRENT_USER { C } HKCU { D }"
                     " HKEY_LOCAL_MACHINE { E } hklm { F } HKU { G } HKEY_CURRENT_CONFIG { H }",
                     {key(kCR, "A"), key(kCR, "B"), key(kCU, "C"), key(kCU, "D"), key(kLM, "E"),
                      key(kLM, "F"), key(RegistryRoot::Users, "G"), key(RegistryRoot::CurrentConfig, "H")}},
        AcceptedCase{"NestedBlocksGiveFullPaths", "HKCU\n{\n\tA\n\t{\n\t\tB { C }\n\t\tD\n\t}\n}\n",
                     {key(kCU, "A"), key(kCU, "A\\B"), key(kCU, "A\\B\\C"), key(kCU, "A\\D")}},
        AcceptedCase{"QuotedNameKeepsSpacesAndDoubledQuote", "HKCU { 'My ''Own'' Key' { 'x y' } }",
                     {key(kCU, "My 'Own' Key"), key(kCU, "My 'Own' Key\\x y")}},
        AcceptedCase{"BareGuidIsAKeyName", "HKCR { {00000000-0000-0000-C000-000000000046} { } }",
                     {key(kCR, "{00000000-0000-0000-C000-000000000046}")}},
        AcceptedCase{"MarkingsInAnyLetterCase", "HKCU { NoRemove A { forceremove B } NOREMOVE C }",
                     {key(kCU, "A", KeyMarking::NoRemove), key(kCU, "A\\B", KeyMarking::ForceRemove),
                      key(kCU, "C", KeyMarking::NoRemove)}},
        AcceptedCase{"TextAndNumberValuesAcrossTheRange",
                     "HKCU { K { val S = s 'it''s' val Zero = d '0' val Max = d '4294967295'"
                     " val Padded = d '007' val 'Two Words' = s '' } }",
                     {key(kCU, "K", KeyMarking::None,
                          {text("S", "it's"), number("Zero", 0), number("Max", 4294967295u),
                           number("Padded", 7), text("Two Words", "")})}},
        AcceptedCase{"DefaultValueWithAndWithoutBlock", "HKCU { A = s 'one' { B = s 'two' } }",
                     {withDefault(key(kCU, "A"), "one"), withDefault(key(kCU, "A\\B"), "two")}},
        AcceptedCase{"ParametersInNamesAndDataWithAnyCase",
                     "HKCU { 'k%appid%' = s '%MODULE%' { val '%Module_Raw%' = s '100%%' } }",
                     {withDefault(key(kCU, "k", KeyMarking::None, {text(kModulePath, "100%")}),
                                  kModulePath)}},
        AcceptedCase{"QuotedKeywordsAreNames", "HKCU { 'val' 'NoRemove' { 'Delete' } }",
                     {key(kCU, "val"), key(kCU, "NoRemove"), key(kCU, "NoRemove\\Delete")}},
        AcceptedCase{"KeyNamedTwiceIsMerged",
                     "HKCR { NoRemove CLSID { A } } HKCR { noremove clsid { B { val v = d '1' } } }",
                     {key(kCR, "CLSID", KeyMarking::NoRemove), key(kCR, "CLSID\\A"),
                      key(kCR, "CLSID\\B", KeyMarking::None, {number("v", 1)})}},
        AcceptedCase{"CarriageReturnsAndTabsAreWhiteSpace", "HKCU\r\n{\r\n\tval_like\t=\ts\t'x'\r\n}\r\n",
                     {withDefault(key(kCU, "val_like"), "x")}},
        AcceptedCase{"EmptyRootBlock", "HKLM { }", {}}),
    RowName{});

TEST(ParametersTest, AQuoteInAParameterValueIsTakenAsItIs)
{
    const RegistryScript script =
        parseRegistryScript("HKCU { K = s '%Module%' }", {{"Module", "C:\\O'Brien\\x.dll"}});
    ASSERT_TRUE(script.ok) << script.error;
    ASSERT_EQ(script.keys.size(), 1u);
    EXPECT_EQ(script.keys[0].defaultValue, "C:\\O'Brien\\x.dll");
}

struct RejectedCase {
    const char* name;
    std::string script;
    const char* errorPart;
};

class RejectedScriptTest : public ::testing::TestWithParam<RejectedCase> {};

TEST_P(RejectedScriptTest, IsRefusedWithAReasonAndNoPlans)
{
    const RegistryScript script = parseRegistryScript(GetParam().script, registrarParameters());
    EXPECT_FALSE(script.ok);
    EXPECT_NE(script.error.find(GetParam().errorPart), std::string::npos) << script.error;
    EXPECT_TRUE(script.keys.empty());
    EXPECT_TRUE(buildRegisterPlan(script).empty());
    EXPECT_TRUE(buildUnregisterPlan(script).empty());
}

std::string repeated(const std::string& piece, int times)
{
    std::string result;
    for (int i = 0; i < times; ++i)
        result += piece;
    return result;
}

std::string nested(int levels)
{
    return "HKCU {" + repeated(" K {", levels) + repeated(" }", levels) + " }";
}

INSTANTIATE_TEST_SUITE_P(
    Malformed, RejectedScriptTest,
    ::testing::Values(
        RejectedCase{"EmptyInput", "", "empty script"},
        RejectedCase{"OnlyWhiteSpace", " \r\n\t ", "empty script"},
        RejectedCase{"MissingClosingBrace", "HKCU { A { B }", "missing '}'"},
        RejectedCase{"ExtraClosingBrace", "HKCU { A } }", "unbalanced '}'"},
        RejectedCase{"OpeningBraceWithoutKey", "HKCU { { } }", "expected a key or a value"},
        RejectedCase{"UnknownRoot", "HKEY_CLASSES { A }", "unknown root key"},
        RejectedCase{"RootWithoutBlock", "HKCU", "expected '{' after the root key"},
        RejectedCase{"TrailingWord", "HKCU { A } trailing", "unknown root key 'trailing'"},
        RejectedCase{"TrailingQuotedText", "HKCU { A } 'x'", "expected a root key"},
        RejectedCase{"UnknownValueType", "HKCU { A { val v = x 'y' } }", "unknown value type 'x'"},
        RejectedCase{"BinaryValueType", "HKCU { A { val v = b '00' } }", "unknown value type 'b'"},
        RejectedCase{"DeleteKeyword", "HKCU { Delete A }", "unsupported keyword 'Delete'"},
        RejectedCase{"NumberAboveRange", "HKCU { A { val v = d '4294967296' } }", "bad 32-bit decimal"},
        RejectedCase{"NegativeNumber", "HKCU { A { val v = d '-1' } }", "bad 32-bit decimal"},
        RejectedCase{"HexNumber", "HKCU { A { val v = d '0xC0000002' } }", "bad 32-bit decimal"},
        RejectedCase{"EmptyNumber", "HKCU { A { val v = d '' } }", "bad 32-bit decimal"},
        RejectedCase{"NumberWithSpace", "HKCU { A { val v = d ' 3' } }", "bad 32-bit decimal"},
        RejectedCase{"HugeNumber", "HKCU { A { val v = d '99999999999999999999999' } }", "bad 32-bit"},
        RejectedCase{"UnterminatedQuote", "HKCU { A = s 'open }", "unterminated quoted text"},
        RejectedCase{"QuoteInsideBareWord", "HKCU { A'b' }", "quote inside a bare word"},
        RejectedCase{"UnknownParameter", "HKCU { A = s '%NOPE%' }", "unknown replaceable parameter %NOPE%"},
        RejectedCase{"UnterminatedParameter", "HKCU { A = s '%MODULE' }", "unterminated replaceable"},
        RejectedCase{"ValueBelowRoot", "HKCU { val v = s 'x' }", "directly below a root key"},
        RejectedCase{"UnquotedData", "HKCU { A { val v = s x } }", "expected quoted value data"},
        RejectedCase{"MissingEquals", "HKCU { A { val v s 'x' } }", "expected '=' after the value name"},
        RejectedCase{"ValueWithoutName", "HKCU { A { val = s 'x' } }", "expected a value name"},
        RejectedCase{"NumberAsDefaultValue", "HKCU { A = d '1' }", "default value must be text"},
        RejectedCase{"EmptyKeyName", "HKCU { '' }", "empty key name"},
        RejectedCase{"KeyNameEmptyAfterSubstitution", "HKCU { NoRemove AppID { '%APPID%' } }",
                     "empty key name"},
        RejectedCase{"EmptyValueName", "HKCU { A { val '' = s 'x' } }", "empty value name"},
        RejectedCase{"BackslashInKeyName", "HKCU { 'A\\B' }", "backslash"},
        RejectedCase{"BackslashFromParameter", "HKCU { '%Module%' }", "backslash"},
        RejectedCase{"MarkingBeforeValue", "HKCU { A { NoRemove val v = s 'x' } }", "after a marking"},
        RejectedCase{"TwoMarkings", "HKCU { NoRemove ForceRemove A }", "after a marking"},
        RejectedCase{"MarkingAtEnd", "HKCU { NoRemove", "after a marking, found the end"},
        RejectedCase{"ConflictingMarkings", "HKCU { A } HKCU { NoRemove a }", "named again"},
        RejectedCase{"ForceRemoveNamedTwice", "HKCU { ForceRemove A ForceRemove A }", "named again"},
        RejectedCase{"BraceGluedToName", "HKCU { CLSID{ } }", "malformed key name 'CLSID{'"},
        RejectedCase{"EqualsGluedToName", "HKCU { A=s 'x' }", "malformed key name"},
        RejectedCase{"ControlCharacter", "HKCU { A\x01 }", "control character"},
        RejectedCase{"ZeroByteInQuotedText", std::string("HKCU { 'a\0b' }", 15), "zero byte"},
        RejectedCase{"TooDeep", nested(65), "nested too deeply"},
        RejectedCase{"AbsurdlyDeepAndUnclosed", "HKCU {" + repeated(" K {", 100000), "nested too deeply"},
        RejectedCase{"ManyOpeningBraces", repeated("{ ", 100000), "expected a root key"}),
    RowName{});

TEST(NestingTest, SixtyFourLevelsAreAccepted)
{
    const RegistryScript script = parseRegistryScript(nested(64), registrarParameters());
    ASSERT_TRUE(script.ok) << script.error;
    EXPECT_EQ(script.keys.size(), 64u);
}

TEST(ErrorTest, NamesTheLineOfTheFault)
{
    const RegistryScript script =
        parseRegistryScript("HKCU\n{\n\tA = s 'multi\nline'\n\tval v = d '1x'\n}", registrarParameters());
    EXPECT_FALSE(script.ok);
    EXPECT_EQ(script.error.rfind("line 5: ", 0), 0u) << script.error;
}

TEST(PlanTest, NoRemoveKeyStaysWhileItsSubKeysAndValuesGoDeepestFirst)
{
    const RegistryScript script = parseRegistryScript(
        "HKCU { A { val a = s 'x' NoRemove B { C { val c = d '5' } } D } }", registrarParameters());
    ASSERT_TRUE(script.ok) << script.error;
    const std::vector<PlanStep> expected{
        planStep(PlanStepKind::DeleteValue, kCU, "A", "a"),
        planStep(PlanStepKind::DeleteValue, kCU, "A\\B\\C", "c"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A\\B\\C"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A\\D"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A"),
    };
    EXPECT_EQ(buildUnregisterPlan(script), expected);
}

TEST(PlanTest, MergedKeyIsDeletedOnlyAfterSubKeysFromEveryBlock)
{
    const RegistryScript script =
        parseRegistryScript("HKCU { A { B } } HKLM { X } HKCU { A { C } }", registrarParameters());
    ASSERT_TRUE(script.ok) << script.error;
    const std::vector<PlanStep> expected{
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A\\B"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A\\C"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCU, "A"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kLM, "X"),
    };
    EXPECT_EQ(buildUnregisterPlan(script), expected);
}

std::string readSourceFile(const char* relativePath)
{
    // Under Wine the absolute Unix path resolves through the Z: drive.
    const std::string path = std::string(TUNELORE_SOURCE_DIR) + "/" + relativePath;
    std::string contents;
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (file == nullptr)
        return contents;
    char buffer[4096];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, file)) > 0)
        contents.append(buffer, got);
    std::fclose(file);
    return contents;
}

class ModuleScriptTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string text = readSourceFile("res/tunelore.rgs");
        ASSERT_FALSE(text.empty()) << "cannot read res/tunelore.rgs below " << TUNELORE_SOURCE_DIR;
        m_script = parseRegistryScript(text, registrarParameters());
        ASSERT_TRUE(m_script.ok) << m_script.error;
    }

    RegistryScript m_script;
};

TEST_F(ModuleScriptTest, RegisterPlanWritesTheClassAndThePlayerEntry)
{
    const std::string inproc = std::string(kClassKey) + "\\InprocServer32";
    const std::vector<PlanStep> expected{
        planStep(PlanStepKind::OpenOrCreateKey, kCR, "CLSID"),
        planStep(PlanStepKind::ForceRecreateKey, kCR, kClassKey),
        planStep(PlanStepKind::SetDefaultValue, kCR, kClassKey, "", "TunelorePlugin Class"),
        planStep(PlanStepKind::OpenOrCreateKey, kCR, inproc),
        planStep(PlanStepKind::SetDefaultValue, kCR, inproc, "", kModulePath),
        planStep(PlanStepKind::SetTextValue, kCR, inproc, "ThreadingModel", "Apartment"),
        planStep(PlanStepKind::OpenOrCreateKey, kLM, "SOFTWARE"),
        planStep(PlanStepKind::OpenOrCreateKey, kLM, "SOFTWARE\\Microsoft"),
        planStep(PlanStepKind::OpenOrCreateKey, kLM, "SOFTWARE\\Microsoft\\MediaPlayer"),
        planStep(PlanStepKind::OpenOrCreateKey, kLM, "SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins"),
        planStep(PlanStepKind::ForceRecreateKey, kLM, kUiPluginKey),
        planStep(PlanStepKind::SetTextValue, kLM, kUiPluginKey, "FriendlyName",
                 "res://Tunelore-WMP.dll/RT_STRING/#2014"),
        planStep(PlanStepKind::SetTextValue, kLM, kUiPluginKey, "Description",
                 "res://Tunelore-WMP.dll/RT_STRING/#2015"),
        planStep(PlanStepKind::SetNumberValue, kLM, kUiPluginKey, "Capabilities", "", 0xC0000002u),
    };
    EXPECT_EQ(buildRegisterPlan(m_script), expected);
}

TEST_F(ModuleScriptTest, UnregisterPlanLeavesTheSharedParentKeys)
{
    const std::string inproc = std::string(kClassKey) + "\\InprocServer32";
    const std::vector<PlanStep> expected{
        planStep(PlanStepKind::DeleteValue, kCR, inproc, "ThreadingModel"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCR, inproc),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kCR, kClassKey),
        planStep(PlanStepKind::DeleteValue, kLM, kUiPluginKey, "FriendlyName"),
        planStep(PlanStepKind::DeleteValue, kLM, kUiPluginKey, "Description"),
        planStep(PlanStepKind::DeleteValue, kLM, kUiPluginKey, "Capabilities"),
        planStep(PlanStepKind::DeleteKeyIfNoSubKeys, kLM, kUiPluginKey),
    };
    EXPECT_EQ(buildUnregisterPlan(m_script), expected);
}

}  // namespace
