// The two HTTP exchanges with the lyrics service: the lookup POST and the plain GET. Each
// exchange is complete in itself, bounded as a whole, and never fails loudly: any failure comes
// back as the empty result.
#pragma once

#include "net/field_map.h"

#include <windows.h>

#include <cstddef>
#include <string>

// Bounds of one exchange, in milliseconds. All three are set on its connection handle and bound
// each of WinINet's operations (Wine's WinINet has no receive time-out of its own). The receive
// time-out is also the bound of the whole exchange from the moment its request goes out to the
// end of its reply, every byte of head and body and every redirect included: per operation it
// would restart with each byte. The connect phase keeps its own time-out. The defaults are the
// platform's usual ones; tests pass shorter ones.
struct ExchangeTimeouts {
    DWORD connectMs = 60000;
    DWORD sendMs = 30000;
    DWORD receiveMs = 30000;
};

// A reply is read up to this many bytes; what lies beyond is dropped unread.
constexpr std::size_t kMaxReplyBytes = 64 * 1024;

// Where the exchanges go and how they introduce themselves: made once at start-up by whoever
// builds the plug-in, and handed to every exchange.
struct ServiceEndpoint {
    std::string host;         // a name or an address, without scheme or port
    std::string agent;        // the session's user agent
    std::string referrer;     // sent with every request
    std::string lookupPath;   // where the lookup's form goes
    std::string versionPath;  // where the newest version is read, with its query
};

// POSTs the form-encoded fields to the endpoint's lookup path and parses the reply; empty on
// any failure. A reply cut short by the bound or by a failed read is parsed as far as it came:
// a complete title element counts, an incomplete one does not.
FieldMap postForm(const ServiceEndpoint& endpoint, const FieldMap& request,
                  const ExchangeTimeouts& timeouts = ExchangeTimeouts());

// GETs the given path ("/..." with an optional query) of the endpoint's host and returns the
// reply body as text, as far as it came; empty on any failure.
std::string fetchText(const ServiceEndpoint& endpoint, const std::string& path,
                      const ExchangeTimeouts& timeouts = ExchangeTimeouts());

// At the module's unload (not at the process's exit): what exchanges that ran out of time left
// with WinINet's workers is detached from this module's code before it goes.
void releaseAbandonedExchanges() noexcept;
