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
constexpr char kTipEnabled[] = "Tip enabled";
constexpr char kCheckUpdates[] = "Check updates";
constexpr char kLastUpdateCheck[] = "Last update check";
constexpr char kBalloonDelay[] = "Balloon delay";
constexpr char kBalloonTimeout[] = "Balloon timeout";

constexpr std::int32_t kDefaultTipEnabled = 1;
constexpr std::int32_t kDefaultCheckUpdates = 1;
constexpr std::int64_t kDefaultLastUpdateCheck = 1;
constexpr std::int32_t kDefaultBalloonDelay = 5;
constexpr std::int32_t kDefaultBalloonTimeout = 7;

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
    g_settings.TipEnabled = ReadInt32(app, kTipEnabled, kDefaultTipEnabled);
    g_settings.CheckUpdates = ReadInt32(app, kCheckUpdates, kDefaultCheckUpdates);
    g_settings.BalloonDelay = ReadInt32(app, kBalloonDelay, kDefaultBalloonDelay);
    g_settings.BalloonTimeout = ReadInt32(app, kBalloonTimeout, kDefaultBalloonTimeout);
    g_settings.LastUpdateCheck = ReadInt64(app, kLastUpdateCheck, kDefaultLastUpdateCheck);
}

void SaveSettings(const CWinApp& app)
{
    WriteInt32(app, kTipEnabled, g_settings.TipEnabled);
    WriteInt32(app, kCheckUpdates, g_settings.CheckUpdates);
    WriteInt32(app, kBalloonDelay, g_settings.BalloonDelay);
    WriteInt32(app, kBalloonTimeout, g_settings.BalloonTimeout);
    WriteInt64(app, kLastUpdateCheck, g_settings.LastUpdateCheck);
}
