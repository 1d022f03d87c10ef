// Which addresses from the lyrics service may reach the shell: web pages only, in any letter
// case of their scheme, and nothing that could end the address on a command line.
#include "notifier/safe_address.h"
#include "tests/table_row.h"

#include <gtest/gtest.h>

#include <ostream>
#include <string>

namespace {

using AddressCase = TableRow<std::string, bool>;

class WebAddressTest : public ::testing::TestWithParam<AddressCase> {};

TEST_P(WebAddressTest, AcceptsOnlyWebPages)
{
    EXPECT_EQ(IsWebAddress(GetParam().input), GetParam().expected) << GetParam().input;
}

const AddressCase kAddresses[] = {
    {"PlainWebPage", "http://lyrics.example/song?id=1&x=%20", true},
    {"SecureWebPage", "https://lyrics.example/song", true},
    {"SchemeInCapitals", "HTTP://LYRICS.EXAMPLE/", true},
    {"SchemeInMixedCase", "hTtPs://lyrics.example/", true},
    {"HostOnly", "http://x", true},
    {"Empty", "", false},
    {"SchemeWithoutHost", "http://", false},
    {"SchemeWithoutSlashes", "http:lyrics.example", false},
    {"BackslashesAfterScheme", "http:\\\\lyrics.example\\", false},
    {"SchemePrefixOfLongerScheme", "https2://lyrics.example/", false},
    {"HttpInsideAnotherScheme", "xhttp://lyrics.example/", false},
    {"LeadingSpace", " http://lyrics.example/", false},
    {"ProgramPath", "C:\\Windows\\system32\\calc.exe", false},
    {"RelativePath", "calc.exe", false},
    {"SharePath", "\\\\server\\share\\setup.exe", false},
    {"FileScheme", "file:///C:/Windows/notepad.exe", false},
    {"ScriptScheme", "javascript:alert(1)", false},
    {"FtpScheme", "ftp://lyrics.example/", false},
    {"MailScheme", "mailto:someone@lyrics.example", false},
    {"SpaceInside", "http://lyrics.example/a b", false},
    {"QuoteEndsTheArgument", "http://lyrics.example/\" --flag", false},
    {"LineBreakInside", "http://lyrics.example/\r\nx", false},
    {"TabInside", "http://lyrics.example/\tx", false},
    {"DeleteCharacter", "http://lyrics.example/\x7f", false},
    {"EmbeddedZero", std::string("http://lyrics.example/\0.exe", 27), false},
    {"HighBytesAreKept", "http://lyrics.example/\xe9t\xe9", true},
};

INSTANTIATE_TEST_SUITE_P(Addresses, WebAddressTest, ::testing::ValuesIn(kAddresses),
                         RowName{});

}  // namespace
