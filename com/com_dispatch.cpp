#include "com/com_dispatch.h"

#include "com/com_module.h"

#include <vector>

namespace zel {

namespace {

ITypeLib* volatile g_typeLibrary = nullptr;

HRESULT ModuleTypeLibrary(ITypeLib** out)
{
    ITypeLib* library = g_typeLibrary;
    if (!library) {
        HRESULT hr = LoadTypeLibEx(ModulePath().c_str(), REGKIND_NONE, &library);
        if (FAILED(hr))
            return hr;
        // Another thread may have loaded it meanwhile; keep the first one.
        ITypeLib* previous = static_cast<ITypeLib*>(
            InterlockedCompareExchangePointer(reinterpret_cast<void* volatile*>(&g_typeLibrary), library, nullptr));
        if (previous) {
            library->Release();
            library = previous;
        }
    }
    library->AddRef();
    *out = library;
    return S_OK;
}

// The function description of `member` for the invocation kind in `flags`.
FUNCDESC* FindFunction(ITypeInfo* info, DISPID member, WORD flags, ITypeInfo** owner)
{
    TYPEATTR* attr = nullptr;
    if (FAILED(info->GetTypeAttr(&attr)))
        return nullptr;
    const WORD count = attr->cFuncs;
    info->ReleaseTypeAttr(attr);
    for (UINT i = 0; i < count; ++i) {
        FUNCDESC* desc = nullptr;
        if (FAILED(info->GetFuncDesc(i, &desc)))
            continue;
        if (desc->memid == member && (desc->invkind & flags)) {
            *owner = info;
            return desc;
        }
        info->ReleaseFuncDesc(desc);
    }
    return nullptr;
}

// A VARIANT argument standing in for an interface pointer parameter: the
// method writes into `slot`, which then goes into `target` (a by-reference
// argument) or is released (a by-value one, `target` null).
struct ByRefSlot {
    VARIANT* target;
    IDispatch* slot;
};

// The by-value arguments of the InvokeDual call in progress on this thread.
struct ByValueArguments {
    static constexpr UINT kMax = 8;
    const VARIANT* value[kMax] = {};
};
thread_local const ByValueArguments* t_byValue = nullptr;

// Installs a call's by-value arguments for the length of the call and puts
// back those of an enclosing call after it.
class ByValueScope {
public:
    explicit ByValueScope(const ByValueArguments* arguments) : previous_(t_byValue) { t_byValue = arguments; }
    ByValueScope(const ByValueScope&) = delete;
    ByValueScope& operator=(const ByValueScope&) = delete;
    ~ByValueScope() { t_byValue = previous_; }

private:
    const ByValueArguments* previous_;
};

} // namespace

HRESULT GetModuleTypeInfo(REFGUID iid, ITypeInfo** out)
{
    ITypeLib* library = nullptr;
    HRESULT hr = ModuleTypeLibrary(&library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(iid, out);
    library->Release();
    return hr;
}

const VARIANT* ByValueArgument(UINT parameter)
{
    return t_byValue && parameter < ByValueArguments::kMax ? t_byValue->value[parameter] : nullptr;
}

void ReleaseTypeLibrary()
{
    ITypeLib* library = static_cast<ITypeLib*>(
        InterlockedExchangePointer(reinterpret_cast<void* volatile*>(&g_typeLibrary), nullptr));
    if (library)
        library->Release();
}

HRESULT InvokeDual(ITypeInfo* info, void* self, DISPID member, WORD flags, DISPPARAMS* params, VARIANT* result,
                   EXCEPINFO* exception, UINT* argError)
{
    DISPPARAMS adjusted = params ? *params : DISPPARAMS{nullptr, nullptr, 0, 0};
    std::vector<VARIANT> args;
    std::vector<ByRefSlot> slots;

    std::vector<UINT> slotArgs; // index in rgvarg of each slot's argument
    ByValueArguments byValue;
    if (params && params->cArgs && (flags & DISPATCH_METHOD)) {
        ITypeInfo* owner = nullptr;
        if (FUNCDESC* desc = FindFunction(info, member, DISPATCH_METHOD, &owner)) {
            // Positional arguments arrive last-first in rgvarg.
            const UINT positional = params->cArgs - params->cNamedArgs;
            for (UINT p = 0; p < UINT(desc->cParams) && p < positional; ++p) {
                const ELEMDESC& param = desc->lprgelemdescParam[p];
                const TYPEDESC& type = param.tdesc;
                const bool pointerIn = type.vt == VT_PTR && type.lptdesc && type.lptdesc->vt == VT_DISPATCH &&
                                       !(param.paramdesc.wParamFlags & PARAMFLAG_FOUT);
                const UINT index = params->cArgs - 1 - p;
                const VARIANT& arg = params->rgvarg[index];
                if (!pointerIn)
                    continue;
                if (V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg)) {
                    slots.push_back({V_VARIANTREF(&arg), nullptr});
                    slotArgs.push_back(index);
                } else if (!(V_VT(&arg) & VT_BYREF) && p < ByValueArguments::kMax) {
                    byValue.value[p] = &arg;
                    slots.push_back({nullptr, nullptr});
                    slotArgs.push_back(index);
                }
            }
            owner->ReleaseFuncDesc(desc);
        }
    }
    if (!slots.empty()) {
        args.assign(params->rgvarg, params->rgvarg + params->cArgs);
        for (size_t i = 0; i < slots.size(); ++i) {
            VARIANT& copy = args[slotArgs[i]];
            V_VT(&copy) = VT_BYREF | VT_DISPATCH;
            V_DISPATCHREF(&copy) = &slots[i].slot;
        }
        adjusted.rgvarg = args.data();
    }

    HRESULT hr;
    {
        ByValueScope scope(&byValue);
        hr = info->Invoke(self, member, flags, &adjusted, result, exception, argError);
        if (hr == DISP_E_MEMBERNOTFOUND && (flags & DISPATCH_PROPERTYPUTREF)) {
            // "Set obj.Prop = x" on a property declared with a put accessor only.
            const WORD put = WORD((flags & ~DISPATCH_PROPERTYPUTREF) | DISPATCH_PROPERTYPUT);
            hr = info->Invoke(self, member, put, &adjusted, result, exception, argError);
        }
    }

    for (ByRefSlot& s : slots) {
        if (SUCCEEDED(hr) && s.target) {
            VariantClear(s.target);
            V_VT(s.target) = VT_DISPATCH;
            V_DISPATCH(s.target) = s.slot;
        } else if (s.slot) {
            s.slot->Release();
        }
    }
    return hr;
}

} // namespace zel
