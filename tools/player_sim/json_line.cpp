// JSON text of the transcript's lines: string escaping with UTF-8 checking, and the members.
#include "tools/player_sim/json_line.h"

#include <cmath>
#include <cstdio>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// Length of the valid UTF-8 sequence at text[i], or 0.
std::size_t Utf8SequenceLength(std::string_view text, std::size_t i)
{
    const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    const unsigned char lead = byte(i);
    std::size_t length = 0;
    unsigned int minimum = 0, value = 0;
    if (lead < 0x80)
        return 1;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, minimum = 0x80, value = lead & 0x1F;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, minimum = 0x800, value = lead & 0x0F;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, minimum = 0x10000, value = lead & 0x07;
    } else {
        return 0;
    }
    if (i + length > text.size())
        return 0;
    for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (byte(i + k) & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (value < minimum || (value >= 0xD800 && value <= 0xDFFF) || value > 0x10FFFF)
        return 0;
    return length;
}

}  // namespace

std::string JsonQuote(std::string_view text)
{
    std::string out = "\"";
    for (std::size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x80) {
            const std::size_t length = Utf8SequenceLength(text, i);
            if (length == 0) {
                out += kReplacement;
                ++i;
            } else {
                out.append(text.substr(i, length));
                i += length;
            }
            continue;
        }
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (c < 0x20) {
                char escaped[8];
                std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned int>(c));
                out += escaped;
            } else {
                out += static_cast<char>(c);
            }
        }
        ++i;
    }
    return out + "\"";
}

void JsonLine::Key(std::string_view key)
{
    if (!m_members.empty())
        m_members += ",";
    m_members += JsonQuote(key) + ":";
}

JsonLine& JsonLine::Str(std::string_view key, std::string_view value)
{
    Key(key);
    m_members += JsonQuote(value);
    return *this;
}

JsonLine& JsonLine::Int(std::string_view key, std::int64_t value)
{
    Key(key);
    m_members += std::to_string(value);
    return *this;
}

JsonLine& JsonLine::Seconds(std::string_view key, double value)
{
    Key(key);
    // JSON has no infinities or NaN.
    char text[32];
    std::snprintf(text, sizeof text, "%.3f", std::isfinite(value) ? value : 0.0);
    m_members += text;
    return *this;
}

JsonLine& JsonLine::Bool(std::string_view key, bool value)
{
    Key(key);
    m_members += value ? "true" : "false";
    return *this;
}

JsonLine& JsonLine::List(std::string_view key, const std::vector<std::string>& values)
{
    Key(key);
    m_members += "[";
    for (std::size_t i = 0; i < values.size(); ++i)
        m_members += (i ? "," : "") + JsonQuote(values[i]);
    m_members += "]";
    return *this;
}

JsonLine& JsonLine::Merge(const JsonLine& other)
{
    if (!m_members.empty() && !other.m_members.empty())
        m_members += ",";
    m_members += other.m_members;
    return *this;
}
