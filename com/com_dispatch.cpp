#include "com/com_dispatch.h"

#include "com/com_module.h"

#include <cwchar>
#include <map>
#include <string>
#include <utility>
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

// What InvokeDual needs to know of a method, found once per interface and
// DISPID: the positions (script order) of its pointer parameters that are
// not [out].  Type information and shapes live until ReleaseTypeLibrary().
struct MethodShape {
    std::vector<UINT> pointerIn;
};

SRWLOCK g_cacheLock = SRWLOCK_INIT;
// Guarded by g_cacheLock.
std::vector<std::pair<GUID, ITypeInfo*>>* g_typeInfos = nullptr;
std::map<std::pair<ITypeInfo*, DISPID>, MethodShape>* g_shapes = nullptr;
struct KnownName {
    ITypeInfo* info;
    std::wstring name;
    DISPID id;
};
std::vector<KnownName>* g_names = nullptr;

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

namespace {

// The shape of `member`, worked out from the type information on first use.
const MethodShape* ShapeOf(ITypeInfo* info, DISPID member)
{
    const auto key = std::make_pair(info, member);
    AcquireSRWLockShared(&g_cacheLock);
    if (g_shapes) {
        const auto found = g_shapes->find(key);
        if (found != g_shapes->end()) {
            const MethodShape* shape = &found->second;
            ReleaseSRWLockShared(&g_cacheLock);
            return shape;
        }
    }
    ReleaseSRWLockShared(&g_cacheLock);

    MethodShape shape;
    ITypeInfo* owner = nullptr;
    if (FUNCDESC* desc = FindFunction(info, member, DISPATCH_METHOD, &owner)) {
        for (UINT p = 0; p < UINT(desc->cParams); ++p) {
            const ELEMDESC& param = desc->lprgelemdescParam[p];
            const TYPEDESC& type = param.tdesc;
            if (type.vt == VT_PTR && type.lptdesc && type.lptdesc->vt == VT_DISPATCH &&
                !(param.paramdesc.wParamFlags & PARAMFLAG_FOUT))
                shape.pointerIn.push_back(p);
        }
        owner->ReleaseFuncDesc(desc);
    }
    const MethodShape* result = nullptr;
    AcquireSRWLockExclusive(&g_cacheLock);
    try {
        if (!g_shapes)
            g_shapes = new std::map<std::pair<ITypeInfo*, DISPID>, MethodShape>;
        result = &g_shapes->emplace(key, std::move(shape)).first->second;
    } catch (...) {
        result = nullptr;
    }
    ReleaseSRWLockExclusive(&g_cacheLock);
    return result;
}

} // namespace

HRESULT GetModuleTypeInfo(REFGUID iid, ITypeInfo** out)
{
    AcquireSRWLockShared(&g_cacheLock);
    if (g_typeInfos) {
        for (const auto& entry : *g_typeInfos) {
            if (IsEqualGUID(entry.first, iid)) {
                *out = entry.second;
                entry.second->AddRef();
                ReleaseSRWLockShared(&g_cacheLock);
                return S_OK;
            }
        }
    }
    ReleaseSRWLockShared(&g_cacheLock);

    ITypeLib* library = nullptr;
    HRESULT hr = ModuleTypeLibrary(&library);
    if (FAILED(hr))
        return hr;
    hr = library->GetTypeInfoOfGuid(iid, out);
    library->Release();
    if (FAILED(hr) || !*out)
        return hr;
    AcquireSRWLockExclusive(&g_cacheLock);
    try {
        if (!g_typeInfos)
            g_typeInfos = new std::vector<std::pair<GUID, ITypeInfo*>>;
        bool present = false;
        for (const auto& entry : *g_typeInfos)
            present = present || IsEqualGUID(entry.first, iid);
        if (!present) {
            g_typeInfos->emplace_back(iid, *out);
            (*out)->AddRef();
        }
    } catch (...) {
        // Not kept: looked up again next time.
    }
    ReleaseSRWLockExclusive(&g_cacheLock);
    return hr;
}

HRESULT GetIDsOfNamesKept(ITypeInfo* info, LPOLESTR* names, UINT count, DISPID* ids)
{
    if (count != 1 || !names || !names[0] || !ids)
        return DispGetIDsOfNames(info, names, count, ids);
    AcquireSRWLockShared(&g_cacheLock);
    if (g_names) {
        for (const KnownName& known : *g_names) {
            // Names compare without regard to case, as the type library's lookup does.
            if (known.info == info && _wcsicmp(known.name.c_str(), names[0]) == 0) {
                ids[0] = known.id;
                ReleaseSRWLockShared(&g_cacheLock);
                return S_OK;
            }
        }
    }
    ReleaseSRWLockShared(&g_cacheLock);
    const HRESULT hr = DispGetIDsOfNames(info, names, count, ids);
    if (hr != S_OK)
        return hr;
    AcquireSRWLockExclusive(&g_cacheLock);
    try {
        if (!g_names)
            g_names = new std::vector<KnownName>;
        g_names->push_back(KnownName{info, names[0], ids[0]});
    } catch (...) {
        // Not kept: looked up again next time.
    }
    ReleaseSRWLockExclusive(&g_cacheLock);
    return hr;
}

const VARIANT* ByValueArgument(UINT parameter)
{
    return t_byValue && parameter < ByValueArguments::kMax ? t_byValue->value[parameter] : nullptr;
}

void ReleaseTypeLibrary()
{
    AcquireSRWLockExclusive(&g_cacheLock);
    auto* infos = std::exchange(g_typeInfos, nullptr);
    auto* shapes = std::exchange(g_shapes, nullptr);
    auto* known = std::exchange(g_names, nullptr);
    ReleaseSRWLockExclusive(&g_cacheLock);
    delete shapes;
    delete known;
    if (infos) {
        for (const auto& entry : *infos)
            entry.second->Release();
        delete infos;
    }

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
        static const std::vector<UINT> none;
        const MethodShape* shape = ShapeOf(info, member);
        const std::vector<UINT>& pointerIn = shape ? shape->pointerIn : none;
        // Positional arguments arrive last-first in rgvarg.
        const UINT positional = params->cArgs - params->cNamedArgs;
        for (UINT p : pointerIn) {
            if (p >= positional)
                break;
            const UINT index = params->cArgs - 1 - p;
            const VARIANT& arg = params->rgvarg[index];
            if (V_VT(&arg) == (VT_BYREF | VT_VARIANT) && V_VARIANTREF(&arg)) {
                slots.push_back({V_VARIANTREF(&arg), nullptr});
                slotArgs.push_back(index);
            } else if (!(V_VT(&arg) & VT_BYREF) && p < ByValueArguments::kMax) {
                byValue.value[p] = &arg;
                slots.push_back({nullptr, nullptr});
                slotArgs.push_back(index);
            }
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
