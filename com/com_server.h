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
    // Appended to the ProgID after a dot; null for the server's version.
    // Classes added after the server's first release count from their own 1.
    const wchar_t* version = nullptr;
};

struct ServerInfo {
    const ClassEntry* classes;
    size_t classCount;
    const wchar_t* version; // appended to each class's ProgID after a dot: L"2" (unless the class has its own)
    const GUID* libid;      // type library embedded as TYPELIB 1
    WORD libMajor, libMinor;
    LCID libLocale;
    const GUID* appid;            // application identity; null for none
    const wchar_t* appName;       // default value of AppID\{appid}
    const wchar_t* appModuleKey;  // AppID\<this key> names the application identity
};

// The version a class's version-dependent ProgID carries after the dot.
const wchar_t* ClassVersion(const ServerInfo& server, const ClassEntry& entry);

HRESULT GetClassObject(const ServerInfo& server, REFCLSID clsid, REFIID riid, void** out);
HRESULT CanUnloadNow();
HRESULT RegisterServer(const ServerInfo& server);
HRESULT UnregisterServer(const ServerInfo& server);

} // namespace zel
