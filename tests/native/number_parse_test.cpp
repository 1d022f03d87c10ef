// The leading-integer reader: what counts as a number, where it stops, and that a failure
// leaves the caller's value alone.
#include "framework/number_parse.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

namespace {

constexpr std::int32_t kUntouched = 12345;

// expected: nullopt: no number, the value stays untouched
using ParseCase = TableRow<std::string, std::optional<std::int32_t>>;

class ParseLeadingInt32Test : public ::testing::TestWithParam<ParseCase> {};

TEST_P(ParseLeadingInt32Test, ReadsTheLeadingNumberOrLeavesTheValue)
{
    std::int32_t value = kUntouched;
    const bool parsed = ParseLeadingInt32(GetParam().input, value);

    EXPECT_EQ(parsed, GetParam().expected.has_value());
    EXPECT_EQ(value, GetParam().expected.value_or(kUntouched));
}

INSTANTIATE_TEST_SUITE_P(
    Texts, ParseLeadingInt32Test,
    ::testing::Values(
        ParseCase{"PlainNumber", "42", 42},
        ParseCase{"Zero", "0", 0},
        ParseCase{"LeadingZeros", "007", 7},
        ParseCase{"PlusSign", "+9", 9},
        ParseCase{"MinusSign", "-7", -7},
        ParseCase{"MinusZero", "-0", 0},
        ParseCase{"EveryAsciiWhiteSpaceIsSkipped", " \t\n\v\f\r15", 15},
        ParseCase{"TrailingTextIsIgnored", "12abc", 12},
        ParseCase{"StopsAtSecondNumber", "1 2", 1},
        ParseCase{"StopsAtPoint", "1.3", 1},
        ParseCase{"HexPrefixReadsAsZero", "0x10", 0},
        ParseCase{"TrailingLineBreak", "5\n", 5},
        ParseCase{"LargestInt32", "2147483647", 2147483647},
        ParseCase{"SmallestInt32", "-2147483648", INT32_MIN},
        ParseCase{"OnePastLargestFails", "2147483648", std::nullopt},
        ParseCase{"OnePastSmallestFails", "-2147483649", std::nullopt},
        ParseCase{"FarPast64BitsFails", "999999999999999999999999999999", std::nullopt},
        ParseCase{"OverflowAfterLeadingZerosFails", "0000000000004294967296", std::nullopt},
        ParseCase{"EmptyFails", "", std::nullopt},
        ParseCase{"OnlyWhiteSpaceFails", "   ", std::nullopt},
        ParseCase{"LettersFail", "abc", std::nullopt},
        ParseCase{"LoneSignFails", "-", std::nullopt},
        ParseCase{"DoubleSignFails", "+-1", std::nullopt},
        ParseCase{"WhiteSpaceAfterSignFails", "- 1", std::nullopt},
        ParseCase{"NonBreakingSpaceIsNotWhiteSpace", "\xA0" "5", std::nullopt},
        ParseCase{"ZeroByteStops", std::string("7\0" "9", 3), 7},
        ParseCase{"LeadingZeroByteFails", std::string("\0" "9", 2), std::nullopt}),
    RowName{});

}  // namespace
