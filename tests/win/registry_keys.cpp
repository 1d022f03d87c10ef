// Reading, writing and restoring registry keys for tests.
#include "tests/win/registry_keys.h"

#include <sddl.h>

#include <algorithm>
#include <utility>

namespace {

KeySnapshot Snapshot(HKEY key)
{
    KeySnapshot snapshot{ReadValues(key), {}};
    for (const std::string& name : SubKeys(key)) {
        const unique_hkey subKey = OpenKey(key, name);
        if (subKey)
            snapshot.subKeys[name] = Snapshot(subKey.get());
    }
    return snapshot;
}

void Recreate(HKEY root, const std::string& path, const KeySnapshot& snapshot)
{
    unique_hkey key;
    ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(), nullptr);
    for (const auto& [name, value] : snapshot.values)
        WriteValue(root, path, name.c_str(), value);
    for (const auto& [name, subKey] : snapshot.subKeys)
        Recreate(root, path + "\\" + name, subKey);
}

}  // namespace

std::int64_t StoredValue::Number() const
{
    std::uint64_t value = 0;
    for (std::size_t i = data.size(); i-- > 0;)
        value = (value << 8) | data[i];
    return data.size() == 4 ? static_cast<std::int32_t>(value) : static_cast<std::int64_t>(value);
}

void PrintTo(const StoredValue& value, std::ostream* out)
{
    if (value.type == REG_SZ && !value.data.empty() && value.data.back() == 0)
        *out << "REG_SZ \"" << reinterpret_cast<const char*>(value.data.data()) << '"';
    else
        *out << "type " << value.type << ", " << value.data.size() << " bytes";
}

StoredValue Text(const std::string& text)
{
    return {REG_SZ, Bytes(text.c_str(), text.c_str() + text.size() + 1)};
}

StoredValue Number(DWORD number)
{
    const auto* bytes = reinterpret_cast<const BYTE*>(&number);
    return {REG_DWORD, Bytes(bytes, bytes + sizeof number)};
}

unique_hkey OpenKey(HKEY root, const std::string& path, REGSAM access)
{
    unique_hkey key;
    ::RegOpenKeyExA(root, path.c_str(), 0, access, key.put());
    return key;
}

bool KeyExists(HKEY root, const std::string& path)
{
    unique_hkey key;
    const LSTATUS status = ::RegOpenKeyExA(root, path.c_str(), 0, KEY_READ, key.put());
    return status == ERROR_SUCCESS || status == ERROR_ACCESS_DENIED;
}

ValueMap ReadValues(HKEY key)
{
    ValueMap values;
    DWORD maxName = 0;
    DWORD maxData = 0;
    if (::RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &maxName, &maxData,
                           nullptr, nullptr) != ERROR_SUCCESS)
        return values;
    for (DWORD index = 0;; ++index) {
        std::string name(maxName + 1, '\0');
        Bytes data(maxData + 1);
        DWORD nameLength = maxName + 1;
        DWORD size = maxData + 1;
        DWORD type = REG_NONE;
        if (::RegEnumValueA(key, index, name.data(), &nameLength, nullptr, &type, data.data(), &size) != ERROR_SUCCESS)
            break;
        name.resize(nameLength);
        data.resize(size);
        values[name] = {type, data};
    }
    return values;
}

ValueMap ReadValues(HKEY root, const std::string& path)
{
    const unique_hkey key = OpenKey(root, path);
    return key ? ReadValues(key.get()) : ValueMap();
}

std::vector<std::string> SubKeys(HKEY key)
{
    std::vector<std::string> names;
    for (DWORD index = 0;; ++index) {
        char name[256];
        DWORD length = sizeof name;
        if (::RegEnumKeyExA(key, index, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    std::sort(names.begin(), names.end());
    return names;
}

std::vector<std::string> SubKeys(HKEY root, const std::string& path)
{
    const unique_hkey key = OpenKey(root, path);
    return key ? SubKeys(key.get()) : std::vector<std::string>();
}

bool WriteValue(HKEY root, const std::string& path, const char* name, const StoredValue& value)
{
    unique_hkey key;
    return ::RegCreateKeyExA(root, path.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_WRITE, nullptr, key.put(),
                             nullptr) == ERROR_SUCCESS &&
           ::RegSetValueExA(key.get(), name, 0, value.type, value.data.data(),
                            static_cast<DWORD>(value.data.size())) == ERROR_SUCCESS;
}

bool SetDacl(HKEY root, const std::string& path, const char* sddl)
{
    PSECURITY_DESCRIPTOR descriptor = nullptr;
    if (!::ConvertStringSecurityDescriptorToSecurityDescriptorA(sddl, SDDL_REVISION_1, &descriptor, nullptr))
        return false;
    const unique_hkey key = OpenKey(root, path, WRITE_DAC);
    const bool done = key && ::RegSetKeySecurity(key.get(), DACL_SECURITY_INFORMATION, descriptor) == ERROR_SUCCESS;
    ::LocalFree(descriptor);
    return done;
}

KeyRestorer::KeyRestorer(HKEY root, std::string path) : m_root(root), m_path(std::move(path))
{
    for (size_t end = 0; end != std::string::npos;) {
        end = m_path.find('\\', end + 1);
        const std::string prefix = m_path.substr(0, end);
        if (!KeyExists(m_root, prefix))
            m_missing.push_back(prefix);
    }
    if (const unique_hkey key = OpenKey(m_root, m_path)) {
        m_existed = true;
        m_snapshot = Snapshot(key.get());
    }
}

KeyRestorer::~KeyRestorer()
{
    ::RegDeleteTreeA(m_root, m_path.c_str());
    ::RegDeleteKeyA(m_root, m_path.c_str());
    if (m_existed)
        Recreate(m_root, m_path, m_snapshot);
    for (auto it = m_missing.rbegin(); it != m_missing.rend(); ++it) {
        if (SubKeys(m_root, *it).empty() && ReadValues(m_root, *it).empty())
            ::RegDeleteKeyA(m_root, it->c_str());
    }
}
