#include "host/typelib_reference.h"

#include "host/dispatch_object.h"
#include "host/script_file.h"

#include <cwchar>
#include <vector>

namespace zelhost {

namespace {

std::wstring RegistryDefault(const std::wstring& key)
{
    wchar_t value[256];
    DWORD size = sizeof value;
    if (RegGetValueW(HKEY_CLASSES_ROOT, key.c_str(), nullptr, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::wstring();
    return value;
}

bool ParseVersion(const std::wstring& text, WORD& major, WORD& minor)
{
    wchar_t* stop = nullptr;
    const unsigned long ma = std::wcstoul(text.c_str(), &stop, 16);
    if (stop == text.c_str() || ma > 0xFFFF)
        return false;
    unsigned long mi = 0;
    if (*stop == L'.') {
        const wchar_t* rest = stop + 1;
        mi = std::wcstoul(rest, &stop, 16);
        if (stop == rest || mi > 0xFFFF)
            return false;
    }
    if (*stop)
        return false;
    major = WORD(ma);
    minor = WORD(mi);
    return true;
}

// The highest version registered under TypeLib\{libid}.
bool HighestVersion(const std::wstring& libId, WORD& major, WORD& minor)
{
    HKEY key = nullptr;
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, (L"TypeLib\\" + libId).c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return false;
    bool found = false;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        WORD ma = 0, mi = 0;
        if (ParseVersion(name, ma, mi) && (!found || ma > major || (ma == major && mi > minor))) {
            major = ma;
            minor = mi;
            found = true;
        }
    }
    RegCloseKey(key);
    return found;
}

std::wstring VersionText(WORD major, WORD minor)
{
    wchar_t text[16];
    swprintf(text, 16, L"%x.%x", major, minor);
    return text;
}

// The locale ids a version of a type library is registered under.
std::vector<LCID> RegisteredLocales(const std::wstring& libId, WORD major, WORD minor)
{
    std::vector<LCID> locales;
    HKEY key = nullptr;
    const std::wstring path = L"TypeLib\\" + libId + L"\\" + VersionText(major, minor);
    if (RegOpenKeyExW(HKEY_CLASSES_ROOT, path.c_str(), 0, KEY_READ, &key) != ERROR_SUCCESS)
        return locales;
    wchar_t name[64];
    for (DWORD i = 0;; ++i) {
        DWORD length = 64;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        wchar_t* stop = nullptr;
        const unsigned long lcid = std::wcstoul(name, &stop, 16);
        if (stop != name && !*stop)
            locales.push_back(LCID(lcid));
    }
    RegCloseKey(key);
    return locales;
}

class Constants : public DispatchObject {
public:
    Constants(std::vector<Member> names, std::vector<VARIANT> values)
        : DispatchObject(std::move(names)), values_(std::move(values))
    {
    }

protected:
    ~Constants() override
    {
        for (auto& v : values_)
            VariantClear(&v);
    }

    HRESULT Call(DISPID member, WORD flags, const std::vector<VARIANT*>& args, VARIANT* result, EXCEPINFO*) override
    {
        if (!(flags & DISPATCH_PROPERTYGET) && !(flags & DISPATCH_METHOD))
            return DISP_E_MEMBERNOTFOUND;
        if (!args.empty())
            return DISP_E_BADPARAMCOUNT;
        if (member < 1 || size_t(member) > values_.size())
            return DISP_E_MEMBERNOTFOUND;
        return result ? VariantCopy(result, &values_[size_t(member) - 1]) : S_OK;
    }

private:
    std::vector<VARIANT> values_;
};

} // namespace

HRESULT LoadReferencedTypeLib(const std::wstring& progId, const std::wstring& libId, const std::wstring& version,
                              ITypeLib** library, GUID& libGuid, WORD& major, WORD& minor, std::wstring& error)
{
    *library = nullptr;
    std::wstring lib = libId;
    if (lib.empty()) {
        CLSID clsid;
        HRESULT hr = CLSIDFromProgID(progId.c_str(), &clsid);
        if (FAILED(hr)) {
            error = L"no class is registered as \"" + progId + L"\"";
            return hr;
        }
        wchar_t clsidText[40];
        StringFromGUID2(clsid, clsidText, 40);
        lib = RegistryDefault(std::wstring(L"CLSID\\") + clsidText + L"\\TypeLib");
        if (lib.empty()) {
            error = L"the class \"" + progId + L"\" names no type library";
            return TYPE_E_LIBNOTREGISTERED;
        }
    }
    HRESULT hr = CLSIDFromString(lib.c_str(), &libGuid);
    if (FAILED(hr)) {
        error = L"\"" + lib + L"\" is not a type library id";
        return hr;
    }
    if (version.empty() ? !HighestVersion(lib, major, minor) : !ParseVersion(version, major, minor)) {
        error = version.empty() ? L"the type library " + lib + L" is not registered"
                                : L"\"" + version + L"\" is not a version";
        return TYPE_E_LIBNOTREGISTERED;
    }
    hr = LoadRegTypeLib(libGuid, major, minor, LANG_NEUTRAL, library);
    // A library registered for one language only (TypeLib\{id}\2.0\409):
    // the neutral language does not find it everywhere, its own does.
    for (LCID lcid : RegisteredLocales(lib, major, minor)) {
        if (SUCCEEDED(hr))
            break;
        hr = LoadRegTypeLib(libGuid, major, minor, lcid, library);
    }
    if (FAILED(hr)) {
        error = L"cannot load the type library " + lib + L" version " + VersionText(major, minor) + L": " +
                ErrorText(hr);
    }
    return hr;
}

IDispatch* NewConstantsObject(ITypeLib* library)
{
    std::vector<DispatchObject::Member> names;
    std::vector<VARIANT> values;
    const UINT count = library->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        ITypeInfo* info = nullptr;
        if (FAILED(library->GetTypeInfo(i, &info)))
            continue;
        TYPEATTR* attr = nullptr;
        if (SUCCEEDED(info->GetTypeAttr(&attr))) {
            if (attr->typekind == TKIND_ENUM || attr->typekind == TKIND_MODULE) {
                for (UINT v = 0; v < attr->cVars; ++v) {
                    VARDESC* var = nullptr;
                    if (FAILED(info->GetVarDesc(v, &var)))
                        continue;
                    BSTR name = nullptr;
                    if (var->varkind == VAR_CONST && var->lpvarValue &&
                        SUCCEEDED(info->GetDocumentation(var->memid, &name, nullptr, nullptr, nullptr)) && name) {
                        VARIANT value;
                        VariantInit(&value);
                        if (SUCCEEDED(VariantCopy(&value, var->lpvarValue))) {
                            values.push_back(value);
                            names.push_back({std::wstring(name, SysStringLen(name)), DISPID(values.size())});
                        }
                    }
                    SysFreeString(name);
                    info->ReleaseVarDesc(var);
                }
            }
            info->ReleaseTypeAttr(attr);
        }
        info->Release();
    }
    return new Constants(std::move(names), std::move(values));
}

} // namespace zelhost
