#include "server/com_server.h"

#include "server/com_module.h"

#include <oleauto.h>

#include <string>

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

LONG DeleteTree(const std::wstring& path)
{
    const LONG rc = RegDeleteTreeW(HKEY_CLASSES_ROOT, path.c_str());
    if (rc == ERROR_SUCCESS) {
        // RegDeleteTree empties the key; remove the key itself as well.
        RegDeleteKeyW(HKEY_CLASSES_ROOT, path.c_str());
        return ERROR_SUCCESS;
    }
    return rc == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : rc;
}

HRESULT FromWin32(LONG rc)
{
    return rc == ERROR_SUCCESS ? S_OK : HRESULT_FROM_WIN32(rc);
}

HRESULT RegisterClass(const ServerInfo& server, const ClassEntry& entry, const std::wstring& modulePath)
{
    const std::wstring clsid = GuidText(*entry.clsid);
    const std::wstring independent = entry.progId;
    const std::wstring progId = independent + L"." + server.version;
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
        hr = RegisterTypeLib(library, const_cast<LPOLESTR>(modulePath.c_str()), nullptr);
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
    for (size_t i = 0; i < server.classCount; ++i) {
        const ClassEntry& entry = server.classes[i];
        const std::wstring independent = entry.progId;
        keep(FromWin32(DeleteTree(independent + L"." + server.version)));
        keep(FromWin32(DeleteTree(independent)));
        keep(FromWin32(DeleteTree(L"CLSID\\" + GuidText(*entry.clsid))));
    }
    // A type library that is not registered (a second unregistration) is not
    // an error; Wine's UnRegisterTypeLib answers E_INVALIDARG for it, so ask first.
    BSTR registeredPath = nullptr;
    if (SUCCEEDED(QueryPathOfRegTypeLib(*server.libid, server.libMajor, server.libMinor, server.libLocale,
                                        &registeredPath))) {
        SysFreeString(registeredPath);
        const HRESULT hr = UnRegisterTypeLib(*server.libid, server.libMajor, server.libMinor, server.libLocale,
                                             sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32);
        if (hr != TYPE_E_REGISTRYACCESS && hr != TYPE_E_CANTLOADLIBRARY)
            keep(hr);
    }
    if (server.appid) {
        keep(FromWin32(DeleteTree(L"AppID\\" + GuidText(*server.appid))));
        keep(FromWin32(DeleteTree(std::wstring(L"AppID\\") + server.appModuleKey)));
    }
    return result;
}

} // namespace zel
