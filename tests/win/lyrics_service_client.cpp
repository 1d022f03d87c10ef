// Port file, proxy setting and control socket of the reference lyrics service.
#include <winsock2.h>

#include "tests/win/lyrics_service_client.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <fstream>

namespace {

struct socket_traits {
    using pointer = SOCKET;
    static constexpr pointer invalid() { return INVALID_SOCKET; }
    static void close(pointer value) { ::closesocket(value); }
};
using unique_socket = unique_handle<socket_traits>;

constexpr char kInternetSettings[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Internet Settings";
constexpr DWORD kControlTimeoutMs = 10000;

bool startWinsock()
{
    static const bool started = [] {
        WSADATA data;
        return ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }();
    return started;
}

sockaddr_in loopback(int port)
{
    sockaddr_in address = {};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    address.sin_port = htons(static_cast<u_short>(port));
    return address;
}

bool sendAll(SOCKET s, const std::string& data)
{
    for (std::size_t sent = 0; sent < data.size();) {
        const int n = ::send(s, data.data() + sent, static_cast<int>(data.size() - sent), 0);
        if (n <= 0)
            return false;
        sent += static_cast<std::size_t>(n);
    }
    return true;
}

bool equalsIgnoringCase(const std::string& a, const std::string& b)
{
    if (a.size() != b.size())
        return false;
    for (std::size_t i = 0; i < a.size(); ++i) {
        if (std::tolower(static_cast<unsigned char>(a[i])) != std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    }
    return true;
}

// Every byte but letters and digits as %XX: the plug-in's own encoding would turn line breaks
// and tabs into "+", and the service must get scheduled bodies byte for byte.
std::string encodeExactly(const FieldMap& fields)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    std::string out;
    for (const auto& [key, value] : fields) {
        if (!out.empty())
            out += '&';
        out += key + '=';
        for (unsigned char c : value) {
            if (std::isalnum(c)) {
                out += static_cast<char>(c);
            } else {
                out += '%';
                out += kHexDigits[c >> 4];
                out += kHexDigits[c & 0x0F];
            }
        }
    }
    return out;
}

RecordedRequest splitRequest(const std::string& raw)
{
    RecordedRequest request;
    const std::size_t headEnd = raw.find("\r\n\r\n");
    const std::string head = raw.substr(0, headEnd);
    if (headEnd != std::string::npos)
        request.body = raw.substr(headEnd + 4);
    std::size_t start = 0;
    for (bool first = true; start <= head.size(); first = false) {
        std::size_t end = head.find("\r\n", start);
        if (end == std::string::npos)
            end = head.size();
        const std::string line = head.substr(start, end - start);
        if (first) {
            request.requestLine = line;
        } else {
            const std::size_t colon = line.find(':');
            const std::size_t valueStart = line.find_first_not_of(' ', colon == std::string::npos ? line.size() : colon + 1);
            request.headers.emplace_back(line.substr(0, colon),
                                         valueStart == std::string::npos ? std::string() : line.substr(valueStart));
        }
        start = end + 2;
    }
    return request;
}

}  // namespace

int LyricsServicePort()
{
    // The service runs on the Unix side; Wine shows the Unix root as drive Z:.
    std::ifstream file(std::string("Z:") + TUNELORE_SERVICE_PORT_FILE);
    int port = 0;
    if (!(file >> port) || port <= 0 || port > 65535)
        return 0;
    return port;
}

int ClosedLoopbackPort()
{
    if (!startWinsock())
        return 0;
    // A port the system just handed out and that is closed again has no listener.
    unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address = loopback(0);
    int length = sizeof(address);
    if (!s || ::bind(s.get(), reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0 ||
        ::getsockname(s.get(), reinterpret_cast<sockaddr*>(&address), &length) != 0)
        return 0;
    return ntohs(address.sin_port);
}

ProxyScope::~ProxyScope()
{
    if (!m_saved)
        return;
    ::RegSetValueExA(m_key.get(), "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&m_oldEnable),
                     sizeof(m_oldEnable));
    ::RegSetValueExA(m_key.get(), "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(m_oldServer.c_str()),
                     static_cast<DWORD>(m_oldServer.size() + 1));
}

bool ProxyScope::pointAt(int port)
{
    if (!m_key && ::RegCreateKeyExA(HKEY_CURRENT_USER, kInternetSettings, 0, nullptr, 0,
                                    KEY_QUERY_VALUE | KEY_SET_VALUE, nullptr, m_key.put(), nullptr) != ERROR_SUCCESS)
        return false;
    if (!m_saved) {
        DWORD size = sizeof(m_oldEnable);
        if (::RegQueryValueExA(m_key.get(), "ProxyEnable", nullptr, nullptr, reinterpret_cast<BYTE*>(&m_oldEnable),
                               &size) != ERROR_SUCCESS)
            m_oldEnable = 0;
        char server[256] = {};
        size = sizeof(server) - 1;
        if (::RegQueryValueExA(m_key.get(), "ProxyServer", nullptr, nullptr, reinterpret_cast<BYTE*>(server),
                               &size) == ERROR_SUCCESS)
            m_oldServer = server;
        m_saved = true;
    }
    const DWORD enable = 1;
    const std::string server = "127.0.0.1:" + std::to_string(port);
    return ::RegSetValueExA(m_key.get(), "ProxyEnable", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&enable),
                            sizeof(enable)) == ERROR_SUCCESS &&
           ::RegSetValueExA(m_key.get(), "ProxyServer", 0, REG_SZ, reinterpret_cast<const BYTE*>(server.c_str()),
                            static_cast<DWORD>(server.size() + 1)) == ERROR_SUCCESS;
}

int RecordedRequest::headerCount(const std::string& name) const
{
    int count = 0;
    for (const auto& header : headers)
        count += equalsIgnoringCase(header.first, name) ? 1 : 0;
    return count;
}

std::string RecordedRequest::header(const std::string& name) const
{
    for (const auto& header : headers) {
        if (equalsIgnoringCase(header.first, name))
            return header.second;
    }
    return std::string();
}

bool LyricsServiceControl::reset() const
{
    std::string reply;
    return call("POST", "/_control/reset", std::string(), reply);
}

bool LyricsServiceControl::setVersion(const std::string& text) const
{
    std::string reply;
    return call("POST", "/_control/version", text, reply);
}

bool LyricsServiceControl::scheduleNext(const FieldMap& behaviour) const
{
    std::string reply;
    return call("POST", "/_control/next", encodeExactly(behaviour), reply);
}

bool LyricsServiceControl::requests(std::vector<RecordedRequest>& out) const
{
    // The log frames each raw request as "<length>\n<bytes>\n".
    std::string log;
    if (!call("GET", "/_control/log", std::string(), log))
        return false;
    out.clear();
    for (std::size_t pos = 0; pos < log.size();) {
        const std::size_t newline = log.find('\n', pos);
        if (newline == std::string::npos)
            return false;
        const std::size_t length = std::strtoul(log.substr(pos, newline - pos).c_str(), nullptr, 10);
        if (newline + 1 + length + 1 > log.size())
            return false;
        out.push_back(splitRequest(log.substr(newline + 1, length)));
        pos = newline + 1 + length + 1;
    }
    return true;
}

bool LyricsServiceControl::call(const char* method, const std::string& path, const std::string& body,
                                std::string& reply) const
{
    if (!startWinsock())
        return false;
    unique_socket s(::socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    if (!s)
        return false;
    const DWORD timeout = kControlTimeoutMs;
    ::setsockopt(s.get(), SOL_SOCKET, SO_RCVTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    ::setsockopt(s.get(), SOL_SOCKET, SO_SNDTIMEO, reinterpret_cast<const char*>(&timeout), sizeof(timeout));
    const sockaddr_in address = loopback(m_port);
    if (::connect(s.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return false;
    const std::string request = std::string(method) + " " + path + " HTTP/1.0\r\nContent-Length: " +
                                std::to_string(body.size()) + "\r\n\r\n" + body;
    if (!sendAll(s.get(), request))
        return false;

    std::string response;
    char buffer[4096];
    for (int n; (n = ::recv(s.get(), buffer, sizeof(buffer), 0)) > 0;)
        response.append(buffer, static_cast<std::size_t>(n));
    const std::size_t headEnd = response.find("\r\n\r\n");
    if (response.compare(0, 13, "HTTP/1.0 200 ") != 0 || headEnd == std::string::npos)
        return false;
    reply = response.substr(headEnd + 4);
    return true;
}

void ConnectToService(int port, ProxyScope& proxy, const LyricsServiceControl& service)
{
    ASSERT_NE(port, 0) << "no lyrics service port in " TUNELORE_SERVICE_PORT_FILE;
    ASSERT_TRUE(proxy.pointAt(port));
    ASSERT_TRUE(service.reset());
}
