// FieldMap and its two codecs: the form encoding of lookup requests and the reader of the
// service's element replies. Platform-free; every rule works on bytes of the ANSI code page.
#pragma once

#include <map>
#include <string>

// std::string orders through char_traits<char>, which compares as unsigned bytes: exactly
// the key order in which the service expects the form's pairs. operator[] inserts an empty
// value for an absent key, so reading a missing reply field yields "" and never fails.
using FieldMap = std::map<std::string, std::string>;

std::string encodeFormComponent(const std::string& text);
std::string encodeForm(const FieldMap& fields);

// Sequential reader over a reply. The end-of-input state is raised by a read that finds
// nothing left, not by taking the last byte; the element reader relies on that.
class ReplyReader {
public:
    explicit ReplyReader(const std::string& text) : m_text(text) {}

    bool read(char& byte);
    bool peek(char& byte) const;
    void skip();
    bool atEnd() const { return m_atEnd; }

private:
    const std::string& m_text;
    std::string::size_type m_pos = 0;
    bool m_atEnd = false;
};

bool readTag(ReplyReader& reader, std::string& name, bool& closing, std::string& text);
bool readElement(ReplyReader& reader, std::string& key, std::string& value);
FieldMap parseReply(std::string reply);
