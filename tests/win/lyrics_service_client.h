// The test side of the reference lyrics service: where it listens, pointing the prefix's
// WinINet proxy at it, and its control interface. Control requests go over a plain loopback
// socket, never through WinINet, so they depend on no proxy and never show in the service's
// request log.
#pragma once

#include "framework/unique_handle.h"
#include "net/field_map.h"

#include <string>
#include <vector>

// The port of the service started for this test run (its port file), or 0 without one.
int LyricsServicePort();

// A loopback port on which nothing listens.
int ClosedLoopbackPort();

// Points the current user's WinINet proxy at 127.0.0.1:port while it lives; the previous
// setting comes back afterwards, so the next test finds the prefix as it was.
class ProxyScope {
public:
    ProxyScope() = default;
    ProxyScope(const ProxyScope&) = delete;
    ProxyScope& operator=(const ProxyScope&) = delete;
    ~ProxyScope();

    bool pointAt(int port);

private:
    unique_hkey m_key;
    bool m_saved = false;
    DWORD m_oldEnable = 0;
    std::string m_oldServer;
};

// One request as the service received it.
struct RecordedRequest {
    std::string requestLine;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;

    // Header names compare case-insensitively.
    int headerCount(const std::string& name) const;
    std::string header(const std::string& name) const;
};

class LyricsServiceControl {
public:
    explicit LyricsServiceControl(int port) : m_port(port) {}

    // Forgets the request log and scheduled behaviour; the version text goes back to its default.
    bool reset() const;
    bool setVersion(const std::string& text) const;
    // Schedules how the next request(s) are answered; keys as the service's control interface
    // names them (status, body, delay, pieces, pause, action, count).
    bool scheduleNext(const FieldMap& behaviour) const;
    bool requests(std::vector<RecordedRequest>& out) const;

private:
    bool call(const char* method, const std::string& path, const std::string& body, std::string& reply) const;

    int m_port;
};

// For a SetUp, before anything can make an exchange: the proxy points at the running service,
// whose record and schedule start empty, so that the compiled-in host is never looked up.
void ConnectToService(int port, ProxyScope& proxy, const LyricsServiceControl& service);
