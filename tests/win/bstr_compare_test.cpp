// The capture's text comparison gives the OLE comparison's answer on every pair, both ways
// round: where it answers by itself and where it has to ask.
#include "framework/bstr_compare.h"
#include "framework/unique_handle.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdio>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace std::string_literals;

// nullopt stands for an absent text.
using Text = std::optional<std::wstring>;

unique_bstr Make(const Text& text)
{
    if (!text)
        return unique_bstr();
    return unique_bstr(::SysAllocStringLen(text->data(), static_cast<UINT>(text->size())));
}

bool OleEquals(BSTR left, BSTR right)
{
    return ::VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}

std::string Show(const Text& text)
{
    if (!text)
        return "(absent)";
    std::string shown = "\"";
    for (wchar_t c : *text) {
        if (c >= 0x20 && c < 0x7f) {
            shown += static_cast<char>(c);
        } else {
            char escape[12];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            shown += escape;
        }
    }
    return shown + "\"";
}

// Both orders; returns whether the OLE comparison found the pair equal.
bool ExpectSameAnswer(const Text& left, const Text& right)
{
    const unique_bstr a = Make(left);
    const unique_bstr b = Make(right);
    const bool expected = OleEquals(a.get(), b.get());
    EXPECT_EQ(BstrEquals(a.get(), b.get()), expected) << Show(left) << " vs " << Show(right);
    EXPECT_EQ(BstrEquals(b.get(), a.get()), OleEquals(b.get(), a.get())) << Show(right) << " vs " << Show(left);
    return expected;
}

struct Pair {
    Text left;
    Text right;
};

const std::vector<Pair> kPairs = {
    // Identical, absent and empty.
    {L"Title", L"Title"},
    {std::nullopt, std::nullopt},
    {std::nullopt, L""},
    {L"", L""},
    {std::nullopt, L"Title"},
    {L"", L"Title"},
    // Case, and the names the capture looks for beside their near misses.
    {L"Title", L"title"},
    {L"audio", L"AUDIO"},
    {L"Author", L"AlbumArtist"},
    {L"WM/Year", L"WM/year"},
    {L"WM/Year", L"WMYear"},
    {L"WM/Year", L"WM\\Year"},
    {L"WM/TrackNumber", L"WM/TrackNumber2"},
    {L"Title", L"Title "},
    {L"Title", L" Title"},
    // Hyphens and apostrophes, which word sort weighs lightly.
    {L"co-op", L"coop"},
    {L"WM-Year", L"WMYear"},
    {L"Title-", L"Title"},
    {L"-", L""},
    {L"it's", L"its"},
    {L"'", L""},
    // Characters a collation may ignore outright.
    {L"Ti\u00adtle", L"Title"},
    {L"Title\u200b", L"Title"},
    {L"\ufeffTitle", L"Title"},
    {L"Ti\u0001tle", L"Title"},
    {L"\u0301", L""},
    // Non-ASCII: accents, composition, width, ligatures, other scripts.
    {L"Bj\u00f6rk", L"Bjork"},
    {L"Bj\u00f6rk", L"Bjo\u0308rk"},
    {L"caf\u00e9", L"CAF\u00c9"},
    {L"\uff34itle", L"Title"},
    {L"\u00e6", L"ae"},
    {L"stra\u00dfe", L"strasse"},
    {L"\u30ab", L"\uff76"},
    {L"\u0391\u03c5\u03b4\u03b9\u03bf", L"audio"},
    // Embedded and leading zeros: the whole string is compared, but a string starting with
    // one may count as empty.
    {L"audio\0video"s, L"audio"},
    {L"a\0b"s, L"a\0c"s},
    {L"a\0b"s, L"a\0b"s},
    {L"\0abc"s, L""},
    {L"\0abc"s, std::nullopt},
    {L"\0abc"s, L"\0xyz"s},
    {L"Title\0"s, L"Title"},
};

TEST(BstrEqualsTest, AgreesWithTheOleComparisonOnTheTable)
{
    int equalButDifferent = 0;
    for (const Pair& pair : kPairs) {
        if (ExpectSameAnswer(pair.left, pair.right) && pair.left.value_or(L"") != pair.right.value_or(L""))
            ++equalButDifferent;
    }
    // The table reaches the locale's rules: some texts that differ compare equal.
    EXPECT_GT(equalButDifferent, 0);
}

// Every pair of single plain characters and every case and one-character change of the names
// the capture compares: the answer the comparison gives without asking holds for them all.
TEST(BstrEqualsTest, PlainTextsThatDifferAreUnequal)
{
    std::wstring plain = L"/";
    for (wchar_t c = L'0'; c <= L'9'; ++c)
        plain += c;
    for (wchar_t c = L'A'; c <= L'Z'; ++c)
        plain += c, plain += static_cast<wchar_t>(c - L'A' + L'a');

    for (wchar_t a : plain) {
        for (wchar_t b : plain)
            ExpectSameAnswer(std::wstring(1, a), std::wstring(1, b));
    }
    for (const wchar_t* name : {L"Author", L"Title", L"AlbumArtist", L"WM/AlbumTitle", L"WM/Year",
                                L"WM/TrackNumber", L"WM/Genre", L"MediaType", L"audio", L"radio"}) {
        const std::wstring base = name;
        for (std::size_t at = 0; at < base.size(); ++at) {
            for (wchar_t c : plain) {
                std::wstring changed = base;
                changed[at] = c;
                ExpectSameAnswer(base, changed);
            }
            ExpectSameAnswer(base, base.substr(0, at) + base.substr(at + 1));
        }
    }
}

// The scan that settles most answers without the OLE call, against the rule it implements:
// every character code at every position of texts as long as the names, among plain ones.
TEST(BstrEqualsTest, PlainScanAgreesWithItsRuleForEveryCharacter)
{
    const auto rule = [](unsigned c) {
        return c < 128 && (std::isalnum(static_cast<int>(c)) != 0 || c == '/');
    };
    int plainCodes = 0;
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        const bool plain = rule(c);
        plainCodes += plain;
        for (UINT length = 1; length <= 9; ++length) {
            for (UINT at = 0; at < length; ++at) {
                std::wstring text(length, L'Z');
                text[at] = static_cast<wchar_t>(c);
                ASSERT_EQ(bstr_compare_detail::IsPlain(text.data(), length), plain)
                    << "code " << c << " at " << at << " of " << length;
            }
        }
    }
    EXPECT_EQ(plainCodes, 63);
    EXPECT_TRUE(bstr_compare_detail::IsPlain(nullptr, 0));
}

}  // namespace
