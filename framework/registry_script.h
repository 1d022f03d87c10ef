// Reader of registrar scripts (the .rgs text of the module's "REGISTRY" resource) and the
// register and unregister plans made from them. Platform-free: the Win32 side carries the
// plans out on the registry.
//
// The subset read:
//   script  := root+
//   root    := HKCR | HKEY_CLASSES_ROOT | HKCU | HKEY_CURRENT_USER | HKLM | HKEY_LOCAL_MACHINE
//              | HKU | HKEY_USERS | HKCC | HKEY_CURRENT_CONFIG, then "{" entry* "}"
//   entry   := [NoRemove | ForceRemove] NAME ["=" s 'text'] ["{" entry* "}"]
//            | val NAME "=" (s 'text' | d 'decimal')
// Tokens are separated by white space; NAME is a bare word (a braced {GUID} included) or a
// 'quoted' text, in which '' stands for one quote. %NAME% is replaced from the caller's
// parameters (names compared without regard to ASCII case) and %% gives one percent sign.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

enum class RegistryRoot { ClassesRoot, CurrentUser, LocalMachine, Users, CurrentConfig };

enum class KeyMarking { None, NoRemove, ForceRemove };

enum class ScriptValueType { Text, Number };

struct ScriptValue {
    std::string name;
    ScriptValueType type = ScriptValueType::Text;
    std::string text;        // for Text
    std::uint32_t number = 0;  // for Number

    bool operator==(const ScriptValue& other) const;
};

// One key the script names. Keys named more than once (two blocks of the same root, say) are
// merged into one entry, so every path appears once.
struct ScriptKey {
    RegistryRoot root = RegistryRoot::ClassesRoot;
    std::string path;  // below the root, names joined by backslashes
    KeyMarking marking = KeyMarking::None;
    bool hasDefaultValue = false;
    std::string defaultValue;  // a key's own "= s" text
    std::vector<ScriptValue> values;  // named with "val", in script order

    bool operator==(const ScriptKey& other) const;
};

struct RegistryScript {
    bool ok = false;
    std::string error;  // for a rejected script: what and on which line
    std::vector<ScriptKey> keys;  // parents before their sub-keys, otherwise in script order
};

// Case-insensitive in its names, as the registrar is ("Module" serves %MODULE%).
using ReplaceableParameters = std::map<std::string, std::string>;

RegistryScript parseRegistryScript(std::string_view script, const ReplaceableParameters& parameters);

enum class PlanStepKind {
    OpenOrCreateKey,       // open the key, creating it when absent
    ForceRecreateKey,      // delete the key with everything below it if present, then create it
    SetTextValue,          // valueName = text (REG_SZ)
    SetNumberValue,        // valueName = number (REG_DWORD)
    SetDefaultValue,       // the key's default value = text (REG_SZ)
    DeleteValue,           // delete valueName; an absent key or value is no failure
    DeleteKeyIfNoSubKeys,  // delete the key with its values unless a sub-key remains below it;
                           // an absent key is no failure
};

struct PlanStep {
    PlanStepKind kind = PlanStepKind::OpenOrCreateKey;
    RegistryRoot root = RegistryRoot::ClassesRoot;
    std::string keyPath;  // full path below the root
    std::string valueName;
    std::string text;
    std::uint32_t number = 0;

    bool operator==(const PlanStep& other) const;
};

// Steps in the order to carry them out: every key is opened (or recreated) before anything is
// written to it or below it.
std::vector<PlanStep> buildRegisterPlan(const RegistryScript& script);
// Every "val" value is deleted before its key, sub-keys go before their parents, and keys
// marked NoRemove stay (their sub-keys are still taken away).
std::vector<PlanStep> buildUnregisterPlan(const RegistryScript& script);
