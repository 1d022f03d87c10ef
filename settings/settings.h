// The five per-user settings: the one process-wide record, read from the registry when the
// module starts and written back when it exits.
#pragma once

#include <cstdint>

class CWinApp;

// The settings dialog copies the record as one block: keep these fields and their order.
// Durations are signed so that they widen with their sign when added to a moment.
struct Settings {
    std::int32_t TipEnabled;      // balloons are shown when non-zero
    std::int32_t CheckUpdates;    // the update check runs when non-zero
    std::int64_t LastUpdateCheck; // seconds since 1970-01-01 00:00:00 UTC
    std::int32_t BalloonDelay;    // seconds from the start of a lookup to its balloon
    std::int32_t BalloonTimeout;  // seconds a balloon stays
};

// The one record; all zeros until LoadSettings has run.
Settings& GetSettings();

// Fill the record from, or write it to, the "Settings" section of the application object's
// registry key. Unreadable values take their defaults, unwritable ones are skipped; nothing is
// reported.
void LoadSettings(const CWinApp& app);
void SaveSettings(const CWinApp& app);
