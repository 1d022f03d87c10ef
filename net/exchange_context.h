// The asynchronous side of one WinINet exchange: its handles, the status callback set on them,
// the events that callback signals, and the waits of the exchange's own thread, each bounded.
// WinINet's worker threads (the platform's, not ours) run the network operations and call the
// callback; the exchange's thread waits for them without pumping messages.
//
// A context lives until WinINet can no longer call back with it: every handle made with it has
// reported INTERNET_STATUS_HANDLE_CLOSING. An exchange that gives up on an operation still in
// a worker's hands cannot wait for that, so it leaves its context behind (abandons it): the
// worker finishes on its own, at the latest when its per-operation time-out strikes, and a
// later exchange or the module's unload frees what is left.
#pragma once

#include "framework/unique_handle.h"

#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>

// A moment a bounded number of milliseconds from when it is started.
class Deadline {
public:
    bool started() const { return m_started; }
    void start(DWORD milliseconds);
    DWORD remaining() const;

private:
    bool m_started = false;
    ULONGLONG m_end = 0;
};

struct event_traits {
    using pointer = HANDLE;
    static constexpr pointer invalid() { return nullptr; }
    static void close(pointer value) { ::CloseHandle(value); }
};
using unique_event = unique_handle<event_traits>;

class ExchangeContext {
public:
    // Null when the events cannot be made.
    static std::unique_ptr<ExchangeContext> create();

    ExchangeContext() = default;
    ExchangeContext(const ExchangeContext&) = delete;
    ExchangeContext& operator=(const ExchangeContext&) = delete;
    ~ExchangeContext() = default;

    // The asynchronous session, with the status callback that its connections and requests
    // inherit. It carries no context, so WinINet reports nothing about it.
    bool openSession(const std::string& agent);
    // A connection and then a request for one hop of the exchange; a new connection first closes
    // the previous hop's request and connection, whose operations have all ended.
    bool openConnection(const std::string& host, INTERNET_PORT port);
    bool openRequest(const char* verb, const std::string& object, const std::string& referrer, DWORD flags);
    HINTERNET connection() const { return m_connection.get(); }
    HINTERNET request() const { return m_request.get(); }

    // WinINet reads an asynchronous request's optional data from its worker, after the send
    // call has returned: the body lives here, as long as the handles may.
    void setBody(const std::string& body) { m_body = body; }
    std::string& body() { return m_body; }

    // The waits for an operation that returned ERROR_IO_PENDING. True when it completed
    // successfully; false when it failed or the wait ran out, and in the second case the
    // operation is left outstanding. Before the first request is being sent, the wait lasts at
    // most `connectMs` (the connect phase keeps its own time-out) and, once that request goes
    // out, the deadline starts with `boundMs` for the rest of the exchange.
    bool awaitFirstSend(DWORD connectMs, DWORD boundMs, Deadline& deadline);
    bool await(const Deadline& deadline);

    bool outstanding() const { return m_outstanding; }

    // The handles go; the context stays until WinINet has reported each of them closed.
    void closeHandles() noexcept;
    // For the module's unload only: WinINet stops calling back through these handles.
    void detachCallback() noexcept;
    bool closed() const;
    bool waitClosed(DWORD milliseconds) const;
    // Whether the outstanding operation has ended by now (it then is no longer outstanding).
    bool settleOutstanding();

private:
    static void CALLBACK onStatus(HINTERNET handle, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength);
    void adopt(unique_hinternet& owner, HINTERNET handle);
    void handleClosed() noexcept;
    bool completedWith(DWORD waitResult);

    unique_event m_complete;  // auto-reset: one INTERNET_STATUS_REQUEST_COMPLETE per operation
    unique_event m_sending;   // manual-reset: the exchange's first request is being sent
    unique_event m_closed;    // manual-reset: every handle made with the context has closed
    // Handles made with this context and not yet reported closed, plus one for the exchange
    // itself until it has closed its handles.
    volatile LONG m_open = 1;
    bool m_exchangeClosed = false;
    bool m_outstanding = false;
    INTERNET_ASYNC_RESULT m_result = {};  // written by the callback before m_complete is set
    std::string m_body;
    // Declared last so that they close first, while the events they may signal still exist.
    unique_hinternet m_session;
    unique_hinternet m_connection;
    unique_hinternet m_request;
};

// The end of an exchange on its own thread: a context without an outstanding operation closes
// its handles and goes once WinINet has reported them closed; any other is kept until then.
void retireExchange(std::unique_ptr<ExchangeContext> context) noexcept;
// Frees what earlier exchanges had to leave behind and WinINet has finished with since. Called
// by each exchange before it starts.
void sweepAbandonedExchanges() noexcept;
// At the module's unload: what WinINet still works on is detached from the callback, whose
// code is about to go, and closed; WinINet itself then stays loaded, since its worker is still
// running in it. Contexts WinINet may still touch are left allocated.
void releaseAbandonedExchangesAtUnload() noexcept;
