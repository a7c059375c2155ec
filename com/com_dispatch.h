// IDispatch for dual interfaces through the type library embedded in the
// module (resource TYPELIB 1), plus the calling forms of script hosts that a
// plain ITypeInfo::Invoke does not serve.
#pragma once

#include <windows.h>
#include <oleauto.h>

namespace zel {

// Type information for an interface of this module's type library.  The
// library is loaded once and kept until ReleaseTypeLibrary().
HRESULT GetModuleTypeInfo(REFGUID iid, ITypeInfo** out);
void ReleaseTypeLibrary();

// ITypeInfo::Invoke on `self`, with two adjustments for script hosts:
// - DISPATCH_PROPERTYPUTREF ("Set obj.Prop = blob") reaches a property that
//   only has a put accessor as DISPATCH_PROPERTYPUT;
// - an argument passed as a reference to a VARIANT (how VBScript passes a
//   variable) for a pointer parameter that is not [out] (Misc Random's dest)
//   receives the value the method stores through that pointer;
// - an argument passed by value for such a parameter (how JScript passes
//   everything) reaches the method as an empty slot, and the method finds
//   the value itself through ByValueArgument; whatever it stores in the
//   slot is released, since the caller has nowhere to receive it.
HRESULT InvokeDual(ITypeInfo* info, void* self, DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError);

// DispGetIDsOfNames, with the DISPID of each name looked up alone (how script
// hosts ask, once per call) kept until ReleaseTypeLibrary().
HRESULT GetIDsOfNamesKept(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids);

// During InvokeDual, on its thread: the value a script passed by value for
// the pointer parameter at `parameter` (0-based, script order) that is not
// [out]; null when that argument came by reference, or outside such a call.
const VARIANT* ByValueArgument(UINT parameter);

// The IDispatch members of a dual interface Itf, for a class deriving from it.
template <class Itf>
class DualDispatch : public Itf {
public:
    STDMETHODIMP GetTypeInfoCount(UINT* count) override
    {
        if (!count)
            return E_POINTER;
        *count = 1;
        return S_OK;
    }

    STDMETHODIMP GetTypeInfo(UINT index, LCID, ITypeInfo** out) override
    {
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (index != 0)
            return DISP_E_BADINDEX;
        return GetModuleTypeInfo(__uuidof(Itf), out);
    }

    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR* names, UINT count, LCID, DISPID* ids) override
    {
        ITypeInfo* info = nullptr;
        HRESULT hr = GetModuleTypeInfo(__uuidof(Itf), &info);
        if (SUCCEEDED(hr)) {
            hr = GetIDsOfNamesKept(info, names, count, ids);
            info->Release();
        }
        return hr;
    }

    STDMETHODIMP Invoke(DISPID member, REFIID, LCID, WORD flags, DISPPARAMS* params, VARIANT* result,
                        EXCEPINFO* exception, UINT* argError) override
    {
        ITypeInfo* info = nullptr;
        HRESULT hr = GetModuleTypeInfo(__uuidof(Itf), &info);
        if (SUCCEEDED(hr)) {
            hr = InvokeDual(info, static_cast<Itf*>(this), member, flags, params, result, exception, argError);
            info->Release();
        }
        return hr;
    }
};

} // namespace zel
