// The update check against the reference lyrics service: when it asks, what it makes of each
// reply against the module's own version 2.0.0.1, the question it puts, and what each answer
// leaves behind.
#include "settings/update_check.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <limits>
#include <optional>
#include <ostream>
#include <string>
#include <thread>
#include <vector>

#include "framework/module.h"
#include "notifier/notifier_wnd.h"
#include "plugin/plugin_app.h"
#include "res/resource.h"
#include "settings/settings.h"
#include "tests/win/dialog_driver.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/shell_recorder.h"
#include "tests/table_row.h"

namespace {

constexpr char kQuestionCaption[] = "Update found";
constexpr std::int64_t kDay = 86400;
constexpr std::int64_t kNow = 1300000000;

class UpdateCheckTest : public ShellAndClockTest {
protected:
    void SetUp() override
    {
        ShellAndClockTest::SetUp();
        // Before anything else: no exchange may ever look up the compiled-in host.
        ASSERT_NO_FATAL_FAILURE(ConnectToService(m_port, m_proxy, m_service));
        test_clock::Set(kNow);
        // Checks on, the last one two days ago.
        GetSettings() = Settings{1, 1, kNow - 2 * kDay, 5, 7};
    }

    // Version queries the service has received in this test.
    int VersionRequests() const
    {
        std::vector<RecordedRequest> requests;
        EXPECT_TRUE(m_service.requests(requests));
        int count = 0;
        for (const RecordedRequest& request : requests)
            count += request.requestLine.find("/tools/plugin.php?do=checkv ") != std::string::npos ? 1 : 0;
        return count;
    }

    // Runs the check; a question it puts is recorded and answered with the given button.
    std::optional<std::string> RunAnswering(int button)
    {
        std::optional<std::string> question;
        DialogDriver driver({[&] {
            const HWND dialog = FindDialog(kQuestionCaption);
            if (dialog == nullptr)
                return false;
            question = ItemText(dialog, IDC_MESSAGE);
            PostClick(dialog, button);
            return true;
        }});
        RunUpdateCheck(nullptr, ModuleServiceEndpoint());
        EXPECT_TRUE(driver.messages.empty());
        return question;
    }

    const int m_port = LyricsServicePort();
    ProxyScope m_proxy;
    LyricsServiceControl m_service{m_port};
};

TEST(PluginVersion, IsTheFirstAndFourthNumberOfTheFileVersion)
{
    const VersionPair own = GetPluginVersion();
    EXPECT_EQ(own.major, 2);
    EXPECT_EQ(own.minor, 1);
}

// --- Replies -----------------------------------------------------------------------------

// expected: the version the question names; nullptr: no question
using ReplyCase = TableRow<std::string, const char*>;

class UpdateCheckReplyTest : public UpdateCheckTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(UpdateCheckReplyTest, AsksOnlyForANewerVersion)
{
    ASSERT_TRUE(m_service.setVersion(GetParam().input));

    const std::optional<std::string> question = RunAnswering(IDCANCEL);

