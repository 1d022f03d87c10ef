// Fuzzes the registrar script reader with arbitrary bytes and checks, for every script it
// accepts, the properties the registry applier relies on.
#include "framework/registry_script.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

char asciiLower(char c)
{
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

std::string folded(const std::string& text)
{
    std::string result = text;
    for (char& c : result)
        c = asciiLower(c);
    return result;
}

bool sameKey(RegistryRoot root, const std::string& path, const PlanStep& step)
{
    return step.root == root && folded(step.keyPath) == folded(path);
}

// True when step touches path itself or something below it.
bool atOrBelow(RegistryRoot root, const std::string& path, const PlanStep& step)
{
    if (step.root != root)
        return false;
    const std::string stepPath = folded(step.keyPath);
    const std::string keyPath = folded(path);
    return stepPath == keyPath ||
           (stepPath.size() > keyPath.size() && stepPath.compare(0, keyPath.size(), keyPath) == 0 &&
            stepPath[keyPath.size()] == '\\');
}

std::string parentOf(const std::string& path)
{
    const std::size_t separator = path.rfind('\\');
    return separator == std::string::npos ? std::string() : path.substr(0, separator);
}

bool isKnownRoot(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot:
    case RegistryRoot::CurrentUser:
    case RegistryRoot::LocalMachine:
    case RegistryRoot::Users:
    case RegistryRoot::CurrentConfig:
        return true;
    }
    return false;
}

bool isWellFormedPath(const std::string& path)
{
    if (path.empty() || path.front() == '\\' || path.back() == '\\')
        return false;
    return path.find("\\\\") == std::string::npos;
}

void checkRegisterPlan(const RegistryScript& script, const std::vector<PlanStep>& plan)
{
    std::size_t values = 0;
    std::size_t forceRemoved = 0;
    for (const ScriptKey& key : script.keys) {
        values += key.values.size() + (key.hasDefaultValue ? 1 : 0);
        forceRemoved += key.marking == KeyMarking::ForceRemove ? 1 : 0;
    }
    require(plan.size() == script.keys.size() + values);
    std::size_t recreated = 0;
    for (const PlanStep& step : plan)
        recreated += step.kind == PlanStepKind::ForceRecreateKey ? 1 : 0;
    require(recreated == forceRemoved);

    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlanStep& step = plan[i];
        require(isKnownRoot(step.root) && isWellFormedPath(step.keyPath));
        const bool opensKey =
            step.kind == PlanStepKind::OpenOrCreateKey || step.kind == PlanStepKind::ForceRecreateKey;
        // A key's parent, and a written value's key, were opened by an earlier step.
        const std::string needed = opensKey ? parentOf(step.keyPath) : step.keyPath;
        if (!needed.empty()) {
            bool opened = false;
            for (std::size_t j = 0; j < i && !opened; ++j) {
                opened = (plan[j].kind == PlanStepKind::OpenOrCreateKey ||
                          plan[j].kind == PlanStepKind::ForceRecreateKey) &&
                         sameKey(step.root, needed, plan[j]);
            }
            require(opened);
        }
        if (step.kind == PlanStepKind::ForceRecreateKey) {
            // Nothing at or below a recreated key comes before its recreation (a second
            // recreation included, since it would find this one before it): otherwise the
            // recreation would wipe what the plan wrote.
            for (std::size_t j = 0; j < i; ++j)
                require(!atOrBelow(step.root, step.keyPath, plan[j]));
        }
        require(step.kind != PlanStepKind::DeleteValue && step.kind != PlanStepKind::DeleteKeyIfNoSubKeys);
    }
}

void checkUnregisterPlan(const RegistryScript& script, const std::vector<PlanStep>& plan)
{
    std::size_t values = 0;
    std::size_t removableKeys = 0;
    for (const ScriptKey& key : script.keys) {
        values += key.values.size();
        removableKeys += key.marking == KeyMarking::NoRemove ? 0 : 1;
    }
    std::size_t deletedValues = 0;
    std::size_t deletedKeys = 0;
    for (std::size_t i = 0; i < plan.size(); ++i) {
        const PlanStep& step = plan[i];
        require(isKnownRoot(step.root) && isWellFormedPath(step.keyPath));
        if (step.kind == PlanStepKind::DeleteValue) {
            ++deletedValues;
            require(!step.valueName.empty());
            continue;
        }
        require(step.kind == PlanStepKind::DeleteKeyIfNoSubKeys);
        ++deletedKeys;
        for (const ScriptKey& key : script.keys) {
            if (key.marking == KeyMarking::NoRemove)
                require(!sameKey(key.root, key.path, step));
        }
        // Deepest first: nothing later in the plan touches this key or anything below it.
        for (std::size_t j = i + 1; j < plan.size(); ++j)
            require(!atOrBelow(step.root, step.keyPath, plan[j]));
    }
    require(deletedValues == values && deletedKeys == removableKeys);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    static const ReplaceableParameters parameters{{"Module", "C:\\Tunelore\\Tunelore-WMP.dll"},
                                                  {"Module_Raw", "C:\\Tunelore\\Tunelore-WMP.dll"},
                                                  {"APPID", ""}};
    const std::string input(reinterpret_cast<const char*>(data), size);
    const RegistryScript script = parseRegistryScript(input, parameters);
    if (!script.ok) {
        require(!script.error.empty() && script.keys.empty());
        require(buildRegisterPlan(script).empty() && buildUnregisterPlan(script).empty());
        return 0;
    }
    require(script.error.empty());

    // Every path appears once (names compared as the registry does) and each parent first.
    for (std::size_t i = 0; i < script.keys.size(); ++i) {
        const ScriptKey& key = script.keys[i];
        require(isWellFormedPath(key.path));
        const std::string parent = parentOf(key.path);
        bool parentSeen = parent.empty();
        for (std::size_t j = 0; j < i; ++j) {
            const ScriptKey& earlier = script.keys[j];
            require(!(earlier.root == key.root && folded(earlier.path) == folded(key.path)));
            parentSeen = parentSeen || (earlier.root == key.root && folded(earlier.path) == folded(parent));
        }
        require(parentSeen);
        for (const ScriptValue& value : key.values)
            require(!value.name.empty());
    }

    checkRegisterPlan(script, buildRegisterPlan(script));
    checkUnregisterPlan(script, buildUnregisterPlan(script));
    return 0;
}
