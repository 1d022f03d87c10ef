// The two exchanges against the reference lyrics service, reached through the prefix's proxy:
// the bytes that go over the wire, replies of every shape, and failures that end in the empty
// result, quickly or at their bound.
#include "net/http_exchange.h"

#include "framework/module.h"
#include "plugin/plugin_app.h"
#include "res/resource.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// Short enough to keep the tests quick, long enough for the slow-but-timely cases below.
const ExchangeTimeouts kShortBounds{2000, 2000, 1500};

double secondsSince(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

std::string versionPath()
{
    return LoadStringResource(IDS_VERSION_PATH);
}

// The module's own service, introduced with a referrer of its own, so that every request shows
// that the exchange sends the endpoint's referrer and not one it knows itself.
ServiceEndpoint TestEndpoint()
{
    ServiceEndpoint endpoint = ModuleServiceEndpoint();
    endpoint.referrer = "Tunelore";
    return endpoint;
}

std::string requestLine(const char* verb, const std::string& path)
{
    // Through a proxy the request target is the absolute address on the service host's port 80.
    return std::string(verb) + " http://" + LoadStringResource(IDS_SERVICE_HOST) + ":80" + path + " HTTP/1.0";
}

FieldMap rainSongRequest()
{
    return FieldMap{{"title", "Rain Song"}, {"artist", "The Lanterns"}, {"track", "7"},
                    {"album", "Night Drive!"}, {"year", "1999"}, {"genre", "Pop"},
                    {"filename", "07 Rain Song.mp3"}};
}

class HttpExchangeTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        // Before anything else: no exchange may ever look up the compiled-in host.
        ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
    }

    std::vector<RecordedRequest> received() const
    {
        std::vector<RecordedRequest> requests;
        EXPECT_TRUE(m_service.requests(requests));
        return requests;
    }

    // The one request the service has seen in this test.
    RecordedRequest onlyRequest() const
    {
        const std::vector<RecordedRequest> requests = received();
        EXPECT_EQ(requests.size(), 1u);
        return requests.empty() ? RecordedRequest() : requests.front();
    }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
};

// --- What goes over the wire -------------------------------------------------------------

struct PostCase {
    const char* name;
    FieldMap request;
    std::string body;  // as it must arrive, zero byte included
};

class PostBodyTest : public HttpExchangeTest, public ::testing::WithParamInterface<PostCase> {};

TEST_P(PostBodyTest, SendsTheFormWithOneZeroByteCountedInItsLength)
{
    postForm(TestEndpoint(), GetParam().request, kShortBounds);

    const RecordedRequest request = onlyRequest();
    EXPECT_EQ(request.requestLine, requestLine("POST", LoadStringResource(IDS_LOOKUP_PATH)));
    EXPECT_EQ(request.header("User-Agent"), "Tunelore plugin");
    EXPECT_EQ(request.header("Referer"), "Tunelore");
    EXPECT_EQ(request.headerCount("Content-Type"), 1);
    EXPECT_EQ(request.header("Content-Type"), "application/x-www-form-urlencoded");
    EXPECT_EQ(request.header("Content-Length"), std::to_string(GetParam().body.size()));
    EXPECT_EQ(request.body, GetParam().body);
}

INSTANTIATE_TEST_SUITE_P(
    Requests, PostBodyTest,
    ::testing::Values(
        PostCase{"FullRequestInKeyOrder", rainSongRequest(),
                 "album=Night+Drive%21&artist=The+Lanterns&filename=07+Rain+Song%2Emp3&genre=Pop"
                 "&title=Rain+Song&track=7&year=1999\0"s},
        PostCase{"EmptyMapSendsExactlyOneZeroByte", FieldMap(), "\0"s},
        PostCase{"HighBytesAreEscaped", FieldMap{{"title", "Caf\xE9"}}, "title=Caf%E9\0"s}),
    RowName{});

TEST_F(HttpExchangeTest, PostParsesTheServiceReply)
{
    const FieldMap expected{{"title", "Rain Song"}, {"url", "http://lyrics.tunelore.example/lyrics/rain-song"}};
    EXPECT_EQ(postForm(TestEndpoint(), rainSongRequest(), kShortBounds), expected);
}

