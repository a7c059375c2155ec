// IZELBlob: the private interface between zelcrypto.dll and zelblob.dll.
// Both DLLs include this one declaration.  A blob object hands out the address
// of the XBlob that holds its bytes; zelcrypto reads and changes that buffer in
// place between Lock and Unlock.  Both modules allocate buffer arrays with the
// C runtime's malloc/free (msvcrt.dll), so either side may grow or free an
// array the other allocated.  Slot order is fixed: GetBuffer, Lock, Unlock.
#pragma once

#include "core/xblob.h"

#include <windows.h>
#include <unknwn.h>

// {87711387-0E3A-4B76-9260-87770B18F6EF}
inline constexpr IID IID_IZELBlob = {0x87711387, 0x0e3a, 0x4b76, {0x92, 0x60, 0x87, 0x77, 0x0b, 0x18, 0xf6, 0xef}};
// The blob class, ProgID "Valdergast.ZELBlob.2": the coclass ZELBlob of the
// blob component's type library, which defines the value inside zelblob.dll;
// blob/izelblob.cpp defines it for its users.
EXTERN_C const CLSID CLSID_ZELBlob;

// Class context used to create blob objects: in-process server and handler,
// local and remote server.
inline constexpr DWORD kZelBlobClassContext = 23;

struct IZELBlob : public IUnknown {
    // The buffer holding the object's bytes; valid while the object lives.
    virtual HRESULT STDMETHODCALLTYPE GetBuffer(XBlob** buffer) = 0;
    // Re-entrant: one blob may be locked once per argument it is passed as.
    virtual HRESULT STDMETHODCALLTYPE Lock() = 0;
    virtual HRESULT STDMETHODCALLTYPE Unlock() = 0;
};

static_assert(sizeof(XBlob) == sizeof(void*) + 8, "XBlob layout is shared with the blob component");
