// The comparison's certain answers, and the OLE call for everything else: hyphens,
// apostrophes, other symbols and non-ASCII letters carry collation rules of the locale.
#include "framework/bstr_compare.h"

#include <cwchar>

namespace {

bool IsPlainCharacter(wchar_t c)
{
    return (c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9') || c == L'/';
}

bool IsPlain(const wchar_t* text, UINT length)
{
    for (UINT i = 0; i < length; ++i) {
        if (!IsPlainCharacter(text[i]))
            return false;
    }
    return true;
}

}  // namespace

bool BstrEquals(BSTR left, BSTR right)
{
    // SysStringLen answers 0 for an absent text, as the comparison treats it.
    const UINT leftLength = ::SysStringLen(left);
    const UINT rightLength = ::SysStringLen(right);
    if (leftLength == rightLength && (leftLength == 0 || std::wmemcmp(left, right, leftLength) == 0))
        return true;
    if (IsPlain(left, leftLength) && IsPlain(right, rightLength))
        return false;
    return ::VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}