TEST_F(HttpExchangeTest, GetSendsTheCallersPathWithoutContentTypeOrBody)
{
    ASSERT_TRUE(m_service.setVersion("7.3"));

    EXPECT_EQ(fetchText(TestEndpoint(), versionPath(), kShortBounds), "7.3");

    const RecordedRequest request = onlyRequest();
    EXPECT_EQ(request.requestLine, requestLine("GET", "/tools/plugin.php?do=checkv"));
    EXPECT_EQ(request.header("User-Agent"), "Tunelore plugin");
    EXPECT_EQ(request.header("Referer"), "Tunelore");
    EXPECT_EQ(request.headerCount("Content-Type"), 0);
    const std::string length = request.header("Content-Length");
    EXPECT_TRUE(length.empty() || length == "0") << length;
    EXPECT_EQ(request.body, "");
}

TEST_F(HttpExchangeTest, TheEndpointsReferrerIsTheRefererOfBothExchanges)
{
    ServiceEndpoint endpoint = TestEndpoint();
    endpoint.referrer = "WMP Tunelore plugin";

    postForm(endpoint, rainSongRequest(), kShortBounds);
    fetchText(endpoint, versionPath(), kShortBounds);

    const std::vector<RecordedRequest> requests = received();
    ASSERT_EQ(requests.size(), 2u);
    for (const RecordedRequest& request : requests) {
        EXPECT_EQ(request.header("Referer"), "WMP Tunelore plugin") << request.requestLine;
        EXPECT_EQ(request.header("User-Agent"), "Tunelore plugin") << request.requestLine;
    }
}

// --- Replies -------------------------------------------------------------------------------

struct ReplyCase {
    const char* name;
    FieldMap behaviour;
    std::string expected;
};

class ReplyTest : public HttpExchangeTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(ReplyTest, ComesBackAsTheTextItHolds)
{
    ASSERT_TRUE(m_service.scheduleNext(GetParam().behaviour));
    EXPECT_EQ(fetchText(TestEndpoint(), versionPath(), kShortBounds), GetParam().expected);
}

const std::string kTwoElements = "<title>Rain Song</title>\n<url>http://lyrics.example/rain</url>";

std::string patterned(std::size_t size)
{
    std::string text;
    for (std::size_t i = 0; i < size; ++i)
        text += "0123456789abcdefghijklmnopqrstuvwxyz"[i % 36];
    return text;
}

INSTANTIATE_TEST_SUITE_P(
    Bodies, ReplyTest,
    ::testing::Values(
        ReplyCase{"BodyInTwoPiecesComesBackWhole", {{"body", kTwoElements}, {"pieces", "2"}, {"pause", "0.3"}},
                  kTwoElements},
        ReplyCase{"BodyInManyPiecesComesBackWhole", {{"body", kTwoElements}, {"pieces", "6"}, {"pause", "0.1"}},
                  kTwoElements},
        ReplyCase{"SlowButTimelyAnswerComesBack", {{"body", "2.5"}, {"delay", "0.5"}}, "2.5"},
        ReplyCase{"ZeroByteEndsTheText", {{"body", "2.5\0<title>x</title>"s}}, "2.5"},
        ReplyCase{"ZeroByteInALaterPieceEndsTheText",
                  {{"body", "first piece, second\0piece"s}, {"pieces", "2"}, {"pause", "0.2"}},
                  "first piece, second"},
        ReplyCase{"ReplyOfExactlyTheBoundComesBackWhole", {{"body", patterned(kMaxReplyBytes)}},
                  patterned(kMaxReplyBytes)},
        ReplyCase{"ReplyPastTheBoundIsCutAtIt", {{"body", patterned(100000)}, {"pieces", "3"}},
                  patterned(kMaxReplyBytes)}),
    RowName{});

class ErrorStatusTest : public HttpExchangeTest, public ::testing::WithParamInterface<const char*> {};

