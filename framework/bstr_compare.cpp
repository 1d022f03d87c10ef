// The OLE call for everything the certain answers leave: hyphens, apostrophes, other symbols
// and non-ASCII letters carry collation rules of the locale.
#include "framework/bstr_compare.h"

bool BstrEquals(BSTR left, BSTR right)
{
    if (const std::optional<bool> certain = CertainBstrEquality(left, right))
        return *certain;
    return OleBstrEquals(left, right);
}

bool OleBstrEquals(BSTR left, BSTR right)
{
    return ::VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == static_cast<HRESULT>(VARCMP_EQ);
}
