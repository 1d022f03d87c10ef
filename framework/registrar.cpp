// The registrar: a "REGISTRY" resource read as text, and the script reader's plans carried out
// one step at a time. Every step opens its key afresh by its full path, so no step depends on
// a handle left over from another.
#include "framework/registrar.h"

#include <cstring>
#include <vector>

#include "framework/unique_handle.h"

namespace {

constexpr char kResourceType[] = "REGISTRY";
// The registry's longest key name, and room for its terminating zero.
constexpr DWORD kKeyNameBufferSize = 256;

HKEY RootKey(RegistryRoot root)
{
    switch (root) {
    case RegistryRoot::ClassesRoot:
        return HKEY_CLASSES_ROOT;
    case RegistryRoot::CurrentUser:
        return HKEY_CURRENT_USER;
    case RegistryRoot::LocalMachine:
        return HKEY_LOCAL_MACHINE;
    case RegistryRoot::Users:
        return HKEY_USERS;
    case RegistryRoot::CurrentConfig:
        return HKEY_CURRENT_CONFIG;
    }
    return HKEY_CLASSES_ROOT;
}

HRESULT FromStatus(LSTATUS status)
{
    return HRESULT_FROM_WIN32(static_cast<unsigned long>(status));
}

HRESULT FromLastError()
{
    const DWORD error = ::GetLastError();
    // A failed call that left no error code must still not read as success.
    return error == ERROR_SUCCESS ? E_FAIL : HRESULT_FROM_WIN32(error);
}

bool IsAbsent(LSTATUS status)
{
    return status == ERROR_FILE_NOT_FOUND || status == ERROR_PATH_NOT_FOUND;
}

LSTATUS OpenKey(HKEY parent, const char* path, REGSAM access, unique_hkey& key)
{
    return ::RegOpenKeyExA(parent, path, 0, access, key.put());
}

// Read and write access, as a registration needs of every key it names: a key it may not write
// fails where the script names it.
HRESULT CreateKey(const PlanStep& step)
{
    unique_hkey key;
    const LSTATUS status = ::RegCreateKeyExA(RootKey(step.root), step.keyPath.c_str(), 0, nullptr,
                                             REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE, nullptr, key.put(),
                                             nullptr);
    return FromStatus(status);
}

// Each key is opened for deletion before anything below it goes, so a key the caller may not
// delete stops the walk with its error rather than being skipped.
LSTATUS DeleteTree(HKEY parent, const char* path)
{
    unique_hkey key;
    LSTATUS status = OpenKey(parent, path, KEY_READ | DELETE, key);
    if (status != ERROR_SUCCESS)
        return status;
    DWORD subKeys = 0;
    status = ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return status;
    // Always the first sub-key, the one before it having gone. Counted beforehand, so that a
    // sub-key that does not go ends in the parent's failed deletion, not in an endless loop.
    for (DWORD i = 0; i < subKeys; ++i) {
        char name[kKeyNameBufferSize];
        DWORD length = kKeyNameBufferSize;
        status = ::RegEnumKeyExA(key.get(), 0, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            return status;
        status = DeleteTree(key.get(), name);
        if (status != ERROR_SUCCESS)
            return status;
    }
    key.reset();
    return ::RegDeleteKeyA(parent, path);
}

HRESULT RecreateKey(const PlanStep& step)
{
    const LSTATUS status = DeleteTree(RootKey(step.root), step.keyPath.c_str());
    if (status != ERROR_SUCCESS && !IsAbsent(status))
        return FromStatus(status);
    return CreateKey(step);
}

HRESULT SetValue(const PlanStep& step, const char* name, DWORD type, const BYTE* data, DWORD size)
{
    unique_hkey key;
    LSTATUS status = OpenKey(RootKey(step.root), step.keyPath.c_str(), KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS)
        status = ::RegSetValueExA(key.get(), name, 0, type, data, size);
    return FromStatus(status);
}

HRESULT SetText(const PlanStep& step, const char* name)
{
    // REG_SZ data carries its terminating zero.
    return SetValue(step, name, REG_SZ, reinterpret_cast<const BYTE*>(step.text.c_str()),
                    static_cast<DWORD>(step.text.size() + 1));
}

HRESULT SetNumber(const PlanStep& step)
{
    const DWORD number = step.number;
    return SetValue(step, step.valueName.c_str(), REG_DWORD, reinterpret_cast<const BYTE*>(&number),
                    sizeof number);
}

HRESULT DeleteValue(const PlanStep& step)
{
    unique_hkey key;
    LSTATUS status = OpenKey(RootKey(step.root), step.keyPath.c_str(), KEY_SET_VALUE, key);
    if (status == ERROR_SUCCESS)
        status = ::RegDeleteValueA(key.get(), step.valueName.c_str());
    return IsAbsent(status) ? S_OK : FromStatus(status);
}

HRESULT DeleteKeyIfNoSubKeys(const PlanStep& step)
{
    const HKEY root = RootKey(step.root);
    unique_hkey key;
    LSTATUS status = OpenKey(root, step.keyPath.c_str(), KEY_READ, key);
    if (IsAbsent(status))
        return S_OK;
    if (status != ERROR_SUCCESS)
        return FromStatus(status);
    DWORD subKeys = 0;
    status = ::RegQueryInfoKeyA(key.get(), nullptr, nullptr, nullptr, &subKeys, nullptr, nullptr, nullptr, nullptr,
                                nullptr, nullptr, nullptr);
    if (status != ERROR_SUCCESS)
        return FromStatus(status);
    if (subKeys != 0)
        return S_OK;
    key.reset();
    status = ::RegDeleteKeyA(root, step.keyPath.c_str());
    return IsAbsent(status) ? S_OK : FromStatus(status);
}

HRESULT RunStep(const PlanStep& step)
{
    switch (step.kind) {
    case PlanStepKind::OpenOrCreateKey:
        return CreateKey(step);
    case PlanStepKind::ForceRecreateKey:
        return RecreateKey(step);
    case PlanStepKind::SetTextValue:
        return SetText(step, step.valueName.c_str());
    case PlanStepKind::SetNumberValue:
        return SetNumber(step);
    case PlanStepKind::SetDefaultValue:
        return SetText(step, nullptr);
    case PlanStepKind::DeleteValue:
        return DeleteValue(step);
    case PlanStepKind::DeleteKeyIfNoSubKeys:
        return DeleteKeyIfNoSubKeys(step);
    }
    return E_UNEXPECTED;
}

}  // namespace

HRESULT LoadRegistrarScript(HMODULE module, UINT resourceId, std::string& script)
{
    script.clear();
    const HRSRC found = ::FindResourceA(module, MAKEINTRESOURCEA(resourceId), kResourceType);
    if (found == nullptr)
        return FromLastError();
    const HGLOBAL loaded = ::LoadResource(module, found);
    if (loaded == nullptr)
        return FromLastError();
    const DWORD size = ::SizeofResource(module, found);
    const auto* bytes = static_cast<const char*>(::LockResource(loaded));
    if (bytes == nullptr)
        return size == 0 ? S_OK : E_FAIL;
    // A zero byte ends the text, as it ends any resource script handed out as a C string.
    const void* zero = std::memchr(bytes, '\0', size);
    script.assign(bytes, zero != nullptr ? static_cast<const char*>(zero) - bytes : size);
    return S_OK;
}

HRESULT RunRegistrarScript(std::string_view script, const ReplaceableParameters& parameters,
                           RegistrarAction action)
{
    const RegistryScript parsed = parseRegistryScript(script, parameters);
    // The platform's registrar answers a script it cannot read with this code.
    if (!parsed.ok)
        return DISP_E_EXCEPTION;
    const std::vector<PlanStep> plan =
        action == RegistrarAction::Register ? buildRegisterPlan(parsed) : buildUnregisterPlan(parsed);
    for (const PlanStep& step : plan) {
        const HRESULT hr = RunStep(step);
        if (FAILED(hr))
            return hr;
    }
    return S_OK;
}

HRESULT RunRegistrarResource(HMODULE module, UINT resourceId, const ReplaceableParameters& parameters,
                             RegistrarAction action)
{
    std::string script;
    const HRESULT hr = LoadRegistrarScript(module, resourceId, script);
    if (FAILED(hr))
        return hr;
    return RunRegistrarScript(script, parameters, action);
}
