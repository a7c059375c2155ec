// Type libraries that a job references, and their constants by name.
#pragma once

#include <windows.h>
#include <oleauto.h>

#include <string>

namespace zelhost {

// Loads the registered type library named by a ProgID (through its class's
// TypeLib key) or by a library id; `version` is "major.minor" (hexadecimal,
// as the registry writes it), or "" for the highest registered version.
// On failure returns the error and a message saying what was missing.
HRESULT LoadReferencedTypeLib(const std::wstring& progId, const std::wstring& libId, const std::wstring& version,
                              ITypeLib** library, GUID& libGuid, WORD& major, WORD& minor, std::wstring& error);

// An object whose read-only properties are the constants of a type
// library's enums and modules (one reference, the caller's): a named item
// with global members gives scripts those names where the engine cannot
// take the type library itself.  Empty (no members) for a library without
// constants.
IDispatch* NewConstantsObject(ITypeLib* library);

} // namespace zelhost
