// Fuzzes the reply reader and the form encoder with arbitrary bytes, checking what must hold
// for any input rather than only that nothing crashes.
#include "net/field_map.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

namespace {

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The service's side of the encoding: "+" is a space, "%XX" a byte.
std::string decodeComponent(const std::string& encoded)
{
    std::string out;
    for (size_t i = 0; i < encoded.size(); ++i) {
        const char c = encoded[i];
        if (c == '+') {
            out += ' ';
        } else if (c == '%') {
            if (i + 2 >= encoded.size())
                std::abort();
            const int high = hexValue(encoded[i + 1]);
            const int low = hexValue(encoded[i + 2]);
            if (high < 0 || low < 0)
                std::abort();
            out += static_cast<char>(high * 16 + low);
            i += 2;
        } else {
            out += c;
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const std::string input(reinterpret_cast<const char*>(data), size);

    const FieldMap reply = parseReply(input);
    for (const auto& [key, value] : reply) {
        // A key is a tag name (ends at ">") and a value the text before "<".
        if (key.find('>') != std::string::npos || value.find('<') != std::string::npos)
            std::abort();
        if (key.size() + value.size() > input.size())
            std::abort();
    }

    const std::string encoded = encodeFormComponent(input);
    std::string spacesNormalised = input;
    for (char& c : spacesNormalised) {
        if (c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r')
            c = ' ';
    }
    if (decodeComponent(encoded) != spacesNormalised)
        std::abort();
    if (encoded.find_first_of("&= \t\r\n") != std::string::npos)
        std::abort();
    return 0;
}
