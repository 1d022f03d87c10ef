// Reply reading, comparison and question text of the update check.
#include "settings/version_reply.h"

#include <cstdint>

#include "framework/number_parse.h"

namespace {

// A component that does not parse keeps what it had.
void ParseComponent(const std::string& text, int& component)
{
    std::int32_t value = component;
    if (!text.empty() && ParseLeadingInt32(text, value))
        component = value;
}

}  // namespace

VersionPair ParseVersionReply(const std::string& reply, VersionPair own)
{
    const std::string::size_type point = reply.find('.');
    const std::string majorText = reply.substr(0, point);
    const std::string minorText =
        (point == std::string::npos || point + 1 == reply.size()) ? std::string("0") : reply.substr(point + 1);

    VersionPair offered = own;
    ParseComponent(majorText, offered.major);
    ParseComponent(minorText, offered.minor);
    return offered;
}

bool IsNewerVersion(VersionPair offered, VersionPair own)
{
    return offered.major > own.major || (offered.major == own.major && offered.minor > own.minor);
}

std::string NewVersionQuestion(VersionPair offered)
{
    return "There is a new version of Tunelore plugin (v" + std::to_string(offered.major) + "." +
           std::to_string(offered.minor) + "). Do you want to download it now?";
}
