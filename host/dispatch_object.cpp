#include "host/dispatch_object.h"

namespace zelhost {

STDMETHODIMP DispatchObject::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch)) {
        *out = static_cast<IDispatch*>(this);
        AddRef();
        return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
}

STDMETHODIMP_(ULONG) DispatchObject::AddRef()
{
    return ULONG(InterlockedIncrement(&refs_));
}

STDMETHODIMP_(ULONG) DispatchObject::Release()
{
    const LONG left = InterlockedDecrement(&refs_);
    if (!left)
        delete this;
    return ULONG(left);
}

STDMETHODIMP DispatchObject::GetTypeInfoCount(UINT* count)
{
    if (!count)
        return E_POINTER;
    *count = 0;
    return S_OK;
}

STDMETHODIMP DispatchObject::GetTypeInfo(UINT, LCID, ITypeInfo** out)
{
    if (out)
        *out = nullptr;
    return DISP_E_BADINDEX;
}

STDMETHODIMP DispatchObject::GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids)
{
    if (!names || !ids || !count)
        return E_INVALIDARG;
    HRESULT hr = S_OK;
    ids[0] = DISPID_UNKNOWN;
    for (const Member& m : members_) {
        if (names[0] && CompareStringOrdinal(names[0], -1, m.name.c_str(), -1, TRUE) == CSTR_EQUAL) {
            ids[0] = m.id;
            break;
        }
    }
    if (ids[0] == DISPID_UNKNOWN)
        hr = DISP_E_UNKNOWNNAME;
    // No member takes named arguments.
    for (UINT i = 1; i < count; ++i) {
        ids[i] = DISPID_UNKNOWN;
        hr = DISP_E_UNKNOWNNAME;
    }
    return hr;
}

STDMETHODIMP DispatchObject::Invoke(DISPID member, REFIID riid, LCID, WORD flags, DISPPARAMS* params,
                                    VARIANT* result, EXCEPINFO* exception, UINT*)
{
    if (!IsEqualIID(riid, IID_NULL))
        return DISP_E_UNKNOWNINTERFACE;
    bool known = false;
    for (const Member& m : members_)
        known = known || m.id == member;
    if (!known)
        return DISP_E_MEMBERNOTFOUND;
    // Nothing here can be assigned to.
    if (flags & (DISPATCH_PROPERTYPUT | DISPATCH_PROPERTYPUTREF))
        return DISP_E_MEMBERNOTFOUND;
    if (params && params->cNamedArgs)
        return DISP_E_NONAMEDARGS;
    std::vector<VARIANT*> args;
    const UINT count = params ? params->cArgs : 0;
    for (UINT i = count; i-- > 0;) {
        VARIANT* arg = &params->rgvarg[i];
        while (V_VT(arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(arg))
            arg = V_VARIANTREF(arg);
        args.push_back(arg);
    }
    if (result)
        VariantInit(result);
    return Call(member, flags, args, result, exception);
}

HRESULT DispatchObject::Fail(EXCEPINFO* exception, HRESULT code, const std::wstring& source,
                             const std::wstring& description)
{
    if (!exception)
        return code;
    ZeroMemory(exception, sizeof *exception);
    exception->scode = code;
    exception->bstrSource = SysAllocString(source.c_str());
    exception->bstrDescription = SysAllocString(description.c_str());
    return DISP_E_EXCEPTION;
}

HRESULT ValueText(const VARIANT& value, std::wstring& text)
{
    text.clear();
    VARIANT v;
    VariantInit(&v);
    HRESULT hr = VariantCopyInd(&v, const_cast<VARIANT*>(&value));
    if (FAILED(hr))
        return hr;
    if (V_VT(&v) == VT_EMPTY)
        return S_OK;
    if (V_VT(&v) == VT_NULL) {
        text = L"Null";
        return S_OK;
    }
    if (V_VT(&v) & VT_ARRAY) {
        VariantClear(&v);
        return DISP_E_TYPEMISMATCH;
    }
    hr = VariantChangeTypeEx(&v, &v, LOCALE_USER_DEFAULT, VARIANT_ALPHABOOL, VT_BSTR);
    if (SUCCEEDED(hr) && V_VT(&v) == VT_BSTR && V_BSTR(&v))
        text.assign(V_BSTR(&v), SysStringLen(V_BSTR(&v)));
    VariantClear(&v);
    return hr;
}

HRESULT IntegerValue(const VARIANT& value, long& number)
{
    VARIANT v;
    VariantInit(&v);
    const HRESULT hr = VariantChangeType(&v, const_cast<VARIANT*>(&value), 0, VT_I4);
    if (SUCCEEDED(hr))
        number = V_I4(&v);
    VariantClear(&v);
    return hr;
}

HRESULT ReturnText(VARIANT* result, const std::wstring& text)
{
    if (!result)
        return S_OK;
    V_VT(result) = VT_BSTR;
    V_BSTR(result) = SysAllocStringLen(text.data(), UINT(text.size()));
    return V_BSTR(result) ? S_OK : E_OUTOFMEMORY;
}

} // namespace zelhost
