// The plug-in's settings key as tests see it from outside: write a value before a run, read
// what the module left there afterwards.
#pragma once

#include <windows.h>

#include <optional>

#include "tests/win/registry_keys.h"

// The module's key below the current user's software, and its settings in a sub-key.
constexpr char kAppKeyPath[] = "software\\Quillmark\\Tunelore plugin";
constexpr char kSettingsKeyPath[] = "software\\Quillmark\\Tunelore plugin\\Settings";

bool WriteSetting(const char* name, DWORD value);
std::optional<StoredValue> ReadSetting(const char* name);
void DeleteSettingsKey();