    EXPECT_EQ(VersionRequests(), 1);
    EXPECT_EQ(GetSettings().LastUpdateCheck, kNow);
    if (GetParam().expected != nullptr) {
        EXPECT_EQ(question, "There is a new version of Tunelore plugin (" + std::string(GetParam().expected) +
                                "). Do you want to download it now?");
    } else {
        EXPECT_EQ(question, std::nullopt);
    }
    // "Later" leaves everything as it was.
    EXPECT_EQ(GetSettings().CheckUpdates, 1);
    EXPECT_TRUE(m_shell.opened.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Replies, UpdateCheckReplyTest,
    ::testing::Values(
        ReplyCase{"NewerMinor", "2.2", "v2.2"},
        ReplyCase{"MajorAloneIsMinorZero", "3", "v3.0"},
        ReplyCase{"SameVersion", "2.1", nullptr},
        ReplyCase{"SameMajorAlone", "2", nullptr},
        ReplyCase{"TrailingPoint", "2.", nullptr},
        ReplyCase{"OlderMajor", "1.9", nullptr},
        ReplyCase{"EmptyMajorKeepsOwn", ".7", "v2.7"},
        ReplyCase{"TrailingLineBreak", "2.5\n", "v2.5"},
        ReplyCase{"ThreeComponents", "2.1.3", nullptr},
        ReplyCase{"LettersOnly", "beta", nullptr},
        ReplyCase{"EmptyReply", "", nullptr},
        ReplyCase{"MajorPast32BitsKeepsOwn", "4294967298.5", "v2.5"},
        ReplyCase{"NegativeMajor", "-3.5", nullptr},
        ReplyCase{"LeadingWhiteSpace", "  3.1", "v3.1"}),
    RowName{});

// --- When it asks ------------------------------------------------------------------------

using SpacingCase = TableRow<std::int64_t, bool>;

class UpdateCheckSpacingTest : public UpdateCheckTest, public ::testing::WithParamInterface<SpacingCase> {};

TEST_P(UpdateCheckSpacingTest, AsksAtMostOnceADay)
{
    GetSettings().LastUpdateCheck = GetParam().input;

    EXPECT_EQ(RunAnswering(IDCANCEL), std::nullopt);

    EXPECT_EQ(VersionRequests(), GetParam().expected ? 1 : 0);
    EXPECT_EQ(GetSettings().LastUpdateCheck, GetParam().expected ? kNow : GetParam().input);
}

INSTANTIATE_TEST_SUITE_P(
    LastChecks, UpdateCheckSpacingTest,
    ::testing::Values(
        SpacingCase{"OneSecondLessThanADay", kNow - (kDay - 1), false},
        SpacingCase{"ExactlyADay", kNow - kDay, true},
        SpacingCase{"NeverCheckedBefore", 1, true},
        SpacingCase{"JustNow", kNow, false},
        SpacingCase{"InTheFuture", kNow + 1, false},
        SpacingCase{"LatestPossibleMoment", std::numeric_limits<std::int64_t>::max(), false},
        SpacingCase{"EarliestPossibleMoment", std::numeric_limits<std::int64_t>::min(), true}),
    RowName{});

TEST_F(UpdateCheckTest, SwitchedOffMakesNoRequestAndKeepsTheLastCheck)
{
    ASSERT_TRUE(m_service.setVersion("9.9"));
    GetSettings().CheckUpdates = 0;

    EXPECT_EQ(RunAnswering(IDCANCEL), std::nullopt);

    EXPECT_EQ(VersionRequests(), 0);
    EXPECT_EQ(GetSettings().LastUpdateCheck, kNow - 2 * kDay);
}

TEST_F(UpdateCheckTest, UnreachableServiceStillUsesUpTheDaysCheck)
{
    ASSERT_TRUE(m_proxy.pointAt(ClosedLoopbackPort()));

    EXPECT_EQ(RunAnswering(IDCANCEL), std::nullopt);

    EXPECT_EQ(GetSettings().LastUpdateCheck, kNow);
}

TEST_F(UpdateCheckTest, LastCheckIsSetBeforeTheRequestGoesOut)
{
    // The service holds its answer back, so the request is seen while the check still waits
    // for it; the check's thread is then blocked inside the exchange, after its last write.
    ASSERT_TRUE(m_service.scheduleNext(FieldMap{{"delay", "1"}}));
    std::atomic<std::int64_t> seenDuringRequest{0};
    std::atomic<bool> checkDone{false};
    // No budget of its own: it looks until the check is over, however slow the machine.
    std::thread watcher([this, &seenDuringRequest, &checkDone] {
        const LyricsServiceControl service(m_port);
        while (!checkDone) {
            std::vector<RecordedRequest> requests;
            if (service.requests(requests) && !requests.empty()) {
                if (!checkDone)
                    seenDuringRequest = GetSettings().LastUpdateCheck;
                return;
            }
            ::Sleep(20);
        }
    });

    RunAnswering(IDCANCEL);
    checkDone = true;
    watcher.join();

    EXPECT_EQ(seenDuringRequest.load(), kNow);
}

// --- The answers -------------------------------------------------------------------------

TEST_F(UpdateCheckTest, YesOpensTheDownloadPage)
{
    ASSERT_TRUE(m_service.setVersion("2.2"));

    ASSERT_NE(RunAnswering(IDOK), std::nullopt);

    const std::string page = LoadStringResource(IDS_DOWNLOAD_PAGE);
    ASSERT_GE(page.size(), 7u);
    EXPECT_EQ(page.substr(page.size() - 7), "/plugin");
    EXPECT_EQ(m_shell.opened, std::vector<std::string>{page});
    EXPECT_EQ(GetSettings().CheckUpdates, 1);
}

TEST_F(UpdateCheckTest, DontAskAgainSwitchesTheCheckOff)
{
    ASSERT_TRUE(m_service.setVersion("2.2"));

    ASSERT_NE(RunAnswering(IDC_DONT_ASK), std::nullopt);

    EXPECT_EQ(GetSettings().CheckUpdates, 0);
    EXPECT_TRUE(m_shell.opened.empty());
    EXPECT_EQ(GetSettings().LastUpdateCheck, kNow);
}

TEST_F(UpdateCheckTest, QuestionIsOwnedByTheGivenWindow)
{
    ASSERT_TRUE(m_service.setVersion("2.2"));
    const HWND parent =
        ::CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 0, 0, nullptr, nullptr, nullptr, nullptr);
    ASSERT_NE(parent, nullptr);
    HWND owner = nullptr;
    DialogDriver driver({[&] {
        const HWND dialog = FindDialog(kQuestionCaption);
        if (dialog == nullptr)
            return false;
        owner = ::GetWindow(dialog, GW_OWNER);
        PostClick(dialog, IDCANCEL);
        return true;
    }});

