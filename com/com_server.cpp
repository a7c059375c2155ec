#include "com/com_server.h"

#include "com/com_module.h"

#include <oleauto.h>

#include <cwchar>
#include <string>
#include <vector>

namespace zel {

namespace {

class ClassFactory final : public IClassFactory {
public:
    explicit ClassFactory(const ClassEntry& entry) : entry_(entry) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IClassFactory)) {
            *out = static_cast<IClassFactory*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&refs_)); }
    STDMETHODIMP_(ULONG) Release() override
    {
        const LONG refs = InterlockedDecrement(&refs_);
        if (refs == 0)
            delete this;
        return ULONG(refs);
    }

    STDMETHODIMP CreateInstance(IUnknown* outer, REFIID riid, void** out) override
    {
        return entry_.create(outer, riid, out);
    }
    STDMETHODIMP LockServer(BOOL lock) override
    {
        if (lock)
            ModuleLock();
        else
            ModuleUnlock();
        return S_OK;
    }

private:
    const ClassEntry& entry_;
    LONG refs_ = 1;
};

std::wstring GuidText(REFGUID guid)
{
    wchar_t text[40] = {};
    StringFromGUID2(guid, text, 40);
    return text;
}

// Writes the default value (when `value` is not null) of HKCR\path, creating it.
LONG SetKey(const std::wstring& path, const wchar_t* value, const wchar_t* name = nullptr,
            const wchar_t* namedValue = nullptr)
{
    HKEY key = nullptr;
    LONG rc = RegCreateKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr);
    if (rc != ERROR_SUCCESS)
        return rc;
    auto set = [&](const wchar_t* valueName, const wchar_t* text) {
        return RegSetValueExW(key, valueName, 0, REG_SZ, reinterpret_cast<const BYTE*>(text),
                              DWORD((wcslen(text) + 1) * sizeof(wchar_t)));
    };
    if (value)
        rc = set(nullptr, value);
    if (rc == ERROR_SUCCESS && name)
        rc = set(name, namedValue);
    RegCloseKey(key);
    return rc;
}

// Removes HKCR\path and everything below it, in this process's registry view
// (view 0) or the one named by KEY_WOW64_32KEY / KEY_WOW64_64KEY.
LONG DeleteTree(const std::wstring& path, REGSAM view = 0)
{
    HKEY key = nullptr;
    LONG rc = RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE |
                                                                     KEY_SET_VALUE | view, &key);
    if (rc == ERROR_FILE_NOT_FOUND)
        return ERROR_SUCCESS;
    if (rc != ERROR_SUCCESS)
        return rc;
    // RegDeleteTree empties the key; remove the key itself as well.
    rc = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS && rc != ERROR_FILE_NOT_FOUND)
        return rc;
    rc = RegDeleteKeyExW(HKEY_CLASSES_ROOT, path.c_str(), view, 0);
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

// The registry view of the DLL of the other bitness.  On 32-bit Windows there
// is one view only and the flag is ignored.
constexpr REGSAM kOtherView = sizeof(void*) == 8 ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
constexpr SYSKIND kOwnSysKind = sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32;

// Whether the other registry view still has the class with a server path.
bool OtherViewRegisters(const ClassEntry& entry)
{
    const std::wstring path = L"CLSID\\" + GuidText(*entry.clsid) + L"\\InprocServer32";
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_QUERY_VALUE | kOtherView, &key) != ERROR_SUCCESS)
        return false;
    RegCloseKey(key);
    return true;
}

// TypeLib\{libid}\<major>.<minor>\<lcid>\win32 or win64: where this
// bitness's registration names the module.
std::wstring TypeLibPlatformKey(const ServerInfo& server)
{
    wchar_t tail[64] = {};
    swprintf(tail, 64, L"\\%u.%u\\%lx\\%ls", unsigned(server.libMajor), unsigned(server.libMinor),
             static_cast<unsigned long>(server.libLocale), kOwnSysKind == SYS_WIN64 ? L"win64" : L"win32");
    return L"TypeLib\\" + GuidText(*server.libid) + tail;
}

