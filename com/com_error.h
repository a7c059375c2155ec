// Error records for automation clients.
#pragma once

#include <windows.h>

namespace zel {

// Installs an error record with the 8-bit `text` as description (converted
// with the thread's ANSI code page), the ProgID registered for `clsid` as
// source (left unset when there is none) and `guid`; returns hr.
HRESULT ReportError(const char* text, HRESULT hr, REFCLSID clsid, REFGUID guid);

} // namespace zel
