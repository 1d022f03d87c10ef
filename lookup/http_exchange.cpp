// One HTTP exchange with the lyrics service over WinINet: session, connection, request and
// reply buffer live only for the exchange and are released on every path.
#include "lookup/http_exchange.h"

#include "framework/module.h"
#include "framework/unique_handle.h"
#include "res/resource.h"

#include <wininet.h>

#include <algorithm>

namespace {

constexpr DWORD_PTR kContext = 1;
constexpr char kHttpVersion[] = "HTTP/1.0";  // WinINet would otherwise send HTTP/1.1
constexpr char kFormContentType[] = "Content-Type: application/x-www-form-urlencoded\r\n";

// Written once at start-up, before any exchange can run; only read afterwards.
std::string& referrerText()
{
    static std::string referrer = "Tunelore";
    return referrer;
}

bool setTimeout(HINTERNET handle, DWORD option, DWORD milliseconds)
{
    return ::InternetSetOptionA(handle, option, &milliseconds, sizeof(milliseconds)) != FALSE;
}

// Reads the body until it ends, a zero byte ends the text, or the bound is reached. A read
// that fails part-way makes the whole reply a failure.
bool readReply(HINTERNET request, std::string& reply)
{
    reply.clear();
    while (reply.size() < kMaxReplyBytes) {
        DWORD available = 0;
        if (!::InternetQueryDataAvailable(request, &available, 0, 0))
            return false;
        if (available == 0)
            return true;
        const std::size_t start = reply.size();
        const DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(available, kMaxReplyBytes - start));
        reply.resize(start + wanted);
        DWORD read = 0;
        if (!::InternetReadFile(request, &reply[start], wanted, &read))
            return false;
        reply.resize(start + read);
        // The reply's text ends at its first zero byte; nothing after it is needed.
        const std::size_t zero = reply.find('\0', start);
        if (zero != std::string::npos) {
            reply.resize(zero);
            return true;
        }
        if (read == 0)
            return true;
    }
    return true;
}

// One request to the service host; body is null for a request without one. Returns the
// reply text, or "" on any failure.
std::string exchange(const char* verb, const std::string& object, const std::string* body,
                     const ExchangeTimeouts& timeouts)
{
    const std::string agent = LoadStringResource(IDS_APP_NAME);
    const std::string host = LoadStringResource(IDS_SERVICE_HOST);

    unique_hinternet session(::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
    if (!session)
        return std::string();
    unique_hinternet connection(::InternetConnectA(session.get(), host.c_str(), INTERNET_DEFAULT_HTTP_PORT,
                                                   nullptr, nullptr, INTERNET_SERVICE_HTTP, 0, kContext));
    if (!connection)
        return std::string();
    // On the connection handle: Wine ignores time-outs set on the session. Without them an
    // exchange could block for good, so a handle that refuses them is not used.
    if (!setTimeout(connection.get(), INTERNET_OPTION_CONNECT_TIMEOUT, timeouts.connectMs) ||
        !setTimeout(connection.get(), INTERNET_OPTION_SEND_TIMEOUT, timeouts.sendMs) ||
        !setTimeout(connection.get(), INTERNET_OPTION_RECEIVE_TIMEOUT, timeouts.receiveMs))
        return std::string();

    unique_hinternet request(::HttpOpenRequestA(connection.get(), verb, object.c_str(), kHttpVersion,
                                                referrerText().c_str(), nullptr, INTERNET_FLAG_KEEP_CONNECTION,
                                                kContext));
    if (!request)
        return std::string();

    void* optional = nullptr;
    DWORD optionalLength = 0;
    if (body) {
        ::HttpAddRequestHeadersA(request.get(), kFormContentType, static_cast<DWORD>(-1L),
                                 HTTP_ADDREQ_FLAG_ADD_IF_NEW);
        // The body carries its terminating zero byte: the service has always been sent it.
        optional = const_cast<char*>(body->c_str());
        optionalLength = static_cast<DWORD>(body->size() + 1);
    }
    if (!::HttpSendRequestA(request.get(), nullptr, 0, optional, optionalLength))
        return std::string();

    // The reply's status is never examined: an error page's body is read like any other.
    std::string reply;
    if (!readReply(request.get(), reply))
        return std::string();
    return reply;
}

}  // namespace

void setReferrer(const std::string& referrer)
{
    referrerText() = referrer;
}

FieldMap postForm(const FieldMap& request, const ExchangeTimeouts& timeouts)
{
    const std::string body = encodeForm(request);
    return parseReply(exchange("POST", LoadStringResource(IDS_LOOKUP_PATH), &body, timeouts));
}

std::string fetchText(const std::string& path, const ExchangeTimeouts& timeouts)
{
    return exchange("GET", path, nullptr, timeouts);
}