TEST_P(ErrorStatusTest, BodyIsParsedLikeAnyOther)
{
    ASSERT_TRUE(m_service.scheduleNext({{"status", GetParam()}, {"body", "<title>Oops</title><url>u</url>"}}));
    const FieldMap expected{{"title", "Oops"}, {"url", "u"}};
    EXPECT_EQ(postForm(TestEndpoint(), rainSongRequest(), kShortBounds), expected);
}

INSTANTIATE_TEST_SUITE_P(Statuses, ErrorStatusTest, ::testing::Values("404", "500"));

// --- Failures ------------------------------------------------------------------------------

struct FailureCase {
    const char* name;
    FieldMap behaviour;  // empty: the proxy points at a closed port instead of the service
    double minSeconds;
    double maxSeconds;
};

class FailureTest : public HttpExchangeTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(FailureTest, EndsInTheEmptyResultInTime)
{
    const FailureCase& c = GetParam();
    if (c.behaviour.empty()) {
        const int closed = ClosedLoopbackPort();
        ASSERT_NE(closed, 0);
        ASSERT_TRUE(m_proxy.pointAt(closed));
    } else {
        ASSERT_TRUE(m_service.scheduleNext(c.behaviour));
    }

    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(postForm(TestEndpoint(), rainSongRequest(), kShortBounds), FieldMap());
    const double postSeconds = secondsSince(start);
    EXPECT_GE(postSeconds, c.minSeconds);
    EXPECT_LE(postSeconds, c.maxSeconds);

    start = std::chrono::steady_clock::now();
    EXPECT_EQ(fetchText(TestEndpoint(), versionPath(), kShortBounds), "");
    const double getSeconds = secondsSince(start);
    EXPECT_GE(getSeconds, c.minSeconds);
    EXPECT_LE(getSeconds, c.maxSeconds);