// The interfaces that RegisterTypeLib writes keys for: the dispatch and OLE
// automation interfaces of the module's own type library.
std::vector<GUID> LibraryInterfaces()
{
    std::vector<GUID> result;
    ITypeLib* library = nullptr;
    if (FAILED(LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library)))
        return result;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if (attr->typekind == TKIND_DISPATCH ||
                (attr->typekind == TKIND_INTERFACE && (attr->wTypeFlags & TYPEFLAG_FOLEAUTOMATION)))
                result.push_back(attr->guid);
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    library->Release();
    return result;
}

// Removes Interface\{iid} in the given view (0: this process's) when its
// TypeLib subkey names this type library; another library's key is left alone.
LONG DeleteInterfaceKey(REFGUID iid, const std::wstring& libid, REGSAM view)
{
    const std::wstring path = L"Interface\\" + GuidText(iid);
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (path + L"\\TypeLib").c_str(), 0, KEY_QUERY_VALUE | view, &key) !=
        ERROR_SUCCESS)
        return ERROR_SUCCESS;
    wchar_t value[64] = {};
    DWORD size = sizeof(value) - sizeof(wchar_t);
    DWORD type = 0;
    const LONG rc = RegQueryValueExW(key, nullptr, nullptr, &type, reinterpret_cast<BYTE*>(value), &size);
    RegCloseKey(key);
    if (rc != ERROR_SUCCESS || type != REG_SZ || _wcsicmp(value, libid.c_str()) != 0)
        return ERROR_SUCCESS;
    return DeleteTree(path, view);
}

HRESULT FromWin32(LONG rc)
{
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT RegisterClass(const ServerInfo& server, const ClassEntry& entry, const std::wstring& modulePath)
{
    const std::wstring clsid = GuidText(*entry.clsid);
    const std::wstring independent = entry.progId;
    const std::wstring progId = independent + L"." + ClassVersion(server, entry);
    const std::wstring description = independent + L" Class";
    const std::wstring clsidKey = L"CLSID\\" + clsid;

    LONG rc = SetKey(progId, description.c_str());
    if (!rc) rc = SetKey(progId + L"\\CLSID", clsid.c_str());
    if (!rc) rc = SetKey(independent, description.c_str());
    if (!rc) rc = SetKey(independent + L"\\CLSID", clsid.c_str());
    if (!rc) rc = SetKey(independent + L"\\CurVer", progId.c_str());
    // The class key is written afresh, so that no entry of an older
    // registration survives.
    if (!rc) rc = DeleteTree(clsidKey);
    if (!rc) {
        const std::wstring appid = server.appid ? GuidText(*server.appid) : std::wstring();
        rc = server.appid ? SetKey(clsidKey, description.c_str(), L"AppID", appid.c_str())
                          : SetKey(clsidKey, description.c_str());
    }
    if (!rc) rc = SetKey(clsidKey + L"\\ProgID", progId.c_str());
    if (!rc) rc = SetKey(clsidKey + L"\\VersionIndependentProgID", independent.c_str());
    if (!rc) rc = SetKey(clsidKey + L"\\Programmable", nullptr);
    if (!rc) rc = SetKey(clsidKey + L"\\InprocServer32", modulePath.c_str(), L"ThreadingModel", L"Apartment");
    if (!rc) rc = SetKey(clsidKey + L"\\TypeLib", GuidText(*server.libid).c_str());
    return FromWin32(rc);
}

} // namespace

const wchar_t* ClassVersion(const ServerInfo& server, const ClassEntry& entry)
{
    return entry.version ? entry.version : server.version;
}

HRESULT GetClassObject(const ServerInfo& server, REFCLSID clsid, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    for (size_t i = 0; i < server.classCount; ++i) {
        if (!IsEqualCLSID(clsid, *server.classes[i].clsid))
            continue;
        ClassFactory* factory = new (std::nothrow) ClassFactory(server.classes[i]);
        if (!factory)
            return E_OUTOFMEMORY;
        const HRESULT hr = factory->QueryInterface(riid, out);
        factory->Release();
        return hr;
    }
    return CLASS_E_CLASSNOTAVAILABLE;
}

HRESULT CanUnloadNow()
{
    return ModuleLockCount() == 0 ? S_OK : S_FALSE;
}

