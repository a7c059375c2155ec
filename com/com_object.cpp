#include "com/com_object.h"

namespace zel {

STDMETHODIMP ComObject::Inner::QueryInterface(REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    void* found = IsEqualIID(riid, IID_IUnknown) ? static_cast<IUnknown*>(this) : owner_->FindInterface(riid);
    *out = found;
    if (!found)
        return E_NOINTERFACE;
    static_cast<IUnknown*>(found)->AddRef();
    return S_OK;
}

STDMETHODIMP_(ULONG) ComObject::Inner::Release()
{
    const LONG refs = InterlockedDecrement(&owner_->refs_);
    if (refs == 0)
        delete owner_;
    return ULONG(refs);
}

} // namespace zel
