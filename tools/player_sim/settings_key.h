// Where the plug-in keeps its settings below the current user's software, spelled out as seen
// from outside the plug-in: the simulator reports what is stored there, and the tests read and
// write it.
#pragma once

constexpr char kAppKeyPath[] = "software\\Quillmark\\Tunelore plugin";
constexpr char kSettingsKeyPath[] = "software\\Quillmark\\Tunelore plugin\\Settings";