HRESULT RegisterServer(const ServerInfo& server)
{
    const std::wstring modulePath = ModulePath();
    if (modulePath.empty())
        return HRESULT_FROM_WIN32(GetLastError());

    if (server.appid) {
        const std::wstring appid = GuidText(*server.appid);
        LONG rc = SetKey(L"AppID\\" + appid, server.appName);
        if (!rc) rc = SetKey(std::wstring(L"AppID\\") + server.appModuleKey, nullptr, L"AppID", appid.c_str());
        if (rc)
            return FromWin32(rc);
    }
    for (size_t i = 0; i < server.classCount; ++i) {
        const HRESULT hr = RegisterClass(server, server.classes[i], modulePath);
        if (FAILED(hr))
            return hr;
    }
    ITypeLib* library = nullptr;
    HRESULT hr = LoadTypeLibEx(modulePath.c_str(), REGKIND_NONE, &library);
    if (SUCCEEDED(hr)) {
        // The help folder is the DLL's own (the reference ships beside it),
        // written with its trailing backslash, the form in which installers
        // write folder paths: an installed and a self-registered copy leave
        // the same entries.
        std::wstring helpDir = modulePath.substr(0, modulePath.find_last_of(L"\\/") + 1);
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(modulePath.c_str()), &helpDir[0]);
        library->Release();
    }
    return hr;
}

HRESULT UnregisterServer(const ServerInfo& server)
{
    HRESULT result = S_OK;
    auto keep = [&](HRESULT hr) {
        if (SUCCEEDED(result) && FAILED(hr))
            result = hr;
    };
    // The class keys live in this process's registry view only.  The ProgIDs,
    // the application identity and the type library's key are shared by the
    // 32-bit and the 64-bit view, so they stay while the DLL of the other
    // bitness still registers the classes.
    for (size_t i = 0; i < server.classCount; ++i)
        keep(FromWin32(DeleteTree(L"CLSID\\" + GuidText(*server.classes[i].clsid))));
    bool otherBitness = false;
    for (size_t i = 0; i < server.classCount; ++i) {
        const ClassEntry& entry = server.classes[i];
        if (OtherViewRegisters(entry)) {
            otherBitness = true;
            continue;
        }
        const std::wstring independent = entry.progId;
        keep(FromWin32(DeleteTree(independent + L"." + ClassVersion(server, entry))));
        keep(FromWin32(DeleteTree(independent)));
    }

    const std::vector<GUID> interfaces = LibraryInterfaces();
    const std::wstring libid = GuidText(*server.libid);
    if (otherBitness) {
        // Only this bitness's share of the type library: its platform key
        // and the interface keys of this view.  (UnRegisterTypeLib could take
        // the whole type library key with it.)
        for (const GUID& iid : interfaces)
            keep(FromWin32(DeleteInterfaceKey(iid, libid, 0)));
        keep(FromWin32(DeleteTree(TypeLibPlatformKey(server))));
    } else {
        // A type library that is not registered (a second unregistration) is
        // not an error; Wine's UnRegisterTypeLib answers E_INVALIDARG for it,
        // so ask first.
        BSTR registeredPath = nullptr;
        if (SUCCEEDED(QueryPathOfRegTypeLib(*server.libid, server.libMajor, server.libMinor, server.libLocale,
                                            &registeredPath))) {
            SysFreeString(registeredPath);
            const HRESULT hr = UnRegisterTypeLib(*server.libid, server.libMajor, server.libMinor, server.libLocale,
                                                 kOwnSysKind);
            if (hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY)
                keep(hr);
        }
        // Wine's RegisterTypeLib in a 32-bit process on 64-bit Windows writes
        // the interface keys into both views but removes them from its own
        // view only; nobody needs the other view's copies any more.
        for (const GUID& iid : interfaces) {
            keep(FromWin32(DeleteInterfaceKey(iid, libid, 0)));
            keep(FromWin32(DeleteInterfaceKey(iid, libid, kOtherView)));
        }
    }
    if (server.appid && !otherBitness) {
        keep(FromWin32(DeleteTree(L"AppID\\" + GuidText(*server.appid))));
        keep(FromWin32(DeleteTree(std::wstring(L"AppID\\") + server.appModuleKey)));
    }
    return result;
}

} // namespace zel
