// Reading the plug-in's settings key, each value by its own type.
#include "tools/player_sim/settings_report.h"

#include "framework/unique_handle.h"
#include "tools/player_sim/settings_key.h"

#include <cstdint>
#include <ctime>

namespace {

const char* const kNumbers[] = {"Tip enabled", "Check updates", "Balloon delay", "Balloon timeout"};
constexpr char kLastUpdateCheck[] = "Last update check";

// "2024-05-01 12:00:00 UTC"
std::string CalendarText(std::int64_t seconds)
{
    const std::time_t moment = static_cast<std::time_t>(seconds);
    const std::tm* calendar = std::gmtime(&moment);
    if (!calendar)
        return "an unreadable moment";
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%d %H:%M:%S UTC", calendar);
    return text;
}

}  // namespace

void ReportSettings(Transcript& transcript)
{
    unique_hkey key;
    if (::RegOpenKeyExA(HKEY_CURRENT_USER, kSettingsKeyPath, 0, KEY_QUERY_VALUE, key.put()) != ERROR_SUCCESS) {
        transcript.Add("registry", "settings", "no settings are stored", JsonLine().Bool("stored", false));
        return;
    }
    JsonLine fields;
    fields.Bool("stored", true);
    std::string text;
    for (const char* name : kNumbers) {
        DWORD type = 0, value = 0, size = sizeof(value);
        if (::RegQueryValueExA(key.get(), name, nullptr, &type, reinterpret_cast<BYTE*>(&value), &size) !=
                ERROR_SUCCESS ||
            type != REG_DWORD || size != sizeof(value)) {
            text += std::string(text.empty() ? "" : ", ") + name + " missing";
            continue;
        }
        const auto number = static_cast<std::int32_t>(value);
        fields.Int(name, number);
        text += std::string(text.empty() ? "" : ", ") + name + " " + std::to_string(number);
    }
    BYTE bytes[8] = {};
    DWORD type = 0, size = sizeof(bytes);
    if (::RegQueryValueExA(key.get(), kLastUpdateCheck, nullptr, &type, bytes, &size) == ERROR_SUCCESS &&
        type == REG_BINARY && size == sizeof(bytes)) {
        std::uint64_t value = 0;
        for (int i = 7; i >= 0; --i)
            value = (value << 8) | bytes[i];
        const auto moment = static_cast<std::int64_t>(value);
        fields.Int(kLastUpdateCheck, moment);
        text += std::string(", ") + kLastUpdateCheck + " " + CalendarText(moment);
    } else {
        text += std::string(", ") + kLastUpdateCheck + " missing";
    }
    transcript.Add("registry", "settings", "settings stored: " + text, fields);
}
