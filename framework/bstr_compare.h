// Equality of two texts in the player's string type, with the answer of the OLE comparison
// the player's own code uses, at a fraction of its cost for the texts a capture sees.
#pragma once

#include <windows.h>
#include <oleauto.h>

// VarBstrCmp(left, right, LOCALE_USER_DEFAULT, 0) == VARCMP_EQ. Answered without it where the
// answer is certain: identical texts are equal, and texts that differ and hold nothing but
// ASCII letters, digits and '/' are unequal, since a locale's collation tells those apart
// by primary or case weight. An absent text equals the empty text.
bool BstrEquals(BSTR left, BSTR right);
