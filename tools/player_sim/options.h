// The player simulator's command line. Platform-free.
#pragma once

#include <optional>
#include <string>
#include <vector>

struct SimulatorOptions {
    std::string playlist;
    // Set: load the plug-in straight from this DLL. Unset: the registered UI plug-in.
    std::optional<std::string> dllPath;
    // The plug-in class to create, as a class id in braces; unset: Tunelore's.
    std::optional<std::string> classId;
    std::optional<std::string> jsonPath;
    std::optional<std::string> screenshotPath;
    // Off, the addresses the plug-in opens are shown and not handed to the shell.
    bool openForReal = false;
    bool quiet = false;
    // Unset: the playlist's length and a margin for the steps that wait.
    std::optional<double> timeLimitSeconds;
    bool help = false;
};

// Reads the arguments after the program name; on an error returns false with a message.
bool ParseOptions(const std::vector<std::string>& arguments, SimulatorOptions& options, std::string& error);

extern const char kUsage[];
