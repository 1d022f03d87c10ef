// The settings record and its registry store. Each value opens the key path afresh and closes
// it again, so one failing value never affects another.
#include "settings/settings.h"

#include <windows.h>

#include <array>
#include <cstddef>
#include <vector>

#include "framework/unique_handle.h"
#include "framework/win_app.h"

namespace {

constexpr char kSection[] = "Settings";

// The four numbers in the order they are read and written; the last check's moment follows.
struct NumberSetting {
    const char* name;
    std::int32_t Settings::*field;
    std::int32_t fallback;
};
constexpr NumberSetting kNumbers[] = {
    {"Tip enabled", &Settings::TipEnabled, 1},
    {"Check updates", &Settings::CheckUpdates, 1},
    {"Balloon delay", &Settings::BalloonDelay, 5},
    {"Balloon timeout", &Settings::BalloonTimeout, 7},
};
constexpr char kLastUpdateCheck[] = "Last update check";
constexpr std::int64_t kDefaultLastUpdateCheck = 1;

// Static storage: zero-initialised before anything runs.
Settings g_settings;

template <std::size_t N>
std::uint64_t FromLittleEndian(const BYTE* bytes)
{
    std::uint64_t value = 0;
    for (std::size_t i = N; i-- > 0;)
        value = (value << 8) | bytes[i];
    return value;
}

template <std::size_t N>
std::array<BYTE, N> ToLittleEndian(std::uint64_t value)
{
    std::array<BYTE, N> bytes{};
    for (std::size_t i = 0; i < N; ++i)
        bytes[i] = static_cast<BYTE>(value >> (8 * i));
    return bytes;
}

std::int32_t ReadInt32(const CWinApp& app, const char* name, std::int32_t fallback)
{
    const unique_hkey key = app.GetSectionKey(kSection);
    if (!key)
        return fallback;
    // Whatever the value's type, exactly four bytes make the number: a longer value fails the
    // query, and a shorter one cannot fill the field.
    BYTE bytes[4] = {};
    DWORD size = sizeof bytes;
    if (::RegQueryValueExA(key.get(), name, nullptr, nullptr, bytes, &size) != ERROR_SUCCESS || size != sizeof bytes)
        return fallback;
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(FromLittleEndian<4>(bytes)));
}

std::int64_t ReadInt64(const CWinApp& app, const char* name, std::int64_t fallback)
{
    constexpr DWORD kNeeded = 8;
    const unique_hkey key = app.GetSectionKey(kSection);
    if (!key)
        return fallback;
    // Longer values are accepted and their first eight bytes used; empty or shorter ones
    // count as missing.
    DWORD size = 0;
    if (::RegQueryValueExA(key.get(), name, nullptr, nullptr, nullptr, &size) != ERROR_SUCCESS || size < kNeeded)
        return fallback;
    std::vector<BYTE> bytes(size);
    if (::RegQueryValueExA(key.get(), name, nullptr, nullptr, bytes.data(), &size) != ERROR_SUCCESS ||
        size < kNeeded)
        return fallback;
    return static_cast<std::int64_t>(FromLittleEndian<kNeeded>(bytes.data()));
}

template <std::size_t N>
void WriteValue(const CWinApp& app, const char* name, DWORD type, const std::array<BYTE, N>& bytes)
{
    const unique_hkey key = app.GetSectionKey(kSection);
    if (key)
        ::RegSetValueExA(key.get(), name, 0, type, bytes.data(), static_cast<DWORD>(bytes.size()));
}

void WriteInt32(const CWinApp& app, const char* name, std::int32_t value)
{
    WriteValue(app, name, REG_DWORD, ToLittleEndian<4>(static_cast<std::uint32_t>(value)));
}

void WriteInt64(const CWinApp& app, const char* name, std::int64_t value)
{
    WriteValue(app, name, REG_BINARY, ToLittleEndian<8>(static_cast<std::uint64_t>(value)));
}

} // namespace

Settings& GetSettings()
{
    return g_settings;
}

void LoadSettings(const CWinApp& app)
{
    for (const NumberSetting& number : kNumbers)
        g_settings.*number.field = ReadInt32(app, number.name, number.fallback);
    g_settings.LastUpdateCheck = ReadInt64(app, kLastUpdateCheck, kDefaultLastUpdateCheck);
}

void SaveSettings(const CWinApp& app)
{
    for (const NumberSetting& number : kNumbers)
        WriteInt32(app, number.name, g_settings.*number.field);
    WriteInt64(app, kLastUpdateCheck, g_settings.LastUpdateCheck);
}
