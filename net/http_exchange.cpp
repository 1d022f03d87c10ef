// One HTTP exchange with the lyrics service over WinINet, bounded as a whole: from the moment
// its request goes out to the end of its reply it takes at most the receive time-out, however
// slowly the server, a proxy or a portal sends the head or the body, and through any redirects.
// WinINet runs in asynchronous mode for this, since its blocking calls cannot be ended from
// outside (HttpSendRequestA waits for the whole head, and every byte restarts the receive
// time-out); the exchange's thread still blocks until the exchange is over, waiting without
// pumping messages, so no tick runs during it. Session, connection, request and buffer are
// released on every path; only an operation WinINet still works on at the deadline outlives
// the exchange (see net/exchange_context.h).
#include "net/http_exchange.h"

#include "net/exchange_context.h"

#include <wininet.h>

#include <algorithm>
#include <memory>
#include <utility>

namespace {

constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";
// WinINet under Wine follows redirects without end (dlls/wininet/http.c loops for as long as
// the server redirects), so the exchange follows them itself and stops after this many.
constexpr int kMaxRedirects = 10;
constexpr DWORD kRequestFlags = INTERNET_FLAG_KEEP_CONNECTION | INTERNET_FLAG_NO_AUTO_REDIRECT;
// The connect phase ends by WinINet's own connect time-out; the wait for it allows this much
// more, so that WinINet's failure, not the wait, normally ends it.
constexpr DWORD kConnectGraceMs = 1000;
constexpr std::size_t kReadChunkBytes = 4096;

bool setTimeout(HINTERNET handle, DWORD option, DWORD milliseconds)
{
    return ::InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds)) != FALSE;
}

// On the connection handle: Wine ignores time-outs set on the session. They bound each of
// WinINet's operations, and with them how long a worker can go on after an exchange gave up.
bool setTimeouts(HINTERNET connection, const ExchangeTimeouts& timeouts)
{
    return setTimeout(connection, INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs) &&
           setTimeout(connection, INTERNET_OPTION_SEND_TIMEOUT, timeouts.sendMs) &&
           setTimeout(connection, INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveMs);
}

// Where one hop of the exchange goes.
struct Target {
    INTERNET_SCHEME scheme = INTERNET_SCHEME_HTTP;
    std::string host;
    INTERNET_PORT port = INTERNET_DEFAULT_HTTP_PORT;
    std::string object;  // path and query
};

std::string targetAddress(const Target& target)
{
    return std::string(target.scheme == INTERNET_SCHEME_HTTPS ? "https://" : "http://") + target.host + ":" +
           std::to_string(target.port) + target.object;
}

DWORD statusCode(HINTERNET request)
{
    DWORD status = 0;
    DWORD size = sizeof(status);
    if (!::HttpQueryInfoA(request, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size, nullptr))
        return 0;
    return status;
}

// The redirects WinINet itself follows.
bool isRedirect(DWORD status)
{
    return status == HTTP_STATUS_MOVED || status == HTTP_STATUS_REDIRECT || status == HTTP_STATUS_REDIRECT_METHOD ||
           status == HTTP_STATUS_REDIRECT_KEEP_VERB;
}

std::string locationHeader(HINTERNET request)
{
    std::string location(256, '\0');
    for (int attempt = 0; attempt < 2; ++attempt) {
        DWORD size = static_cast<DWORD>(location.size());
        if (::HttpQueryInfoA(request, HTTP_QUERY_LOCATION, &location[0], &size, nullptr)) {
            location.resize(size);
            return location;
        }
        if (::GetLastError() != ERROR_INSUFFICIENT_BUFFER)
            break;
        location.assign(size + 1, '\0');
    }
    return std::string();
}

// The address a Location header names, taken relative to the hop that returned it.
bool redirectTarget(const Target& from, const std::string& location, Target& to)
{
    const std::string base = targetAddress(from);
    DWORD size = 0;
    ::InternetCombineUrlA(base.c_str(), location.c_str(), nullptr, &size, ICU_ENCODE_SPACES_ONLY);
    if (size == 0)
        return false;
    std::string combined(size + 1, '\0');
    size = static_cast<DWORD>(combined.size());
    if (!::InternetCombineUrlA(base.c_str(), location.c_str(), &combined[0], &size, ICU_ENCODE_SPACES_ONLY))
        return false;
    combined.resize(size);

    URL_COMPONENTSA parts = {};
    parts.dwStructSize = sizeof(parts);
    parts.dwHostNameLength = 1;
    parts.dwUrlPathLength = 1;
    parts.dwExtraInfoLength = 1;
    if (!::InternetCrackUrlA(combined.c_str(), 0, 0, &parts) || !parts.lpszHostName || parts.dwHostNameLength == 0 ||
        (parts.nScheme != INTERNET_SCHEME_HTTP && parts.nScheme != INTERNET_SCHEME_HTTPS))
        return false;
    to.scheme = parts.nScheme;
    to.host.assign(parts.lpszHostName, parts.dwHostNameLength);
    to.port = parts.nPort;
    to.object.clear();
    if (parts.lpszUrlPath)
        to.object.assign(parts.lpszUrlPath, parts.dwUrlPathLength);
    if (to.object.empty())
        to.object = "/";
    if (parts.lpszExtraInfo)
        to.object.append(parts.lpszExtraInfo, parts.dwExtraInfoLength);
    return true;
}

