// Reading and writing the settings key for tests.
#include "tests/win/settings_registry.h"

#include "framework/unique_handle.h"

bool WriteSetting(const char* name, DWORD value)
{
    unique_hkey key;
    return ::RegCreateKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, nullptr, 0, KEY_SET_VALUE, nullptr, key.put(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExA(key.get(), name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&value), sizeof(value)) ==
               ERROR_SUCCESS;
}

std::optional<StoredValue> ReadSetting(const char* name)
{
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    StoredValue value;
    value.data.resize(64);
    DWORD size = static_cast<DWORD>(value.data.size());
    if (::RegQueryValueExA(key.get(), name, nullptr, &value.type, value.data.data(), &size) != ERROR_SUCCESS)
        return std::nullopt;
    value.data.resize(size);
    return value;
}

void DeleteSettingsKey()
{
    ::RegDeleteKeyA(HKEY_CURRENT_USER, kSettingsKeyPath);
}
