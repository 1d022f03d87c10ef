// What the player reads of the registry: its list of UI plug-ins, each plug-in's COM class
// registration, and the res: references that name a plug-in's texts inside its DLL.
#pragma once

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

// The class id of the Tunelore plug-in, the one the simulator creates unless told otherwise.
extern const char kTunelorePluginClassId[];

struct UiPluginEntry {
    std::string classId;  // the key's name, "{...}"
    std::string friendlyName;
    std::string description;
    std::optional<std::uint32_t> capabilities;
};

// The player's UI plug-in key, one entry per sub-key, in key order.
std::vector<UiPluginEntry> ReadUiPlugins();

struct ClassRegistration {
    std::string inprocServer;  // the DLL's path
    std::string threadingModel;
};

std::optional<ClassRegistration> ReadClassRegistration(const std::string& classId);

// "res://FILE/RT_STRING/#ID" read from module when its file is named FILE; any other text as
// it is.
std::string ResolveResourceText(const std::string& value, HMODULE module);

// "type 2 (separate window), has a property page, runs once installed"
std::string DescribeCapabilities(std::uint32_t capabilities);