    RunUpdateCheck(parent, ModuleServiceEndpoint());
    ::DestroyWindow(parent);

    ASSERT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(owner, parent);
}

// --- Ticks while the question is open --------------------------------------------------

int g_clockReads = 0;
std::int64_t g_countingNow = kNow;

std::int64_t CountingClock()
{
    ++g_clockReads;
    return g_countingNow;
}

TEST_F(UpdateCheckTest, TicksArrivingWhileTheQuestionIsOpenStartNoSecondCheck)
{
    ASSERT_TRUE(m_service.setVersion("3.0"));
    const ServiceEndpoint endpoint = ModuleServiceEndpoint();
    CNotifierWnd window(ModuleInstance(), nullptr, &endpoint);
    ASSERT_NE(window.m_hWnd, nullptr);
    // A shown balloon makes every later tick read the clock once: that is how this test sees the
    // window's own ticks arrive inside the question's modal loop.
    GetSettings().BalloonTimeout = static_cast<std::int32_t>(10 * kDay);
    window.ShowFound("Rain Song", "http://lyrics.example/1", kNow - 100);
    g_countingNow = kNow;
    SetClockSource(&CountingClock);

    int readsAtOpen = -1;
    int mostQuestions = 0;
    DialogDriver driver(
        {[&] {
             if (FindDialog(kQuestionCaption) == nullptr)
                 return false;
             readsAtOpen = g_clockReads;
             // Days pass while the question waits: only the window's guard keeps a nested tick
             // from checking again.
             g_countingNow = kNow + 2 * kDay;
             return true;
         },
         [&] {
             mostQuestions = std::max(mostQuestions, CountDialogs(kQuestionCaption));
             return g_clockReads - readsAtOpen >= 2;
         },
         [&] {
             PostClick(FindDialog(kQuestionCaption), IDCANCEL);
             return true;
         }},
        15000);
    // The first tick starts the check, whose question runs a modal loop that keeps ticking.
    ::SendMessageA(window.m_hWnd, WM_TIMER, IDT_TICK, 0);

    EXPECT_TRUE(driver.Completed()) << driver.Outcome();
    EXPECT_EQ(mostQuestions, 1);
    EXPECT_EQ(VersionRequests(), 1);
}

}  // namespace
