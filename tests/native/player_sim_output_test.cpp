// What the player simulator shows: the tray as the shell keeps it, the JSON lines of its
// transcript, and the PNG of its screenshots.
#include "tools/player_sim/json_line.h"
#include "tools/player_sim/png_writer.h"
#include "tools/player_sim/tray_view.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;
using Kind = TrayChange::Kind;
using Message = TrayCall::Message;

constexpr std::uint32_t kIconAndTip = kTrayIconFlag | kTrayTipFlag;

TrayCall Call(Message message, std::uint32_t flags, TrayPicture picture = TrayPicture::None, std::string tip = {},
              std::string info = {}, std::string title = {})
{
    TrayCall call;
    call.message = message;
    call.flags = flags;
    call.picture = picture;
    call.tip = std::move(tip);
    call.info = std::move(info);
    call.infoTitle = std::move(title);
    return call;
}

std::vector<Kind> Kinds(const std::vector<TrayChange>& changes)
{
    std::vector<Kind> kinds;
    for (const TrayChange& change : changes)
        kinds.push_back(change.kind);
    return kinds;
}

class TrayViewTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::vector<TrayChange> added = m_tray.Apply(Call(Message::Add, kIconAndTip, TrayPicture::Idle, "Stopped"));
        ASSERT_EQ(Kinds(added), std::vector<Kind>{Kind::IconAdded});
        EXPECT_EQ(added[0].picture, TrayPicture::Idle);
        EXPECT_EQ(added[0].tip, "Stopped");
    }

    TrayView m_tray;
};

TEST_F(TrayViewTest, RepeatingWhatShowsChangesNothing)
{
    EXPECT_TRUE(m_tray.Apply(Call(Message::Modify, kIconAndTip, TrayPicture::Idle, "Stopped")).empty());
    // Removing a balloon that is not there shows nothing either.
    EXPECT_TRUE(m_tray.Apply(Call(Message::Modify, kTrayInfoFlag)).empty());
}

TEST_F(TrayViewTest, FieldsWithoutTheirFlagKeepWhatShows)
{
    const std::vector<TrayChange> changes = m_tray.Apply(Call(Message::Modify, kTrayIconFlag, TrayPicture::Found, "ignored"));
    ASSERT_EQ(Kinds(changes), std::vector<Kind>{Kind::IconChanged});
    EXPECT_EQ(changes[0].picture, TrayPicture::Found);
    EXPECT_EQ(changes[0].tip, "Stopped");
}

TEST_F(TrayViewTest, BalloonTextWaitsForItsFlagAndAnEmptyTextTakesItAway)
{
    // Prepared with the found state, as the plug-in does, but not yet shown.
    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Modify, kIconAndTip, TrayPicture::Found, "Lyrics found!",
                                      "Click here for lyrics", "Rain Song"))),
              std::vector<Kind>{Kind::IconChanged});
    EXPECT_FALSE(m_tray.BalloonShown());

    const std::vector<TrayChange> shown = m_tray.Apply(Call(Message::Modify, kIconAndTip | kTrayInfoFlag,
                                                            TrayPicture::Found, "Lyrics found!",
                                                            "Click here for lyrics", "Rain Song"));
    ASSERT_EQ(Kinds(shown), std::vector<Kind>{Kind::BalloonShown});
    EXPECT_EQ(shown[0].title, "Rain Song");
    EXPECT_EQ(shown[0].text, "Click here for lyrics");
    EXPECT_TRUE(m_tray.BalloonShown());

    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Modify, kTrayInfoFlag))), std::vector<Kind>{Kind::BalloonRemoved});
    EXPECT_FALSE(m_tray.BalloonShown());
    EXPECT_TRUE(m_tray.IconShown());
}

TEST_F(TrayViewTest, DeletingTakesTheBalloonWithTheIconAndLaterCallsAreRefused)
{
    m_tray.Apply(Call(Message::Modify, kTrayInfoFlag, TrayPicture::None, {}, "Click here for lyrics", "Rain Song"));
    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Delete, 0))),
              (std::vector<Kind>{Kind::BalloonRemoved, Kind::IconRemoved}));
    EXPECT_FALSE(m_tray.IconShown());
    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Modify, kIconAndTip, TrayPicture::Found, "x"))),
              std::vector<Kind>{Kind::Refused});
    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Delete, 0))), std::vector<Kind>{Kind::Refused});
}

TEST_F(TrayViewTest, SecondAddAndMissingRecordAreRefused)
{
    EXPECT_EQ(Kinds(m_tray.Apply(Call(Message::Add, kIconAndTip, TrayPicture::Found, "again"))),
              std::vector<Kind>{Kind::Refused});
    TrayCall noRecord = Call(Message::Modify, kIconAndTip, TrayPicture::Found, "x");
    noRecord.hasData = false;
    EXPECT_EQ(Kinds(m_tray.Apply(noRecord)), std::vector<Kind>{Kind::Refused});
    EXPECT_TRUE(m_tray.Apply(Call(Message::Other, kIconAndTip)).empty());
}

using QuoteCase = TableRow<std::string, std::string>;

