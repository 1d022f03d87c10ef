// The leading-integer reader shared by the dialog's edits and the version reply.
#include "framework/number_parse.h"

namespace {

// The C locale's white space: the edit and the service both speak plain ASCII here.
bool IsWhiteSpace(char c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

bool IsDigit(char c)
{
    return c >= '0' && c <= '9';
}

}  // namespace

bool ParseLeadingInt32(std::string_view text, std::int32_t& value)
{
    std::size_t pos = 0;
    while (pos < text.size() && IsWhiteSpace(text[pos]))
        ++pos;

    bool negative = false;
    if (pos < text.size() && (text[pos] == '+' || text[pos] == '-')) {
        negative = text[pos] == '-';
        ++pos;
    }

    // Accumulated as a magnitude with the negative bound as limit, so that the smallest int32
    // is reachable and nothing ever overflows while reading.
    const std::int64_t limit = negative ? -static_cast<std::int64_t>(INT32_MIN) : INT32_MAX;
    std::int64_t magnitude = 0;
    const std::size_t firstDigit = pos;
    for (; pos < text.size() && IsDigit(text[pos]); ++pos) {
        magnitude = magnitude * 10 + (text[pos] - '0');
        if (magnitude > limit)
            return false;
    }
    if (pos == firstDigit)
        return false;

    value = static_cast<std::int32_t>(negative ? -magnitude : magnitude);
    return true;
}
