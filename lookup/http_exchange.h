// The two HTTP exchanges with the lyrics service (the lookup POST and the plain GET) and the
// referrer text that both send. Each exchange is complete in itself and never fails loudly:
// any failure comes back as the empty result.
#pragma once

#include "lookup/field_map.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Bounds of one exchange, in milliseconds, set on its connection handle. Wine's WinINet has no
// receive time-out of its own, so without them a service that accepts and never answers would
// block the player's UI thread for good. The defaults are the platform's usual ones; tests
// pass shorter ones.
struct ExchangeTimeouts {
    DWORD connectMs = 60000;
    DWORD sendMs = 30000;
    DWORD receiveMs = 30000;
};

// A reply is read up to this many bytes; what lies beyond is dropped unread.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Replaces the referrer text ("Tunelore" until the first call) with a copy of the given text.
void setReferrer(const std::string& referrer);

// POSTs the form-encoded fields to the lookup path and parses the reply; empty on any failure.
FieldMap postForm(const FieldMap& request, const ExchangeTimeouts& timeouts = ExchangeTimeouts());

// GETs the given path ("/..." with an optional query) and returns the reply body as text;
// empty on any failure.
std::string fetchText(const std::string& path, const ExchangeTimeouts& timeouts = ExchangeTimeouts());
