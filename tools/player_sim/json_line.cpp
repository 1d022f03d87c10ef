// JSON text of the transcript's lines: string escaping with UTF-8 checking, the members, and
// reading a line back.
#include "tools/player_sim/json_line.h"

#include "tools/player_sim/text_cursor.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <iterator>

namespace {

const char kReplacement[] = "\xEF\xBF\xBD";

// The characters JSON escapes by a letter, written and read back the same way; the other
// control characters go as "\u00XX".
struct ShortEscape {
    char character;
    char letter;
};
constexpr ShortEscape kShortEscapes[] = {{'"', '"'}, {'\\', '\\'}, {'\n', 'n'}, {'\r', 'r'}, {'\t', 't'}};

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

// Reads the tokens of a line as JsonLine writes them.
class JsonCursor : public TextCursor {
public:
    explicit JsonCursor(std::string_view line) : TextCursor(line, " \t") {}

    bool Literal(std::string_view word)
    {
        SkipSpace();
        if (m_text.substr(m_pos, word.size()) != word)
            return false;
        m_pos += word.size();
        return true;
    }

    bool String(std::string& out)
    {
        out.clear();
        if (!Take('"'))
            return false;
        while (m_pos < m_text.size()) {
            const char c = m_text[m_pos++];
            if (c == '"')
                return true;
            if (c != '\\') {
                out += c;
            } else if (m_pos >= m_text.size()) {
                return false;
            } else if (m_text[m_pos] == 'u') {
                if (!ControlCharacter(out))
                    return false;
            } else {
                const char letter = m_text[m_pos++];
                const auto escape = std::find_if(std::begin(kShortEscapes), std::end(kShortEscapes),
                                                 [&](const ShortEscape& e) { return e.letter == letter; });
                if (escape == std::end(kShortEscapes))
                    return false;
                out += escape->character;
            }
        }
        return false;
    }

    bool Number(double& out)
    {
        SkipSpace();
        const std::string rest(m_text.substr(m_pos));
        char* end = nullptr;
        out = std::strtod(rest.c_str(), &end);
        if (end == rest.c_str())
            return false;
        m_pos += static_cast<std::size_t>(end - rest.c_str());
        return true;
    }

private:
    // "u00XX" after a backslash: only control characters are written this way, anything else
    // goes as UTF-8 as it is.
    bool ControlCharacter(std::string& out)
    {
        if (m_pos + 5 > m_text.size())
            return false;
        const std::string digits(m_text.substr(m_pos + 1, 4));
        char* end = nullptr;
        const unsigned long code = std::strtoul(digits.c_str(), &end, 16);
        if (end != digits.c_str() + digits.size() || code >= 0x20)
            return false;
        m_pos += 5;
        out += static_cast<char>(code);
        return true;
    }
};

bool Member(JsonCursor& cursor, JsonMembers& members)
{
    std::string key;
    if (!cursor.String(key) || !cursor.Take(':'))
        return false;
    if (cursor.Peek('"'))
        return cursor.String(members.texts[key]);
    if (cursor.Take('[')) {
        std::vector<std::string>& list = members.lists[key];
        if (cursor.Take(']'))
            return true;
        do {
            if (!cursor.String(list.emplace_back()))
                return false;
        } while (cursor.Take(','));
        return cursor.Take(']');
    }
    if (cursor.Literal("true")) {
        members.flags[key] = true;
        return true;
    }
    if (cursor.Literal("false")) {
        members.flags[key] = false;
        return true;
    }
    return cursor.Number(members.numbers[key]);
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
        const auto escape = std::find_if(std::begin(kShortEscapes), std::end(kShortEscapes),
                                         [&](const ShortEscape& e) { return e.character == text[i]; });
        if (escape != std::end(kShortEscapes)) {
            out += '\\';
            out += escape->letter;
        } else if (c < 0x20) {
            char escaped[8];
            std::snprintf(escaped, sizeof escaped, "\\u%04X", static_cast<unsigned int>(c));
            out += escaped;
        } else {
            out += static_cast<char>(c);
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

std::optional<JsonMembers> ReadJsonLine(std::string_view line)
{
    JsonCursor cursor(line);
    JsonMembers members;
    if (!cursor.Take('{'))
        return std::nullopt;
    if (!cursor.Take('}')) {
        do {
            if (!Member(cursor, members))
                return std::nullopt;
        } while (cursor.Take(','));
        if (!cursor.Take('}'))
            return std::nullopt;
    }
    if (!cursor.AtEnd())
        return std::nullopt;
    return members;
}
