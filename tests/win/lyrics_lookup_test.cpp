// The lookup object: the request it builds from a captured item, and the outcome it shows for
// each kind of reply, through the real exchange against the reference service.
#include "lookup/lyrics_lookup.h"
#include "notifier/notifier_wnd.h"
#include "plugin/plugin_app.h"
#include "res/resource.h"
#include "framework/module.h"
#include "tests/win/lyrics_service_client.h"
#include "tests/win/shell_recorder.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <memory>
#include <ostream>
#include <string>

namespace {

using FileNameCase = TableRow<std::string, std::string>;

class BuildRequestFileNameTest : public ::testing::TestWithParam<FileNameCase> {};

TEST_P(BuildRequestFileNameTest, PathsAreReducedToTheirFileNameAndUrlsKeptWhole)
{
    Track track;
    track.sourceUrl = GetParam().input;
    EXPECT_EQ(LyricsLookup::buildRequest(track)["filename"], GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Sources, BuildRequestFileNameTest,
    ::testing::Values(
        FileNameCase{"DriveLetterPath", "C:\\Music\\07 Rain Song.mp3", "07 Rain Song.mp3"},
        FileNameCase{"NetworkSharePath", "\\\\server\\share\\Music\\song.wma", "song.wma"},
        FileNameCase{"ForwardSlashes", "C:/Music/Live/song.mp3", "song.mp3"},
        FileNameCase{"BareFileName", "song.mp3", "song.mp3"},
        FileNameCase{"Empty", "", ""},
        FileNameCase{"HttpStream", "http://radio.example/stream?id=7", "http://radio.example/stream?id=7"},
        FileNameCase{"OtherScheme", "mms://media.example/live/rain.asf", "mms://media.example/live/rain.asf"},
        FileNameCase{"FileUrl", "file:///C:/Music/song.mp3", "file:///C:/Music/song.mp3"},
        // Cut to 259 bytes first: the directory separator after them is never seen.
        FileNameCase{"LongerThanThePathLimit", "C:\\" + std::string(300, 'a') + "\\song.mp3", std::string(256, 'a')},
        FileNameCase{"FileNameEndsAtTheLimit", "C:\\" + std::string(240, 'd') + "\\" + std::string(15, 'f'),
                     std::string(15, 'f')}),
    RowName{});

TEST(BuildRequest, SendsAllSevenFieldsFromTheirTrackFields)
{
    Track track{"Rain Song", "The Lanterns", "7", "Night Drive!", "1999", "Pop", "C:\\Music\\07 Rain Song.mp3"};
    const FieldMap expected = {{"title", "Rain Song"}, {"artist", "The Lanterns"}, {"track", "7"},
                               {"album", "Night Drive!"}, {"year", "1999"}, {"genre", "Pop"},
                               {"filename", "07 Rain Song.mp3"}};
    EXPECT_EQ(LyricsLookup::buildRequest(track), expected);
    EXPECT_EQ(LyricsLookup::buildRequest(Track{}).size(), 7u);
}

class LookUpTest : public ShellAndClockTest {
protected:
    void SetUp() override
    {
        ShellAndClockTest::SetUp();
        m_port = LyricsServicePort();
        ASSERT_NE(m_port, 0) << "the reference service is not running";
        ASSERT_TRUE(m_proxy.pointAt(m_port));
        m_service = std::make_unique<LyricsServiceControl>(m_port);
        ASSERT_TRUE(m_service->reset());
        m_lookup = std::make_unique<LyricsLookup>(ModuleInstance(), ModuleServiceEndpoint());
    }

    void TearDown() override
    {
        m_lookup.reset();
        ShellAndClockTest::TearDown();
    }

    const NotifyIconCall& LastModify() const
    {
        for (auto call = m_shell.notifications.rbegin(); call != m_shell.notifications.rend(); ++call) {
            if (call->message == NIM_MODIFY && (call->uFlags & NIF_TIP))
                return *call;
        }
        static const NotifyIconCall none{};
        return none;
    }

    // What a double-click on the icon hands the shell.
    std::vector<std::string> DoubleClick()
    {
        m_shell.opened.clear();
        ::SendMessageA(m_lookup->Window().m_hWnd, WM_NOTIFYICON, 0, WM_LBUTTONDBLCLK);
        return m_shell.opened;
    }

    void AnswerNextWith(const std::string& body) { ASSERT_TRUE(m_service->scheduleNext({{"body", body}})); }

    int m_port = 0;
    ProxyScope m_proxy;
    std::unique_ptr<LyricsServiceControl> m_service;
    std::unique_ptr<LyricsLookup> m_lookup;
};

TEST_F(LookUpTest, FoundSongShowsFoundStateAndPostsItsFields)
{
    m_lookup->lookUp(Track{"Rain Song", "The Lanterns", "7", "Night Drive!", "1999", "Pop",
                           "C:\\Music\\07 Rain Song.mp3"});

    std::vector<RecordedRequest> requests;
    ASSERT_TRUE(m_service->requests(requests));
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_EQ(requests[0].body,
              std::string("album=Night+Drive%21&artist=The+Lanterns&filename=07+Rain+Song%2Emp3&genre=Pop"
                          "&title=Rain+Song&track=7&year=1999") +
                  '\0');

    const NotifyIconCall& shown = LastModify();
    EXPECT_EQ(shown.szTip, LoadStringResource(IDS_LYRICS_FOUND));
    EXPECT_EQ(shown.szInfoTitle, "Rain Song");
    ASSERT_EQ(DoubleClick().size(), 1u);
    EXPECT_NE(m_shell.opened[0].find("/lyrics/rain-song"), std::string::npos) << m_shell.opened[0];
}

TEST_F(LookUpTest, UnknownSongShowsNotFoundWithTheSearchPage)
{
    m_lookup->lookUp(Track{"Unheard Tune", "Nobody", "", "", "", "", ""});
    EXPECT_EQ(LastModify().szTip, "Lyrics not found");
    // The not-found answer's url is still the page a double-click opens.
    ASSERT_EQ(DoubleClick().size(), 1u);
    EXPECT_EQ(m_shell.opened[0].rfind("http://", 0), 0u) << m_shell.opened[0];
}

struct ReplyCase {
    const char* name;
    std::string reply;
    const char* tip;
    std::string opened;  // "" when a double-click opens nothing
};

class LookUpReplyTest : public LookUpTest, public ::testing::WithParamInterface<ReplyCase> {};

TEST_P(LookUpReplyTest, TitleDecidesAndUrlIsKept)
{
    AnswerNextWith(GetParam().reply);
    m_lookup->lookUp(Track{"Rain Song", "The Lanterns", "", "", "", "", ""});
    EXPECT_EQ(LastModify().szTip, GetParam().tip);
    const std::vector<std::string> opened = DoubleClick();
    if (GetParam().opened.empty())
        EXPECT_TRUE(opened.empty());
    else
        EXPECT_EQ(opened, std::vector<std::string>{GetParam().opened});
}

INSTANTIATE_TEST_SUITE_P(
    Replies, LookUpReplyTest,
    ::testing::Values(
        ReplyCase{"UrlWithEmptyTitle", "<title></title><url>http://x.example/search</url>", "Lyrics not found",
                  "http://x.example/search"},
        ReplyCase{"UrlWithoutTitle", "<url>http://x.example/search</url>", "Lyrics not found",
                  "http://x.example/search"},
        ReplyCase{"TitleWithoutUrl", "<title>Rain Song</title>", "Lyrics found! Doubleclick to view", ""},
        ReplyCase{"SingleSpaceTitleCountsAsFound", "<title> </title><url>http://x.example/l</url>",
                  "Lyrics found! Doubleclick to view", "http://x.example/l"},
        ReplyCase{"GarbledReply", "<<<>>>not a reply</title", "Lyrics not found", ""}),
    RowName{});

TEST_F(LookUpTest, FailedExchangeShowsNotFoundWithNoAddress)
{
    ASSERT_TRUE(m_proxy.pointAt(ClosedLoopbackPort()));
    m_lookup->lookUp(Track{"Rain Song", "The Lanterns", "", "", "", "", ""});
    EXPECT_EQ(LastModify().szTip, "Lyrics not found");
    EXPECT_TRUE(DoubleClick().empty());
}

TEST_F(LookUpTest, StopAfterAFoundLookupKeepsItsPage)
{
    m_lookup->lookUp(Track{"Rain Song", "The Lanterns", "", "", "", "", ""});
    const std::vector<std::string> found = DoubleClick();
    ASSERT_EQ(found.size(), 1u);
    m_lookup->playbackStopped();
    EXPECT_EQ(LastModify().szTip, "Stopped");
    EXPECT_EQ(DoubleClick(), found);
}

}  // namespace
