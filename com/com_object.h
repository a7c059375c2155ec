// Reference counting, aggregation and the module lock for every COM object of
// both DLLs.  A class derives from ComObject, lists its interfaces in
// FindInterface, and gets IUnknown from ZEL_IUNKNOWN_DELEGATING.
#pragma once

#include "com/com_module.h"

#include <windows.h>
#include <unknwn.h>

#include <new>

namespace zel {

class ComObject {
public:
    ComObject(const ComObject&) = delete;
    ComObject& operator=(const ComObject&) = delete;

    // IUnknown of the object itself: what an aggregating outer object holds.
    IUnknown* InnerUnknown() { return &inner_; }

protected:
    explicit ComObject(IUnknown* outer) : outer_(outer ? outer : &inner_), inner_(this) {}
    virtual ~ComObject() = default;

    // The interface pointer for riid (IUnknown excluded), or null.
    virtual void* FindInterface(REFIID riid) = 0;

    // The controlling unknown: the outer object when aggregated, else our own.
    IUnknown* Outer() const { return outer_; }

private:
    struct Inner : IUnknown {
        explicit Inner(ComObject* owner) : owner_(owner) {}
        STDMETHODIMP QueryInterface(REFIID riid, void** out) override;
        STDMETHODIMP_(ULONG) AddRef() override { return ULONG(InterlockedIncrement(&owner_->refs_)); }
        STDMETHODIMP_(ULONG) Release() override;
        ComObject* owner_;
    };

    IUnknown* outer_;
    Inner inner_;
    LONG refs_ = 0;
    ModuleLockHolder moduleLock_;
};

// Every interface method of IUnknown forwards to the controlling unknown.
#define ZEL_IUNKNOWN_DELEGATING                                                                            \
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override { return Outer()->QueryInterface(riid, out); } \
    STDMETHODIMP_(ULONG) AddRef() override { return Outer()->AddRef(); }                                    \
    STDMETHODIMP_(ULONG) Release() override { return Outer()->Release(); }

// Class-factory creation for T (constructor T(IUnknown* outer)).  An outer
// object may only ask for IUnknown; a failed interface request destroys the
// new object.
template <class T>
HRESULT CreateComObject(IUnknown* outer, REFIID riid, void** out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    if (outer && !IsEqualIID(riid, IID_IUnknown))
        return CLASS_E_NOAGGREGATION;
    T* object = nullptr;
    try {
        object = new T(outer);
    } catch (...) {
        return E_OUTOFMEMORY;
    }
    IUnknown* inner = object->InnerUnknown();
    inner->AddRef();
    const HRESULT hr = inner->QueryInterface(riid, out);
    inner->Release();
    return hr;
}

} // namespace zel
