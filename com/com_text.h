// Text conversions at the COM boundary: 8-bit texts in the ANSI code page of
// the calling thread's locale <-> UTF-16 BSTRs.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace zel {

// Converts `length` bytes (or up to the terminator when length is -1).  A null
// text gives a null BSTR; a failed allocation throws std::bad_alloc.
BSTR AnsiToBstr(const char* text, int length = -1);

// Converts a BSTR to 8-bit text.  A null BSTR gives an empty text; `isNull`
// tells the two apart for callers that care.
std::string BstrToAnsi(BSTR text, bool* isNull = nullptr);

} // namespace zel
