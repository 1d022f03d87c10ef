// The registry as the tests read, write and restore it: values with their exact types and
// bytes, key listings, access lists, and a key put back as it was when a test is done.
#pragma once

#include <windows.h>

#include <cstdint>
#include <map>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "framework/unique_handle.h"

using Bytes = std::vector<BYTE>;

struct StoredValue {
    StoredValue() = default;
    StoredValue(DWORD valueType, Bytes valueData) : type(valueType), data(std::move(valueData)) {}

    DWORD type = REG_NONE;
    Bytes data;

    // The bytes as a little-endian number: signed 32-bit for four bytes, 64-bit otherwise.
    std::int64_t Number() const;
    bool operator==(const StoredValue& other) const { return type == other.type && data == other.data; }
};

void PrintTo(const StoredValue& value, std::ostream* out);

// Keyed by value name; "" is the key's default value.
using ValueMap = std::map<std::string, StoredValue>;

StoredValue Text(const std::string& text);
StoredValue Number(DWORD number);

unique_hkey OpenKey(HKEY root, const std::string& path, REGSAM access = KEY_READ);
// A key this process may not open still exists.
bool KeyExists(HKEY root, const std::string& path);
ValueMap ReadValues(HKEY key);
ValueMap ReadValues(HKEY root, const std::string& path);
// Sorted by name.
std::vector<std::string> SubKeys(HKEY key);
std::vector<std::string> SubKeys(HKEY root, const std::string& path);
// Creates the key if need be.
bool WriteValue(HKEY root, const std::string& path, const char* name, const StoredValue& value);
// Replaces the key's access list with the one the SDDL text gives.
bool SetDacl(HKEY root, const std::string& path, const char* sddl);

// Wine enforces these on opening a key; it grants DELETE whatever the list says.
constexpr char kReadOnlyDacl[] = "D:P(A;;KR;;;WD)";
constexpr char kClosedDacl[] = "D:P(D;;KA;;;WD)";
constexpr char kFullAccessDacl[] = "D:P(A;;KA;;;WD)";

// Where the registration tests' own scripts write, below the current user's software.
const std::string kScratch = "Software\\Tunelore registrar test";

inline std::string Scratch(const std::string& relative)
{
    return relative.empty() ? kScratch : kScratch + "\\" + relative;
}

struct KeySnapshot {
    ValueMap values;
    std::map<std::string, KeySnapshot> subKeys;
};

// Records a key with everything below it, and which keys of its path do not exist yet; puts
// all of it back as it was when it goes.
class KeyRestorer {
public:
    KeyRestorer(HKEY root, std::string path);
    ~KeyRestorer();
    KeyRestorer(const KeyRestorer&) = delete;
    KeyRestorer& operator=(const KeyRestorer&) = delete;

private:
    HKEY m_root;
    std::string m_path;
    std::vector<std::string> m_missing;
    bool m_existed = false;
    KeySnapshot m_snapshot;
};
