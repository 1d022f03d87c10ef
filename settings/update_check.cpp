// The update check: at most once a day, ask the service for the newest version and offer the
// download page when it is newer than this module.
#include "settings/update_check.h"

#include <cstdint>
#include <string>
#include <vector>

#include "framework/clock.h"
#include "framework/module.h"
#include "framework/shell.h"
#include "net/http_exchange.h"
#include "res/resource.h"
#include "settings/new_version_dlg.h"
#include "settings/settings.h"

namespace {

constexpr std::int64_t kCheckSpacingSeconds = 86400;
constexpr DWORD kModulePathLength = 260;

// A day or more since the last check. A last check in the future is never due; the
// difference is taken unsigned, so a stored moment far in the past cannot overflow it.
bool CheckIsDue(std::int64_t now, std::int64_t lastCheck)
{
    if (lastCheck > now)
        return false;
    return static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(lastCheck) >=
           static_cast<std::uint64_t>(kCheckSpacingSeconds);
}

}  // namespace

VersionPair GetPluginVersion()
{
    // A module without a readable version counts as 0.0, so that any real release is offered.
    VersionPair version{0, 0};
    char path[kModulePathLength] = {};
    const DWORD length = ::GetModuleFileNameA(ModuleInstance(), path, kModulePathLength);
    if (length == 0 || length >= kModulePathLength)
        return version;
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeA(path, &handle);
    if (size == 0)
        return version;
    std::vector<BYTE> block(size);
    if (!::GetFileVersionInfoA(path, 0, size, block.data()))
        return version;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT infoSize = 0;
    if (!::VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&info), &infoSize) || info == nullptr ||
        infoSize < sizeof(VS_FIXEDFILEINFO))
        return version;
    version.major = HIWORD(info->dwFileVersionMS);
    version.minor = LOWORD(info->dwFileVersionLS);
    return version;
}

void RunUpdateCheck(HWND parent, const ServiceEndpoint& endpoint)
{
    Settings& settings = GetSettings();
    if (settings.CheckUpdates == 0)
        return;
    const std::int64_t now = CurrentTime();
    if (!CheckIsDue(now, settings.LastUpdateCheck))
        return;
    // Before the request: a failed or useless one still uses up the day's check.
    settings.LastUpdateCheck = now;

    const std::string reply = fetchText(endpoint, endpoint.versionPath);
    if (reply.empty())
        return;
    const VersionPair own = GetPluginVersion();
    const VersionPair offered = ParseVersionReply(reply, own);
    if (!IsNewerVersion(offered, own))
        return;

    CNewVersionDlg dlg(parent, NewVersionQuestion(offered));
    switch (dlg.DoModal()) {
    case kNewVersionDownload:
        Shell().Open(LoadStringResource(IDS_DOWNLOAD_PAGE));
        break;
    case kNewVersionNeverAsk:
        GetSettings().CheckUpdates = 0;
        break;
    default:
        break;
    }
}
