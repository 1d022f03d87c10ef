// The version arithmetic of the update check: reading the service's reply into a version
// pair, comparing pairs, and the question put to the user. Platform-free.
#pragma once

#include <string>

struct VersionPair {
    int major;
    int minor;
};

// "major.minor", split at the first point. A missing or empty minor counts as 0; a component
// that does not read as a 32-bit integer keeps the value it has in own.
VersionPair ParseVersionReply(const std::string& reply, VersionPair own);

// Major first, then minor; signed.
bool IsNewerVersion(VersionPair offered, VersionPair own);

// "There is a new version of Tunelore plugin (vMAJOR.MINOR). Do you want to download it now?"
std::string NewVersionQuestion(VersionPair offered);
