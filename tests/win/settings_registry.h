// The plug-in's settings key as tests see it from outside: write a value before a run, read
// what the module left there afterwards.
#pragma once

#include <windows.h>

#include <optional>

#include "tests/win/registry_keys.h"
#include "tools/player_sim/settings_key.h"

bool WriteSetting(const char* name, DWORD value);
std::optional<StoredValue> ReadSetting(const char* name);
void DeleteSettingsKey();
