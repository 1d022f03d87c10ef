// One asynchronous WinINet exchange's handles, callback and bounded waits, and the keeping of
// contexts whose operations outlived their exchange.
#include "net/exchange_context.h"

#include <algorithm>
#include <utility>
#include <vector>

namespace {

// How long the end of an exchange waits for WinINet's closing reports. They come at once
// unless a worker is just finishing the operation it completed.
constexpr DWORD kCloseWaitMs = 1000;

// The contexts of exchanges that ended before WinINet did, touched only by the thread that
// runs the exchanges and by the module's unload. At the process's exit a worker may still hold
// one, so whatever is left then stays allocated.
class AbandonedExchanges {
public:
    AbandonedExchanges() = default;
    AbandonedExchanges(const AbandonedExchanges&) = delete;
    AbandonedExchanges& operator=(const AbandonedExchanges&) = delete;
    ~AbandonedExchanges()
    {
        for (auto& context : m_contexts)
            static_cast<void>(context.release());
    }

    void keep(std::unique_ptr<ExchangeContext> context) noexcept
    {
        try {
            m_contexts.push_back(std::move(context));
        } catch (...) {
            // Out of memory: a context WinINet may still call back with can only stay allocated.
            static_cast<void>(context.release());
        }
    }

    void sweep() noexcept
    {
        for (auto& context : m_contexts) {
            if (context->outstanding() && context->settleOutstanding())
                context->closeHandles();
        }
        m_contexts.erase(std::remove_if(m_contexts.begin(), m_contexts.end(),
                                        [](const auto& context) { return !context->outstanding() && context->closed(); }),
                         m_contexts.end());
    }

    void releaseAtUnload() noexcept
    {
        sweep();
        if (m_contexts.empty())
            return;
        // A worker is still inside WinINet. Without this module, nothing else in the process
        // may hold WinINet, and the loader would unload it from under that worker: it stays
        // loaded for the process's life.
        HMODULE wininet = nullptr;
        ::GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_PIN, "wininet.dll", &wininet);
        for (auto& context : m_contexts) {
            if (context->outstanding()) {
                context->detachCallback();
                context->closeHandles();
            }
            // A callback already under way may still reach the context: it stays allocated.
            static_cast<void>(context.release());
        }
        m_contexts.clear();
    }

private:
    std::vector<std::unique_ptr<ExchangeContext>> m_contexts;
};

AbandonedExchanges g_abandonedExchanges;

}  // namespace

void Deadline::start(DWORD milliseconds)
{
    m_end = ::GetTickCount64() + milliseconds;
    m_started = true;
}

DWORD Deadline::remaining() const
{
    const ULONGLONG now = ::GetTickCount64();
    return now >= m_end ? 0 : static_cast<DWORD>(std::min<ULONGLONG>(m_end - now, INFINITE - 1));
}

std::unique_ptr<ExchangeContext> ExchangeContext::create()
{
    auto context = std::make_unique<ExchangeContext>();
    context->m_complete.reset(::CreateEventA(nullptr, FALSE, FALSE, nullptr));
    context->m_sending.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    context->m_closed.reset(::CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!context->m_complete || !context->m_sending || !context->m_closed)
        return nullptr;
    return context;
}

// Runs on WinINet's worker threads, and on the exchange's thread inside WinINet's calls. It
// touches only the context it is given, which outlives every handle made with it.
void CALLBACK ExchangeContext::onStatus(HINTERNET, DWORD_PTR context, DWORD status, LPVOID info, DWORD infoLength)
{
    if (!context)
        return;  // the session's own reports, which carry no context
    ExchangeContext& exchange = *reinterpret_cast<ExchangeContext*>(context);
    switch (status) {
    case INTERNET_STATUS_SENDING_REQUEST:
        ::SetEvent(exchange.m_sending.get());
        break;
    case INTERNET_STATUS_REQUEST_COMPLETE:
        if (info && infoLength >= sizeof(INTERNET_ASYNC_RESULT))
            exchange.m_result = *static_cast<const INTERNET_ASYNC_RESULT*>(info);
        else
            exchange.m_result = INTERNET_ASYNC_RESULT{0, ERROR_INTERNET_INTERNAL_ERROR};
        ::SetEvent(exchange.m_complete.get());
        break;
    case INTERNET_STATUS_HANDLE_CLOSING:
        exchange.handleClosed();  // possibly the last touch of the context
        break;
    default:
        break;
    }
}