// Reads the body until it ends, a zero byte ends the text, the bound is reached, a read fails
// or the deadline comes: whatever arrived until then is the reply. Each read takes only what
// WinINet holds already (IRF_NO_WAIT), so no buffer of the exchange is left to a worker; when
// nothing is there yet, a worker fetches more and the exchange waits for it.
void readReply(ExchangeContext& exchange, const Deadline& deadline, std::string& reply)
{
    reply.clear();
    char chunk[kReadChunkBytes];
    while (reply.size() < kMaxReplyBytes) {
        INTERNET_BUFFERSA buffers = {};
        buffers.dwStructSize = sizeof(buffers);
        buffers.lpvBuffer = chunk;
        buffers.dwBufferLength = static_cast<DWORD>(std::min(sizeof(chunk), kMaxReplyBytes - reply.size()));
        if (::InternetReadFileExA(exchange.request(), &buffers, IRF_NO_WAIT, reinterpret_cast<DWORD_PTR>(&exchange))) {
            if (buffers.dwBufferLength == 0)
                return;  // the end of the body
            const std::size_t start = reply.size();
            reply.append(chunk, buffers.dwBufferLength);
            // The reply's text ends at its first zero byte; nothing after it is needed.
            const std::size_t zero = reply.find('\0', start);
            if (zero != std::string::npos) {
                reply.resize(zero);
                return;
            }
            continue;
        }
        if (::GetLastError() != ERROR_IO_PENDING || !exchange.await(deadline))
            return;
    }
}

// One exchange; body is null for a request without one. Returns the reply text, "" when no
// reply came, or what arrived of it by the deadline or a failed read.
std::string exchange(const ServiceEndpoint& endpoint, const char* verb, const std::string& object,
                     const std::string* body, const ExchangeTimeouts& timeouts)
{
    sweepAbandonedExchanges();

    // Whatever way this function is left, the context is retired: closed and freed, or kept
    // for as long as WinINet may still call back with it.
    struct Retire {
        std::unique_ptr<ExchangeContext> context;
        ~Retire() { retireExchange(std::move(context)); }
    } owner{ExchangeContext::create()};
    if (!owner.context)
        return std::string();
    ExchangeContext& exchange = *owner.context;

    if (!exchange.openSession(endpoint.agent))
        return std::string();

    Target target;
    target.host = endpoint.host;
    target.object = object;
    std::string method = verb;
    bool withBody = body != nullptr;
    if (body)
        exchange.setBody(*body);

    Deadline deadline;
    for (int redirects = 0;; ++redirects) {
        // A connection that refuses the time-outs is not used: without them a worker could
        // keep a socket for good.
        const DWORD secure = target.scheme == INTERNET_SCHEME_HTTPS ? INTERNET_FLAG_SECURE : 0;
        if (!exchange.openConnection(target.host, target.port) || !setTimeouts(exchange.connection(), timeouts) ||
            !exchange.openRequest(method.c_str(), target.object, endpoint.referrer, kRequestFlags | secure))
            return std::string();

        void* optional = nullptr;
        DWORD optionalLength = 0;
        if (withBody) {
            ::HttpAddRequestHeadersA(exchange.request(), kFormContentType, static_cast<DWORD>(-1L),
                                     HTTP_ADDREQ_FLAG_ADD_IF_NEW);
            // The body carries its terminating zero byte: the service has always been sent it.
            optional = &exchange.body()[0];
            optionalLength = static_cast<DWORD>(exchange.body().size() + 1);
        }
        if (!::HttpSendRequestA(exchange.request(), nullptr, 0, optional, optionalLength)) {
            if (::GetLastError() != ERROR_IO_PENDING)
                return std::string();
            const bool sent = deadline.started()
                                  ? exchange.await(deadline)
                                  : exchange.awaitFirstSend(timeouts.connectMs + kConnectGraceMs,
                                                            timeouts.receiveMs, deadline);
            if (!sent)
                return std::string();
        } else if (!deadline.started()) {
            deadline.start(timeouts.receiveMs);
        }

        // Otherwise the reply's status is never examined: an error page's body is read like
        // any other.
        const DWORD status = statusCode(exchange.request());
        const std::string location = isRedirect(status) ? locationHeader(exchange.request()) : std::string();
        if (location.empty())
            break;
        Target next;
        if (redirects == kMaxRedirects || !redirectTarget(target, location, next))
            return std::string();
        // As WinINet redirects: a POST goes on as a GET, except after 307, and no redirected
        // request carries the body.
        if (status != HTTP_STATUS_REDIRECT_KEEP_VERB && method != "GET" && method != "HEAD")
            method = "GET";
        withBody = false;
        target = std::move(next);
    }

    std::string reply;
    readReply(exchange, deadline, reply);
    return reply;
}

}  // namespace

FieldMap postForm(const ServiceEndpoint& endpoint, const FieldMap& request, const ExchangeTimeouts& timeouts)
{
    // The one place where every failure of the exchange, out of memory included, becomes the
    // empty result.
    try {
        const std::string body = encodeForm(request);
        return parseReply(exchange(endpoint, "POST", endpoint.lookupPath, &body, timeouts));
    } catch (...) {
        return FieldMap();
    }
}

std::string fetchText(const ServiceEndpoint& endpoint, const std::string& path, const ExchangeTimeouts& timeouts)
{
    try {
        return exchange(endpoint, "GET", path, nullptr, timeouts);
    } catch (...) {
        return std::string();
    }
}

void releaseAbandonedExchanges() noexcept
{
    releaseAbandonedExchangesAtUnload();
}
