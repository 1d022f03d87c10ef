// The application object's base and its registry path.
#include "framework/win_app.h"

namespace {

constexpr REGSAM kSettingsAccess = KEY_READ | KEY_WRITE;

unique_hkey CreateSubKey(HKEY parent, const char* name)
{
    // A raw slot, wrapped only on success: a failed call promises nothing about it.
    HKEY key = nullptr;
    if (::RegCreateKeyExA(parent, name, 0, nullptr, REG_OPTION_NON_VOLATILE, kSettingsAccess, nullptr, &key,
                          nullptr) != ERROR_SUCCESS)
        return unique_hkey();
    return unique_hkey(key);
}

} // namespace

BOOL CWinApp::InitInstance()
{
    return TRUE;
}

int CWinApp::ExitInstance()
{
    return 0;
}

void CWinApp::SetRegistryKey(const char* makerKey)
{
    m_strRegistryKey = makerKey != nullptr ? makerKey : "";
}

unique_hkey CWinApp::GetSectionKey(const char* section) const
{
    // RegCreateKeyExA with an empty name reopens the parent, which would move the section up.
    if (m_strRegistryKey.empty() || m_pszAppName.empty() || section == nullptr || *section == '\0')
        return unique_hkey();

    // Once the path exists, opening it whole is the same key at a third of the calls: each is
    // a trip to the registry's server, and start-up and exit open the key once per value.
    const std::string path = "software\\" + m_strRegistryKey + "\\" + m_pszAppName + "\\" + section;
    HKEY existing = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, kSettingsAccess, &existing) == ERROR_SUCCESS)
        return unique_hkey(existing);

    HKEY software = nullptr;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, "software", 0, kSettingsAccess, &software) != ERROR_SUCCESS)
        return unique_hkey();
    // The keys above the section close as each goes out of scope; only the section stays open.
    const unique_hkey softwareKey(software);
    const unique_hkey makerKey = CreateSubKey(softwareKey.get(), m_strRegistryKey.c_str());
    if (!makerKey)
        return unique_hkey();
    const unique_hkey appKey = CreateSubKey(makerKey.get(), m_pszAppName.c_str());
    if (!appKey)
        return unique_hkey();
    return CreateSubKey(appKey.get(), section);
}
