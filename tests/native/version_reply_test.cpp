// The update check's arithmetic: the service's reply read against the module's own version
// (2, 1), the comparison, and the question's text.
#include "settings/version_reply.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

constexpr VersionPair kOwn{2, 1};

struct ReplyCase {
    const char* name;
    std::string reply;
    VersionPair offered;
    bool newer;
};

class VersionReplyTest : public ::testing::TestWithParam<ReplyCase> {};

TEST_P(VersionReplyTest, ReadsThePairAndComparesItWithOwn)
{
    const VersionPair offered = ParseVersionReply(GetParam().reply, kOwn);

    EXPECT_EQ(offered.major, GetParam().offered.major);
    EXPECT_EQ(offered.minor, GetParam().offered.minor);
    EXPECT_EQ(IsNewerVersion(offered, kOwn), GetParam().newer);
}

INSTANTIATE_TEST_SUITE_P(
    Replies, VersionReplyTest,
    ::testing::Values(
        ReplyCase{"NewerMinor", "2.2", {2, 2}, true},
        ReplyCase{"MajorAloneMeansMinorZero", "3", {3, 0}, true},
        ReplyCase{"SameVersion", "2.1", {2, 1}, false},
        ReplyCase{"SameMajorAloneIsOlder", "2", {2, 0}, false},
        ReplyCase{"TrailingPointMeansMinorZero", "2.", {2, 0}, false},
        ReplyCase{"OlderMajorWithLargerMinor", "1.9", {1, 9}, false},
        ReplyCase{"EmptyMajorKeepsOwn", ".7", {2, 7}, true},
        ReplyCase{"TrailingLineBreakIgnored", "2.5\n", {2, 5}, true},
        ReplyCase{"SecondPointEndsTheMinor", "2.1.3", {2, 1}, false},
        ReplyCase{"LettersKeepOwnMajorAndMinorIsZero", "abc", {2, 0}, false},
        ReplyCase{"LettersAfterPointKeepOwnMinor", "3.beta", {3, 1}, true},
        ReplyCase{"EmptyReplyKeepsMajorAndMinorIsZero", "", {2, 0}, false},
        ReplyCase{"MajorPast32BitsKeepsOwn", "99999999999.5", {2, 5}, true},
        ReplyCase{"MinorPast32BitsKeepsOwn", "2.4294967297", {2, 1}, false},
        ReplyCase{"NegativeMajorIsOlder", "-3.5", {-3, 5}, false},
        ReplyCase{"NegativeMinorIsOlder", "2.-1", {2, -1}, false},
        ReplyCase{"LeadingWhiteSpaceSkipped", " \t3.1", {3, 1}, true},
        ReplyCase{"WhiteSpaceAroundPointSkipped", "2 . 4", {2, 4}, true},
        ReplyCase{"ExplicitPlusSigns", "+2.+4", {2, 4}, true},
        ReplyCase{"ErrorPageKeepsOwn", "<html><body>Not found</body></html>", {2, 0}, false}),
    RowName{});

TEST(IsNewerVersion, MajorDecidesBeforeMinor)
{
    EXPECT_TRUE(IsNewerVersion({3, 0}, {2, 9}));
    EXPECT_FALSE(IsNewerVersion({2, 9}, {3, 0}));
    EXPECT_TRUE(IsNewerVersion({-1, 0}, {-2, 5}));
    EXPECT_FALSE(IsNewerVersion({2, 1}, {2, 1}));
}

using QuestionCase = TableRow<VersionPair, const char*>;

class NewVersionQuestionTest : public ::testing::TestWithParam<QuestionCase> {};

TEST_P(NewVersionQuestionTest, NamesTheOfferedVersion)
{
    EXPECT_EQ(NewVersionQuestion(GetParam().input), GetParam().expected);
}

INSTANTIATE_TEST_SUITE_P(
    Versions, NewVersionQuestionTest,
    ::testing::Values(
        QuestionCase{"Ordinary", {2, 2},
                     "There is a new version of Tunelore plugin (v2.2). Do you want to download it now?"},
        QuestionCase{"NoGroupingOfLargeNumbers", {2147483647, 10000},
                     "There is a new version of Tunelore plugin (v2147483647.10000). Do you want to download "
                     "it now?"},
        QuestionCase{"NegativesKeepTheirSign", {-2147483647 - 1, -3},
                     "There is a new version of Tunelore plugin (v-2147483648.-3). Do you want to download "
                     "it now?"}),
    RowName{});

}  // namespace