void ExchangeContext::handleClosed() noexcept
{
    if (::InterlockedDecrement(&m_open) == 0)
        ::SetEvent(m_closed.get());
}

void ExchangeContext::adopt(unique_hinternet& owner, HINTERNET handle)
{
    // Counted before anything can close it: WinINet reports the closing of each handle made
    // with this context exactly once.
    ::InterlockedIncrement(&m_open);
    owner.reset(handle);
}

bool ExchangeContext::openSession(const std::string& agent)
{
    m_session.reset(::InternetOpenA(agent.c_str(), INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, INTERNET_FLAG_ASYNC));
    return m_session && ::InternetSetStatusCallbackA(m_session.get(), &ExchangeContext::onStatus) !=
                            INTERNET_INVALID_STATUS_CALLBACK;
}

bool ExchangeContext::openConnection(const std::string& host, INTERNET_PORT port)
{
    m_request.reset();
    m_connection.reset();
    HINTERNET connection = ::InternetConnectA(m_session.get(), host.c_str(), port, nullptr, nullptr,
                                              INTERNET_SERVICE_HTTP, 0, reinterpret_cast<DWORD_PTR>(this));
    if (!connection)
        return false;
    adopt(m_connection, connection);
    return true;
}

bool ExchangeContext::openRequest(const char* verb, const std::string& object, const std::string& referrer,
                                  DWORD flags)
{
    static const char kHttpVersion[] = "HTTP/1.0";  // WinINet would otherwise send HTTP/1.1
    HINTERNET request = ::HttpOpenRequestA(m_connection.get(), verb, object.c_str(), kHttpVersion, referrer.c_str(),
                                           nullptr, flags, reinterpret_cast<DWORD_PTR>(this));
    if (!request)
        return false;
    adopt(m_request, request);
    return true;
}

bool ExchangeContext::completedWith(DWORD waitResult)
{
    if (waitResult != WAIT_OBJECT_0) {
        m_outstanding = true;
        return false;
    }
    return m_result.dwResult != 0;
}

bool ExchangeContext::awaitFirstSend(DWORD connectMs, DWORD boundMs, Deadline& deadline)
{
    const HANDLE events[] = {m_complete.get(), m_sending.get()};
    const DWORD first = ::WaitForMultipleObjects(2, events, FALSE, connectMs);
    if (first == WAIT_OBJECT_0 + 1) {
        deadline.start(boundMs);
        return completedWith(::WaitForSingleObject(m_complete.get(), deadline.remaining()));
    }
    if (first == WAIT_OBJECT_0) {
        // Done before the exchange could see the request go out: the bound starts now.
        deadline.start(boundMs);
        return m_result.dwResult != 0;
    }
    return completedWith(first);
}

bool ExchangeContext::await(const Deadline& deadline)
{
    return completedWith(::WaitForSingleObject(m_complete.get(), deadline.remaining()));
}

void ExchangeContext::closeHandles() noexcept
{
    m_request.reset();
    m_connection.reset();
    m_session.reset();
    if (!m_exchangeClosed) {
        m_exchangeClosed = true;
        handleClosed();
    }
}

void ExchangeContext::detachCallback() noexcept
{
    for (const unique_hinternet* handle : {&m_request, &m_connection, &m_session}) {
        if (*handle)
            ::InternetSetStatusCallbackA(handle->get(), nullptr);
    }
}

bool ExchangeContext::closed() const
{
    return waitClosed(0);
}

bool ExchangeContext::waitClosed(DWORD milliseconds) const
{
    return ::WaitForSingleObject(m_closed.get(), milliseconds) == WAIT_OBJECT_0;
}

bool ExchangeContext::settleOutstanding()
{
    if (::WaitForSingleObject(m_complete.get(), 0) != WAIT_OBJECT_0)
        return false;
    m_outstanding = false;
    return true;
}

void retireExchange(std::unique_ptr<ExchangeContext> context) noexcept
{
    if (!context)
        return;
    if (!context->outstanding()) {
        context->closeHandles();
        if (context->waitClosed(kCloseWaitMs))
            return;  // WinINet is done with it
    }
    g_abandonedExchanges.keep(std::move(context));
}

void sweepAbandonedExchanges() noexcept
{
    g_abandonedExchanges.sweep();
}

void releaseAbandonedExchangesAtUnload() noexcept
{
    g_abandonedExchanges.releaseAtUnload();
}