class JsonQuoteTest : public ::testing::TestWithParam<QuoteCase> {};

TEST_P(JsonQuoteTest, GivesAValidJsonString)
{
    EXPECT_EQ(JsonQuote(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Texts, JsonQuoteTest,
    ::testing::Values(QuoteCase{"PlainText", "Rain Song", "\"Rain Song\""},
                      QuoteCase{"QuotesAndBackslashes", "C:\\x \"y\"", "\"C:\\\\x \\\"y\\\"\""},
                      QuoteCase{"LineBreaksAndTabs", "a\r\nb\tc", "\"a\\r\\nb\\tc\""},
                      QuoteCase{"OtherControlBytes", "a\x01"s "\x1F" "\0z"s, "\"a\\u0001\\u001F\\u0000z\""},
                      QuoteCase{"Utf8Kept", "Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5", "\"Caf\xC3\xA9 \xE2\x82\xAC \xF0\x9F\x8E\xB5\""},
                      QuoteCase{"LoneAnsiByteReplaced", "Caf\xE9!", "\"Caf\xEF\xBF\xBD!\""},
                      QuoteCase{"OverlongFormReplaced", "\xC0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\""},
                      QuoteCase{"SurrogateReplaced", "\xED\xA0\x80", "\"\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD\""},
                      QuoteCase{"CutSequenceReplaced", "x\xE2\x82", "\"x\xEF\xBF\xBD\xEF\xBF\xBD\""}),
    RowName{});

TEST(JsonLineTest, MembersKeepTheirOrderAndTypes)
{
    JsonLine head;
    head.Seconds("t", 1.23456).Str("event", "icon");
    JsonLine rest;
    rest.Int("polls", -3).Bool("shown", false).List("items", {"Quillmark Home", "----"}).List("none", {});
    EXPECT_EQ(head.Merge(rest).Merge(JsonLine()).Text(),
              "{\"t\":1.235,\"event\":\"icon\",\"polls\":-3,\"shown\":false,"
              "\"items\":[\"Quillmark Home\",\"----\"],\"none\":[]}");
    EXPECT_EQ(JsonLine().Text(), "{}");
}

// A PNG of one red pixel, as a reference encoder writes it with uncompressed deflate.
const std::string kOneRedPixel =
    "\x89PNG\r\n\x1A\n"
    "\x00\x00\x00\x0DIHDR\x00\x00\x00\x01\x00\x00\x00\x01\x08\x02\x00\x00\x00\x90\x77\x53\xDE"
    "\x00\x00\x00\x0FIDAT\x78\x01\x01\x04\x00\xFB\xFF\x00\xFF\x00\x00\x03\x01\x01\x00\x8D\x1D\xE5\x82"
    "\x00\x00\x00\x00IEND\xAE\x42\x60\x82"s;

TEST(PngWriterTest, OnePixelMatchesTheReferenceByteForByte)
{
    EXPECT_EQ(EncodePng(1, 1, {0xFF, 0x00, 0x00}), kOneRedPixel);
}

TEST(PngWriterTest, ImageLargerThanOneStoredBlockSplitsAndKeepsEveryRow)
{
    constexpr int kWidth = 200, kHeight = 120;
    std::vector<std::uint8_t> rgb;
    std::string rows;
    for (int y = 0; y < kHeight; ++y) {
        rows += '\0';
        for (int x = 0; x < kWidth; ++x) {
            for (int c = 0; c < 3; ++c) {
                rgb.push_back(static_cast<std::uint8_t>((x * 7 + y * 13 + c * 50) & 0xFF));
                rows += static_cast<char>(rgb.back());
            }
        }
    }
    const std::string png = EncodePng(kWidth, kHeight, rgb);
    // A reference encoder's file of this image has the same length: two stored blocks.
    ASSERT_EQ(png.size(), 72193u);

    // The zlib stream sits in the IDAT chunk after the 8-byte signature and the 25-byte IHDR.
    const std::size_t stream = 8 + 25 + 8;
    std::string inflated;
    std::size_t at = stream + 2;
    for (bool last = false; !last;) {
        last = (png[at] & 1) != 0;
        const std::size_t length = static_cast<std::uint8_t>(png[at + 1]) | static_cast<std::uint8_t>(png[at + 2]) << 8;
        const std::size_t complement =
            static_cast<std::uint8_t>(png[at + 3]) | static_cast<std::uint8_t>(png[at + 4]) << 8;
        ASSERT_EQ(length ^ complement, 0xFFFFu);
        inflated += png.substr(at + 5, length);
        at += 5 + length;
    }
    EXPECT_EQ(inflated, rows);
    // Adler-32 of the rows, as the reference computes it.
    EXPECT_EQ(png.substr(at, 4), "\xDF\x9B\x15\x35"s);
}

TEST(PngWriterTest, SizesThatDoNotMatchThePixelsGiveNothing)
{
    EXPECT_EQ(EncodePng(2, 1, {1, 2, 3}), "");
    EXPECT_EQ(EncodePng(0, 0, {}), "");
    EXPECT_EQ(EncodePng(-1, -1, {1, 2, 3}), "");
}

}  // namespace
