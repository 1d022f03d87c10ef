// Equality of two texts in the player's string type, with the answer of the OLE comparison
// the player's own code uses, at a fraction of its cost for the texts a capture sees.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <cstring>
#include <cwchar>
#include <optional>

// VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ. Answered without it where the
// answer is certain: identical texts are equal, and texts that differ and hold nothing but
// ASCII letters, digits and '/' are unequal, since a locale's collation tells those apart
// by primary or case weight. An absent text equals the empty text.
bool BstrEquals(BSTR left, BSTR right);

// The OLE comparison itself, for callers that have settled the certain cases already.
bool OleBstrEquals(BSTR left, BSTR right);

namespace bstr_compare_detail {

// Indexed by ASCII code: letters, digits and '/'.
struct PlainTable {
    constexpr PlainTable() : plain()
    {
        for (int c = 'a'; c <= 'z'; ++c)
            plain[c] = plain[c - 'a' + 'A'] = true;
        for (int c = '0'; c <= '9'; ++c)
            plain[c] = true;
        plain['/'] = true;
    }
    bool plain[128];
};

inline constexpr PlainTable kPlain{};

// What SysStringLen answers, read in place: the length is stored in bytes just before the text.
inline UINT Length(BSTR text)
{
    if (text == nullptr)
        return 0;
    UINT bytes;
    std::memcpy(&bytes, reinterpret_cast<const char*>(text) - sizeof bytes, sizeof bytes);
    return bytes / sizeof(OLECHAR);
}

inline bool IsPlain(const wchar_t* text, UINT length)
{
    for (UINT i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned>(text[i]);
        if (c >= 128 || !kPlain.plain[c])
            return false;
    }
    return true;
}

}  // namespace bstr_compare_detail

// The same answer where it is certain without the OLE call; nothing where only the call knows.
// rightIsPlain: the caller knows that right holds only ASCII letters, digits and '/'. Inline:
// the capture asks this for every attribute index and name of the item, every second.
inline std::optional<bool> CertainBstrEquality(BSTR left, BSTR right, bool rightIsPlain = false)
{
    // An absent text has length 0, as the comparison treats it.
    const UINT leftLength = bstr_compare_detail::Length(left);
    const UINT rightLength = bstr_compare_detail::Length(right);
    if (leftLength == rightLength && (leftLength == 0 || std::wmemcmp(left, right, leftLength) == 0))
        return true;
    if (bstr_compare_detail::IsPlain(left, leftLength) &&
        (rightIsPlain || bstr_compare_detail::IsPlain(right, rightLength)))
        return false;
    return std::nullopt;
}
