// The player simulator's playlist reader and command line: what a playlist's lines become, and
// which lines and arguments are refused with which reason.
#include "tools/player_sim/options.h"
#include "tools/player_sim/playlist.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

Playlist Parsed(const std::string& text)
{
    Playlist playlist;
    PlaylistError error;
    EXPECT_TRUE(ParsePlaylist(text, playlist, error)) << "line " << error.line << ": " << error.message;
    return playlist;
}

TEST(PlaylistTest, ItemKeepsItsTypeSourceAndAttributesByIndex)
{
    const Playlist playlist = Parsed(
        "# a comment\n"
        "item audio 8\n"
        "  source C:\\Music\\Night Drive\\07 Rain Song.mp3\n"
        "  attr 3 WM/Year = 1999\n"
        "  attr 0 Author = The Lanterns\n"
        "  attr 5 AlbumArtist =\n"
        "  attr 6 WM/Genre\n"
        "  attr 7 Title = \" Rain \"\n"
        "  attr 8 Note = a = b\n");
    ASSERT_EQ(playlist.steps.size(), 1u);
    const PlaylistStep& step = playlist.steps[0];
    EXPECT_EQ(step.kind, StepKind::Item);
    EXPECT_EQ(step.line, 2);
    EXPECT_EQ(step.seconds, 8);
    EXPECT_EQ(step.item.mediaType, "audio");
    EXPECT_EQ(step.item.source, "C:\\Music\\Night Drive\\07 Rain Song.mp3");

    const std::vector<PlaylistAttribute>& attributes = step.item.attributes;
    ASSERT_EQ(attributes.size(), 6u);
    // Sorted by index whatever the order of the lines; the gaps stay gaps.
    std::vector<int> indexes;
    for (const PlaylistAttribute& attribute : attributes)
        indexes.push_back(attribute.index);
    EXPECT_EQ(indexes, (std::vector<int>{0, 3, 5, 6, 7, 8}));
    EXPECT_EQ(attributes[0].value, "The Lanterns");
    EXPECT_EQ(attributes[2].value, "");             // present and empty
    EXPECT_EQ(attributes[3].value, std::nullopt);   // absent
    EXPECT_EQ(attributes[4].value, " Rain ");       // quotes keep the spaces
    EXPECT_EQ(attributes[5].value, "a = b");        // only the first "=" separates
    EXPECT_EQ(step.item.Attribute("Author"), "The Lanterns");
    EXPECT_EQ(step.item.Attribute("Missing"), "");
}

TEST(PlaylistTest, StepsOfPlayerAndUserInOrderWithTheirTotalTime)
{
    const Playlist playlist = Parsed(
        "\xEF\xBB\xBFitem - 1.5s\r\n"
        "pause 2\r\n"
        "resume 3\n"
        "repeat 0.25\n"
        "stop 1\n"
        "state Buffering 2\n"
        "wait 1\n"
        "click\n"
        "right-click\n"
        "double-click\n"
        "balloon-click\n"
        "menu Enable Balloon\n"
        "menu close\n"
        "properties\n"
        "answer \"Update found\" \"Don't Ask Again\"\n"
        "screenshot C:\\shots\\balloon one.png\n");
    const std::vector<StepKind> kinds = {
        StepKind::Item,      StepKind::Pause,       StepKind::Resume,     StepKind::Repeat, StepKind::Stop,
        StepKind::State,     StepKind::Wait,        StepKind::Click,      StepKind::RightClick,
        StepKind::DoubleClick, StepKind::BalloonClick, StepKind::Menu,    StepKind::Menu,   StepKind::Properties,
        StepKind::Answer,    StepKind::Screenshot,
    };
    ASSERT_EQ(playlist.steps.size(), kinds.size());
    for (std::size_t i = 0; i < kinds.size(); ++i)
        EXPECT_EQ(playlist.steps[i].kind, kinds[i]) << "step " << i;

    EXPECT_EQ(playlist.steps[0].item.mediaType, std::nullopt);  // "-": no media type at all
    EXPECT_EQ(playlist.steps[5].state, PlayState::Buffering);
    EXPECT_EQ(static_cast<int>(playlist.steps[5].state), 6);
    EXPECT_EQ(playlist.steps[11].choice, "Enable Balloon");
    EXPECT_EQ(playlist.steps[12].choice, "");  // close
    EXPECT_EQ(playlist.steps[14].caption, "Update found");
    EXPECT_EQ(playlist.steps[14].choice, "Don't Ask Again");
    EXPECT_EQ(playlist.steps[15].file, "C:\\shots\\balloon one.png");
    EXPECT_DOUBLE_EQ(playlist.Seconds(), 1.5 + 2 + 3 + 0.25 + 1 + 2 + 1);
}

struct BadLine {
    const char* name;
    const char* text;
    int line;
    const char* reason;  // a part of the message
};

class BadPlaylistTest : public ::testing::TestWithParam<BadLine> {};

TEST_P(BadPlaylistTest, IsRefusedAtItsLineWithAReason)
{
    Playlist playlist;
    PlaylistError error;
    ASSERT_FALSE(ParsePlaylist(GetParam().text, playlist, error));
    EXPECT_EQ(error.line, GetParam().line);
    EXPECT_NE(error.message.find(GetParam().reason), std::string::npos) << error.message;
}

