// A read position in one line of text, shared by the simulator's two small readers: the
// playlist's and the transcript's JSON lines. Platform-free.
#pragma once

#include <cstddef>
#include <string_view>

class TextCursor {
public:
    // The text must outlive the cursor; spaces are the characters skipped before a token.
    TextCursor(std::string_view text, std::string_view spaces) : m_text(text), m_spaces(spaces) {}

    bool AtEnd()
    {
        SkipSpace();
        return m_pos >= m_text.size();
    }

    // The next character is c.
    bool Peek(char c)
    {
        SkipSpace();
        return m_pos < m_text.size() && m_text[m_pos] == c;
    }

    // Moves past c when it comes next.
    bool Take(char c)
    {
        if (!Peek(c))
            return false;
        ++m_pos;
        return true;
    }

protected:
    bool IsSpace(char c) const { return m_spaces.find(c) != std::string_view::npos; }

    void SkipSpace()
    {
        while (m_pos < m_text.size() && IsSpace(m_text[m_pos]))
            ++m_pos;
    }

    std::string_view m_text;
    std::size_t m_pos = 0;

private:
    std::string_view m_spaces;
};
