// The plug-in's settings key as tests see it from outside: write a value before a run, read
// what the module left there afterwards.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <vector>

constexpr char kSettingsKeyPath[] = "software\\Quillmark\\Tunelore plugin\\Settings";

struct StoredValue {
    DWORD type = REG_NONE;
    std::vector<BYTE> data;

    // The bytes as a little-endian number: signed 32-bit for four bytes, 64-bit otherwise.
    std::int64_t Number() const;
};

bool WriteSetting(const char* name, DWORD value);
std::optional<StoredValue> ReadSetting(const char* name);
void DeleteSettingsKey();
