// The check that keeps addresses from the network to the web schemes.
#include "notifier/safe_address.h"

namespace {

bool StartsWithIgnoringCase(std::string_view text, std::string_view prefix)
{
    if (text.size() < prefix.size())
        return false;
    for (std::size_t i = 0; i < prefix.size(); ++i) {
        char c = text[i];
        if (c >= 'A' && c <= 'Z')
            c = static_cast<char>(c - 'A' + 'a');
        if (c != prefix[i])
            return false;
    }
    return true;
}

// The shell passes the address to the handler inside quotes on a command line.
bool BreaksCommandLine(char c)
{
    const auto byte = static_cast<unsigned char>(c);
    return byte <= 0x20 || byte == 0x7F || c == '"';
}

}  // namespace

bool IsWebAddress(std::string_view address)
{
    std::string_view rest;
    if (StartsWithIgnoringCase(address, "http://"))
        rest = address.substr(7);
    else if (StartsWithIgnoringCase(address, "https://"))
        rest = address.substr(8);
    else
        return false;
    if (rest.empty())
        return false;
    for (const char c : address) {
        if (BreaksCommandLine(c))
            return false;
    }
    return true;
}
