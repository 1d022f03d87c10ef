// Form encoding of requests and the lenient reading of replies, byte for byte.
#include "net/field_map.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

namespace {

using EscapeCase = TableRow<std::string, std::string>;

class EncodeFormComponentTest : public ::testing::TestWithParam<EscapeCase> {};

TEST_P(EncodeFormComponentTest, EscapesEveryByteAsTheServiceExpects)
{
    EXPECT_EQ(encodeFormComponent(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Bytes, EncodeFormComponentTest,
    ::testing::Values(
        EscapeCase{"SlashAmpersandAndSpaces", "Rock/Pop & Me", "Rock%2FPop+%26+Me"},
        EscapeCase{"DotIsEscaped", "07 Rain Song.mp3", "07+Rain+Song%2Emp3"},
        EscapeCase{"HighByteUsesUpperCaseHex", "\xE9", "%E9"},
        EscapeCase{"EveryWhiteSpaceBecomesPlus", "a\tb\nc\vd\fe\rf g", "a+b+c+d+e+f+g"},
        EscapeCase{"UnreservedPunctuationIsEscaped", "-._~*", "%2D%2E%5F%7E%2A"},
        EscapeCase{"ZeroAndTopBytes", std::string("\x00\xFF\x7F", 3), "%00%FF%7F"},
        EscapeCase{"LettersAndDigitsPass", "AZaz09", "AZaz09"},
        EscapeCase{"PlusAndPercentAreEscaped", "+%", "%2B%25"},
        EscapeCase{"EmptyStaysEmpty", "", ""}),
    RowName{});

TEST(EncodeFormComponent, OnlyLettersAndDigitsPassUnescaped)
{
    int passed = 0;
    for (int byte = 0; byte < 256; ++byte) {
        const std::string encoded = encodeFormComponent(std::string(1, static_cast<char>(byte)));
        if (encoded.size() == 1 && encoded != "+")
            ++passed;
        else
            EXPECT_TRUE(encoded == "+" || (encoded.size() == 3 && encoded[0] == '%')) << byte;
    }
    EXPECT_EQ(passed, 62);
}

FieldMap requestFor(const char* title, const char* artist, const char* track, const char* album,
                    const char* year, const char* genre, const char* filename)
{
    FieldMap request;
    request["title"] = title;
    request["artist"] = artist;
    request["track"] = track;
    request["album"] = album;
    request["year"] = year;
    request["genre"] = genre;
    request["filename"] = filename;
    return request;
}

TEST(EncodeForm, FullRequestListsPairsInKeyOrder)
{
    const FieldMap request = requestFor("Rain Song", "The Lanterns", "7", "Night Drive!", "1999", "Pop",
                                        "07 Rain Song.mp3");
    EXPECT_EQ(encodeForm(request),
              "album=Night+Drive%21&artist=The+Lanterns&filename=07+Rain+Song%2Emp3&genre=Pop"
              "&title=Rain+Song&track=7&year=1999");
}

TEST(EncodeForm, EmptyValuesAreStillWritten)
{
    EXPECT_EQ(encodeForm(requestFor("", "", "", "", "", "", "")),
              "album=&artist=&filename=&genre=&title=&track=&year=");
}

TEST(EncodeForm, EmptyMapEncodesToNothing)
{
    EXPECT_EQ(encodeForm(FieldMap()), "");
}

TEST(EncodeForm, KeysOrderAsUnsignedBytesWithPrefixesFirst)
{
    FieldMap fields;
    fields["\xE9t\xE9"] = "1";
    fields["zz"] = "2";
    fields["z"] = "3";
    fields["Z"] = "4";
    EXPECT_EQ(encodeForm(fields), "Z=4&z=3&zz=2&%E9t%E9=1");
}

TEST(FieldMapSubscript, AbsentKeyReadsEmptyAndIsInserted)
{
    FieldMap reply;
    EXPECT_EQ(reply["title"], "");
    EXPECT_EQ(reply.size(), 1u);
    reply["title"] = "A";
    reply["title"] = "B";
    EXPECT_EQ(reply["title"], "B");
}

using ReplyCase = TableRow<std::string, FieldMap>;

class ParseReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(ParseReplyTest, ReadsFlatElementsOnly)
{
    EXPECT_EQ(parseReply(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Shapes, ParseReplyTest,
    ::testing::Values(
        ReplyCase{"EmptyReply", "", {}},
        ReplyCase{"TitleAndUrlOnTwoLines", "<title>Rain Song</title>\n<url>http://x/1</url>",
                  {{"title", "Rain Song"}, {"url", "http://x/1"}}},
        ReplyCase{"SpacesAroundTitleKept", "<title> Rain </title>", {{"title", " Rain "}}},
        ReplyCase{"CharacterReferenceUndecoded", "<title>Salt &amp; Pepper</title>",
                  {{"title", "Salt &amp; Pepper"}}},
        ReplyCase{"UpperCaseClosingTagGivesNothing", "<title>Rain</TITLE>", {}},
        ReplyCase{"SecondTitleWins", "<title>One</title><title>Two</title>", {{"title", "Two"}}},
        ReplyCase{"NestedElementLosesTitle", "<title>a<b>c</b>d</title><url>u</url>", {{"url", "u"}}},
        ReplyCase{"LeadingDeclarationLosesFirstElement",
                  "<?xml version=\"1.0\"?><title>T</title><url>U</url>", {{"url", "U"}}},
        ReplyCase{"WrappingElementLosesFirstInnerElement",
                  "<reply><title>T</title><url>U</url></reply>", {{"url", "U"}}},
        ReplyCase{"TruncatedElementDropped", "<title>T</title><url>http://x", {{"title", "T"}}},
        ReplyCase{"TruncatedInsideClosingTag", "<title>T</title><url>U</ur", {{"title", "T"}}},
        ReplyCase{"TextAroundElementsIgnored", "junk <title>T</title> more junk", {{"title", "T"}}},
        ReplyCase{"AttributesBelongToTheName", "<title lang=en>T</title>", {}},
        ReplyCase{"EmptyTitleIsKept", "<title></title><url>U</url>", {{"title", ""}, {"url", "U"}}},
        ReplyCase{"EmptyTagNameIsAKey", "<>v</>", {{"", "v"}}},
        ReplyCase{"ClosingTagFirstFails", "</title>T<title>", {}},
        ReplyCase{"LoneAngleBracketAtEnd", "<", {}},
        ReplyCase{"HighBytesPassThrough", "<title>Caf\xE9</title>", {{"title", "Caf\xE9"}}}),
    RowName{});

TEST(ReadTag, ReportsClosingFlagAndCollectsTextBeforeTheTag)
{
    const std::string text = "abc</x y>rest";
    ReplyReader reader(text);
    std::string name;
    std::string before;
    bool closing = false;
    ASSERT_TRUE(readTag(reader, name, closing, before));
    EXPECT_TRUE(closing);
    EXPECT_EQ(name, "x y");
    EXPECT_EQ(before, "abc");
    EXPECT_FALSE(reader.atEnd());
}

TEST(ReplyReader, EndIsRaisedByAReadPastTheLastByteNotByTakingIt)
{
    const std::string text = "a";
    ReplyReader reader(text);
    char c = 0;
    ASSERT_TRUE(reader.read(c));
    EXPECT_EQ(c, 'a');
    EXPECT_FALSE(reader.atEnd());
    EXPECT_FALSE(reader.read(c));
    EXPECT_TRUE(reader.atEnd());
}

}  // namespace
