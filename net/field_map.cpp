// Form encoding of lookup requests and the lenient reader of the service's replies.
#include "net/field_map.h"

namespace {

bool isAsciiAlnum(unsigned char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9');
}

// The "C" locale's white space: tab, line feed, vertical tab, form feed, carriage return, space.
bool isAsciiSpace(unsigned char c)
{
    return c == ' ' || (c >= 0x09 && c <= 0x0D);
}

}  // namespace

std::string encodeFormComponent(const std::string& text)
{
    static const char kHexDigits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(text.size() * 3);
    for (unsigned char c : text) {
        if (isAsciiAlnum(c)) {
            out += static_cast<char>(c);
        } else if (isAsciiSpace(c)) {
            out += '+';
        } else {
            // Unreserved punctuation ("-", ".", "_", "~", "*") is escaped too: the service
            // decodes every escape, and this is what it has always been sent.
            out += '%';
            out += kHexDigits[c >> 4];
            out += kHexDigits[c & 0x0F];
        }
    }
    return out;
}

std::string encodeForm(const FieldMap& fields)
{
    std::string body;
    const char* separator = "";
    for (const auto& [key, value] : fields) {
        body += separator;
        body += encodeFormComponent(key);
        body += '=';
        body += encodeFormComponent(value);
        separator = "&";
    }
    return body;
}

bool ReplyReader::read(char& byte)
{
    if (m_pos >= m_text.size()) {
        m_atEnd = true;
        return false;
    }
    byte = m_text[m_pos++];
    return true;
}

bool ReplyReader::peek(char& byte) const
{
    if (m_pos >= m_text.size())
        return false;
    byte = m_text[m_pos];
    return true;
}

void ReplyReader::skip()
{
    if (m_pos < m_text.size())
        ++m_pos;
}

bool readTag(ReplyReader& reader, std::string& name, bool& closing, std::string& text)
{
    char c = 0;
    while (!reader.atEnd()) {
        if (!reader.read(c))
            break;
        if (c == '<')
            break;
        text += c;
    }
    if (reader.atEnd())
        return false;

    char next = 0;
    closing = reader.peek(next) && next == '/';
    if (closing)
        reader.skip();

    // Everything up to ">" is the name: attributes, "?" and "!" included.
    while (!reader.atEnd()) {
        if (!reader.read(c))
            break;
        if (c == '>')
            return true;
        name += c;
    }
    return false;
}

bool readElement(ReplyReader& reader, std::string& key, std::string& value)
{
    std::string discarded;
    bool closing = false;
    if (!readTag(reader, key, closing, discarded) || closing)
        return false;

    std::string endName;
    if (!readTag(reader, endName, closing, value))
        return false;
    return closing && endName == key;
}

FieldMap parseReply(std::string reply)
{
    FieldMap fields;
    ReplyReader reader(reply);
    while (!reader.atEnd()) {
        std::string key;
        std::string value;
        if (readElement(reader, key, value))
            fields[key] = value;
    }
    return fields;
}