const BadLine kBadLines[] = {
    {"UnknownStep", "wait 1\njump 2\n", 2, "unknown step"},
    {"SourceWithoutItem", "wait 1\nsource x\n", 2, "below an item"},
    {"AttributeAfterAnotherStep", "item audio 1\nwait 1\nattr 0 Title = x\n", 3, "below an item"},
    {"IndexUsedTwice", "item audio 1\nattr 1 Title = a\nattr 1 Author = b\n", 3, "used twice"},
    {"IndexNotANumber", "item audio 1\nattr one Title = a\n", 2, "index"},
    {"IndexTooHigh", "item audio 1\nattr 1001 Title = a\n", 2, "index"},
    {"AttributeWithoutName", "item audio 1\nattr 1\n", 2, "name"},
    {"SecondSource", "item audio 1\nsource a\nsource b\n", 3, "source already"},
    {"ItemWithoutDuration", "item audio\n", 1, "duration"},
    {"NegativeDuration", "wait -1\n", 1, "not a duration"},
    {"DurationWithExponent", "wait 1e3\n", 1, "not a duration"},
    {"DurationOverAnHour", "pause 3601\n", 1, "not a duration"},
    {"ResumeBeforeAnyItem", "pause 1\nresume 1\n", 2, "no item"},
    {"RepeatBeforeAnyItem", "repeat 1\n", 1, "no item"},
    {"UnknownPlayState", "state sleeping 1\n", 1, "unknown play state"},
    {"AnswerWithoutButton", "answer \"Update found\"\n", 1, "button"},
    {"UnclosedQuote", "answer \"Update found Later\n", 1, "caption"},
    {"ExtraWords", "pause 2 please\n", 1, "unexpected"},
    {"ClickWithArgument", "click twice\n", 1, "unexpected"},
    {"MenuWithoutItem", "menu\n", 1, "menu item"},
    {"ScreenshotWithoutFile", "screenshot\n", 1, "file name"},
};

INSTANTIATE_TEST_SUITE_P(Lines, BadPlaylistTest, ::testing::ValuesIn(kBadLines),
                         RowName{});

TEST(SimulatorOptionsTest, EveryOptionIsRead)
{
    SimulatorOptions options;
    std::string error;
    ASSERT_TRUE(ParseOptions({"--dll", "Z:\\b\\Tunelore-WMP.dll", "--clsid", "{921BC298-60F8-4557-A01D-ECEE7CC020A1}",
                              "--json", "t.jsonl", "--screenshot", "s.png", "--open-for-real", "--quiet",
                              "--time-limit", "12.5", "list.txt"},
                             options, error))
        << error;
    EXPECT_EQ(options.playlist, "list.txt");
    EXPECT_EQ(options.dllPath, "Z:\\b\\Tunelore-WMP.dll");
    EXPECT_EQ(options.classId, "{921BC298-60F8-4557-A01D-ECEE7CC020A1}");
    EXPECT_EQ(options.jsonPath, "t.jsonl");
    EXPECT_EQ(options.screenshotPath, "s.png");
    EXPECT_TRUE(options.openForReal);
    EXPECT_TRUE(options.quiet);
    EXPECT_EQ(options.timeLimitSeconds, 12.5);

    // By default nothing is handed to the shell and the registered plug-in is loaded.
    ASSERT_TRUE(ParseOptions({"list.txt"}, options, error));
    EXPECT_FALSE(options.openForReal);
    EXPECT_FALSE(options.dllPath);
    EXPECT_TRUE(ParseOptions({"--help"}, options, error));
    EXPECT_TRUE(options.help);
}

struct BadArguments {
    const char* name;
    std::vector<std::string> arguments;
};

class BadOptionsTest : public ::testing::TestWithParam<BadArguments> {};

TEST_P(BadOptionsTest, AreRefusedWithAMessage)
{
    SimulatorOptions options;
    std::string error;
    EXPECT_FALSE(ParseOptions(GetParam().arguments, options, error));
    EXPECT_FALSE(error.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Arguments, BadOptionsTest,
    ::testing::Values(BadArguments{"NoPlaylist", {"--quiet"}}, BadArguments{"TwoPlaylists", {"a.txt", "b.txt"}},
                      BadArguments{"UnknownOption", {"--fast", "a.txt"}},
                      BadArguments{"OptionWithoutValue", {"a.txt", "--json"}},
                      BadArguments{"ClassIdWithoutBraces", {"--clsid", "921BC298-60F8-4557-A01D-ECEE7CC020A1", "a.txt"}},
                      BadArguments{"ClassIdWithBadDigit", {"--clsid", "{921BC298-60F8-4557-A01D-ECEE7CC020AZ}", "a.txt"}},
                      BadArguments{"TimeLimitZero", {"--time-limit", "0", "a.txt"}},
                      BadArguments{"TimeLimitNotANumber", {"--time-limit", "soon", "a.txt"}}),
    RowName{});

}  // namespace