    // The service's failures happened after it had the request, not before.
    EXPECT_EQ(received().size() >= 2, !c.behaviour.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Failures, FailureTest,
    ::testing::Values(
        FailureCase{"RefusedConnectionFailsQuickly", {}, 0.0, 5.0},
        FailureCase{"ConnectionClosedWithoutAnswerFailsQuickly", {{"action", "close"}, {"count", "10"}}, 0.0, 5.0},
        FailureCase{"ServiceThatNeverAnswersEndsAtTheReceiveBound", {{"action", "hang"}, {"count", "10"}}, 1.2, 8.0}),
    RowName{});

// --- The bound of the whole exchange -------------------------------------------------------
// From the moment the request goes out to the end of the reply, an exchange takes at most the
// receive time-out, however the server paces its bytes (each one would restart the time-out of
// a single read) and however many redirects it sends. Measured from outside, each exchange
// ends within that bound and a small margin; what arrived by then is the reply.

const double kBoundSeconds = kShortBounds.receiveMs / 1000.0;
// Room for a loaded machine to schedule the waiting thread and close the handles; far less
// than any pace or redirect chain here would take without the bound.
const double kMarginSeconds = 2.0;

const std::string kFoundReply = "<title>Rain Song</title><url>u</url>";
const FieldMap kFoundFields{{"title", "Rain Song"}, {"url", "u"}};

struct BoundCase {
    const char* name;
    std::vector<FieldMap> behaviours;  // scheduled in this order before each exchange
    FieldMap posted;                   // what postForm returns
    std::string fetched;               // what fetchText returns
    bool fetchedIsAPrefix = false;     // the pace decides how much arrives: any shorter prefix
};

class BoundTest : public HttpExchangeTest, public ::testing::WithParamInterface<BoundCase> {
protected:
    void schedule() const
    {
        // A reset also ends what the previous exchange left the service sending.
        ASSERT_TRUE(m_service.reset());
        for (const FieldMap& behaviour : GetParam().behaviours)
            ASSERT_TRUE(m_service.scheduleNext(behaviour));
    }
};

TEST_P(BoundTest, EndsWithinTheBoundWithWhatArrived)
{
    const BoundCase& c = GetParam();

    schedule();
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(postForm(TestEndpoint(), rainSongRequest(), kShortBounds), c.posted);
    EXPECT_LE(secondsSince(start), kBoundSeconds + kMarginSeconds);

    schedule();
    start = std::chrono::steady_clock::now();
    const std::string fetched = fetchText(TestEndpoint(), versionPath(), kShortBounds);
    EXPECT_LE(secondsSince(start), kBoundSeconds + kMarginSeconds);
    if (c.fetchedIsAPrefix) {
        EXPECT_LT(fetched.size(), c.fetched.size());
        EXPECT_EQ(c.fetched.compare(0, fetched.size(), fetched), 0) << fetched;
    } else {
        EXPECT_EQ(fetched, c.fetched);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Bounds, BoundTest,
    ::testing::Values(
        // A byte every quarter second: the head alone would take half a minute.
        BoundCase{"DripInTheHeadEndsAtTheBound", {{{"drip", "0.25"}}}, FieldMap(), ""},
        BoundCase{"DripInTheBodyKeepsWhatArrivedButNoUnfinishedTitle",
                  {{{"drip", "0.25"}, {"drip_from", "body"}, {"body", kTwoElements}}}, FieldMap(), kTwoElements,
                  true},
        // The first piece holds the whole title element; the second comes after the bound.
        BoundCase{"PauseInsideTheBodyPastTheBoundKeepsTheTitleThatArrived",
                  {{{"body", kTwoElements}, {"pieces", "2"}, {"pause", "4"}}}, FieldMap{{"title", "Rain Song"}},
                  "<title>Rain Song</title>\n<url>h"},
        BoundCase{"PauseInsideTheTitlePastTheBoundLosesIt",
                  {{{"body", kTwoElements}, {"pieces", "3"}, {"pause", "4"}}}, FieldMap(), "<title>Rain Song</tit"},
        BoundCase{"RedirectChainEndsInTheReply", {{{"redirect", "3"}}, {{"body", kFoundReply}}}, kFoundFields,
                  kFoundReply},
        BoundCase{"RedirectLoopEndsInTheEmptyResult", {{{"redirect", "loop"}}}, FieldMap(), ""},
        // Each hop fresh and well within a single read's time-out, the chain as a whole not.
        BoundCase{"SlowRedirectLoopEndsAtTheBound", {{{"redirect", "loop"}, {"delay", "0.4"}}}, FieldMap(), ""},
        BoundCase{"DripInTheHeadOfARedirectEndsAtTheBound",
                  {{{"redirect", "1"}, {"drip", "0.25"}}, {{"body", kFoundReply}}}, FieldMap(), ""},
        // The read that follows the whole body fails; what came before it counts.
        BoundCase{"BodyThatArrivedWholeBeforeAResetCountsAsFound",
                  {{{"body", kFoundReply}, {"length", "1000"}, {"end", "reset"}, {"end_after", "0.3"}}}, kFoundFields,
                  kFoundReply}),
    RowName{});

// The exchange blocks its thread as before: it waits without dispatching messages, so no
// timer (the plug-in's tick) and no other message runs inside it.
int g_timerCalls = 0;

void CALLBACK CountTimer(HWND, UINT, UINT_PTR, DWORD)
{
    ++g_timerCalls;
}

TEST_F(HttpExchangeTest, WaitsWithoutDispatchingMessages)
{
    ASSERT_TRUE(m_service.scheduleNext({{"drip", "0.25"}}));
    g_timerCalls = 0;
    const UINT_PTR timer = ::SetTimer(nullptr, 0, 10, &CountTimer);
    ASSERT_NE(timer, 0u);
    ASSERT_TRUE(::PostThreadMessageA(::GetCurrentThreadId(), WM_APP, 0, 0));

    EXPECT_EQ(postForm(TestEndpoint(), rainSongRequest(), kShortBounds), FieldMap());
    EXPECT_EQ(g_timerCalls, 0);

    MSG message;
    EXPECT_TRUE(::PeekMessageA(&message, nullptr, WM_APP, WM_APP, PM_REMOVE));
    while (::PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE))
        ::DispatchMessageA(&message);
    ::KillTimer(nullptr, timer);
    EXPECT_GT(g_timerCalls, 0);
}

}  // namespace
