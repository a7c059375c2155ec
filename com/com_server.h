// The class table of an in-process server and what the four exported entry
// points do with it: class objects, unload check, registration.
#pragma once

#include <windows.h>
#include <unknwn.h>

#include <cstddef>

namespace zel {

struct ClassEntry {
    const CLSID* clsid;
    const wchar_t* progId; // version-independent, e.g. L"Valdergast.ZELCryptoMisc"
    HRESULT (*create)(IUnknown* outer, REFIID riid, void** out);
};

struct ServerInfo {
    const ClassEntry* classes;
    size_t classCount;
    const wchar_t* version; // appended to the ProgID after a dot: L"2"
    const GUID* libid;      // type library embedded as TYPELIB 1
    WORD libMajor, libMinor;
    LCID libLocale;
    const GUID* appid;            // application identity; null for none
    const wchar_t* appName;       // default value of AppID\{appid}
    const wchar_t* appModuleKey;  // AppID\<this key> names the application identity
};

HRESULT GetClassObject(const ServerInfo& server, REFCLSID clsid, REFIID riid, void** out);
HRESULT CanUnloadNow();
HRESULT RegisterServer(const ServerInfo& server);
HRESULT UnregisterServer(const ServerInfo& server);

} // namespace zel
