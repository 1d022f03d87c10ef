// The once-per-load check for a newer version of the plug-in.
#pragma once

#include <windows.h>

#include "net/http_exchange.h"
#include "settings/version_reply.h"

// The module's own version: the first and the fourth number of its file version.
VersionPair GetPluginVersion();

// Everything of the check after its caller's once-per-window guard: the setting, the one-day
// spacing, the version query to the endpoint and the question, with the dialog parented to
// the given window.
void RunUpdateCheck(HWND parent, const ServiceEndpoint& endpoint);
