// Reading the player's plug-in list and class registrations, and the res: text references.
#include "tools/player_sim/ui_plugin_registry.h"

#include "framework/unique_handle.h"

#include <algorithm>
#include <cstdlib>

const char kTunelorePluginClassId[] = "{921BC298-60F8-4557-A01D-ECEE7CC020A1}";

namespace {

constexpr char kUiPluginsKey[] = "SOFTWARE\\Microsoft\\MediaPlayer\\UIPlugins";
constexpr char kResourcePrefix[] = "res://";
constexpr char kStringResource[] = "/RT_STRING/#";

// The player's capabilities value: a plug-in type in the low word, flags above it.
constexpr std::uint32_t kTypeMask = 0x0000FFFF;
constexpr std::uint32_t kSeparateWindowType = 2;

const struct {
    std::uint32_t flag;
    const char* meaning;
} kCapabilityFlags[] = {
    {0x80000000, "has a property page"},
    {0x40000000, "runs once installed"},
};

std::optional<std::string> ReadText(HKEY key, const char* name)
{
    DWORD type = 0, size = 0;
    if (::RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        (type != REG_SZ && type != REG_EXPAND_SZ))
        return std::nullopt;
    std::string text(size, '\0');
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text.data()), &size) != ERROR_SUCCESS)
        return std::nullopt;
    // The stored text may or may not carry its terminator.
    text.resize(std::min<std::size_t>(size, text.size()));
    while (!text.empty() && text.back() == '\0')
        text.pop_back();
    return text;
}

std::optional<std::uint32_t> ReadNumber(HKEY key, const char* name)
{
    DWORD type = 0, value = 0, size = sizeof(value);
    if (::RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(value))
        return std::nullopt;
    return value;
}

bool EqualsIgnoringCase(const std::string& a, const std::string& b)
{
    return ::lstrcmpiA(a.c_str(), b.c_str()) == 0;
}

}  // namespace

std::vector<UiPluginEntry> ReadUiPlugins()
{
    std::vector<UiPluginEntry> entries;
    unique_hkey list;
    if (::RegOpenKeyExA(HKEY_LOCAL_MACHINE, kUiPluginsKey, 0, KEY_READ, list.put()) != ERROR_SUCCESS)
        return entries;
    for (DWORD index = 0;; ++index) {
        char name[256] = {};
        DWORD length = sizeof(name);
        const LONG status = ::RegEnumKeyExA(list.get(), index, name, &length, nullptr, nullptr, nullptr, nullptr);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        if (status != ERROR_SUCCESS)
            continue;
        unique_hkey key;
        if (::RegOpenKeyExA(list.get(), name, 0, KEY_READ, key.put()) != ERROR_SUCCESS)
            continue;
        entries.push_back({name, ReadText(key.get(), "FriendlyName").value_or(""),
                           ReadText(key.get(), "Description").value_or(""), ReadNumber(key.get(), "Capabilities")});
    }
    return entries;
}

std::optional<ClassRegistration> ReadClassRegistration(const std::string& classId)
{
    unique_hkey key;
    const std::string path = "CLSID\\" + classId + "\\InprocServer32";
    if (::RegOpenKeyExA(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, key.put()) != ERROR_SUCCESS)
        return std::nullopt;
    const std::optional<std::string> server = ReadText(key.get(), nullptr);
    if (!server || server->empty())
        return std::nullopt;
    return ClassRegistration{*server, ReadText(key.get(), "ThreadingModel").value_or("")};
}

std::string ResolveResourceText(const std::string& value, HMODULE module)
{
    if (value.compare(0, sizeof(kResourcePrefix) - 1, kResourcePrefix) != 0 || module == nullptr)
        return value;
    const std::size_t fileStart = sizeof(kResourcePrefix) - 1;
    const std::size_t kind = value.find(kStringResource, fileStart);
    if (kind == std::string::npos)
        return value;
    const std::string file = value.substr(fileStart, kind - fileStart);
    const std::string number = value.substr(kind + sizeof(kStringResource) - 1);
    if (number.empty() || number.find_first_not_of("0123456789") != std::string::npos || number.size() > 5)
        return value;

    char path[MAX_PATH] = {};
    const DWORD length = ::GetModuleFileNameA(module, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return value;
    const std::string modulePath(path, length);
    const std::size_t slash = modulePath.find_last_of("\\/");
    if (!EqualsIgnoringCase(modulePath.substr(slash == std::string::npos ? 0 : slash + 1), file))
        return value;
    char text[512] = {};
    if (::LoadStringA(module, static_cast<UINT>(std::atoi(number.c_str())), text, sizeof(text)) <= 0)
        return value;
    return text;
}

std::string DescribeCapabilities(std::uint32_t capabilities)
{
    const std::uint32_t type = capabilities & kTypeMask;
    std::string text = "type " + std::to_string(type);
    if (type == kSeparateWindowType)
        text += " (separate window)";
    for (const auto& [flag, meaning] : kCapabilityFlags) {
        if (capabilities & flag)
            text += std::string(", ") + meaning;
    }
    return text;
}
