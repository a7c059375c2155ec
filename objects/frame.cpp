#include "objects/frame.h"

#include <new>
#include <vector>

namespace {
const char kNotABlob[] = "Internal error: can't get source ZELBlob COM interface";

// The blob component's class object, obtained once per thread and kept.
// CoCreateInstance looks the class up in the registry on every call, which
// costs far more than the call that wants a result blob; a class object may
// only be used in the apartment it was obtained in, so each thread keeps its
// own.  The module of the class object stays loaded while it is kept, even
// when the blob component reports that it could unload (its class objects
// hold no lock of their own).
struct BlobFactory {
    IClassFactory* factory = nullptr;
    HMODULE pin = nullptr;
    BlobFactory* next = nullptr;
};

SRWLOCK g_factoriesLock = SRWLOCK_INIT;
BlobFactory* g_factories = nullptr; // every thread's entry, guarded by g_factoriesLock
thread_local BlobFactory* t_factory = nullptr;

HRESULT CreateBlob(IZELBlob** out)
{
    BlobFactory* entry = t_factory;
    if (!entry) {
        entry = new (std::nothrow) BlobFactory;
        if (!entry)
            return E_OUTOFMEMORY;
        AcquireSRWLockExclusive(&g_factoriesLock);
        entry->next = g_factories;
        g_factories = entry;
        ReleaseSRWLockExclusive(&g_factoriesLock);
        t_factory = entry;
    }
    AcquireSRWLockShared(&g_factoriesLock);
    if (IClassFactory* factory = entry->factory) {
        const HRESULT hr = factory->CreateInstance(nullptr, IID_IZELBlob, reinterpret_cast<void**>(out));
        ReleaseSRWLockShared(&g_factoriesLock);
        return hr;
    }
    ReleaseSRWLockShared(&g_factoriesLock);

    // First call on this thread, or the kept class object was let go: look
    // the class up as CoCreateInstance would, and fail as it would.
    IClassFactory* factory = nullptr;
    HRESULT hr = CoGetClassObject(CLSID_ZELBlob, kZelBlobClassContext, nullptr, IID_IClassFactory,
                                  reinterpret_cast<void**>(&factory));
    if (FAILED(hr))
        return hr;
    if (!factory)
        return E_POINTER;
    hr = factory->CreateInstance(nullptr, IID_IZELBlob, reinterpret_cast<void**>(out));
    HMODULE pin = nullptr;
    // The module that holds the class object's code (a proxy's, for a thread
    // in another apartment) gains a reference.
    if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS, *reinterpret_cast<LPCWSTR*>(factory), &pin)) {
        factory->Release();
        return hr;
    }
    AcquireSRWLockExclusive(&g_factoriesLock);
    const bool keep = !entry->factory;
    if (keep) {
        entry->factory = factory;
        entry->pin = pin;
    }
    ReleaseSRWLockExclusive(&g_factoriesLock);
    if (!keep) {
        factory->Release();
        FreeLibrary(pin);
    }
    return hr;
}

// Lets go of every kept class object; with `forget` (the module unloading),
// also of the entries, keeping the blob component loaded.
void ReleaseFactories(bool forget)
{
    std::vector<BlobFactory> kept;
    AcquireSRWLockExclusive(&g_factoriesLock);
    for (BlobFactory* entry = g_factories; entry; entry = entry->next) {
        if (entry->factory) {
            kept.push_back(*entry);
            entry->factory = nullptr;
            entry->pin = nullptr;
        }
    }
    BlobFactory* entries = forget ? g_factories : nullptr;
    if (forget)
        g_factories = nullptr;
    ReleaseSRWLockExclusive(&g_factoriesLock);
    for (BlobFactory& entry : kept) {
        entry.factory->Release();
        // Not under the loader lock: when the module itself is being
        // unloaded (DllMain), the blob component keeps the reference we
        // took and stays loaded until the process ends, rather than be
        // unloaded from inside another DLL's unloading.
        if (!forget)
            FreeLibrary(entry.pin);
    }
    while (entries) {
        BlobFactory* next = entries->next;
        delete entries;
        entries = next;
    }
}
} // namespace

void ReleaseBlobFactories()
{
    ReleaseFactories(false);
}

void ForgetBlobFactories()
{
    ReleaseFactories(true);
}

Frame::~Frame()
{
    UnlockAll();
    // The result first, then the sources, last acquired first.
    if (resultIndex_ < count_)
        blobs_[resultIndex_].blob->Release();
    for (size_t i = count_; i-- > 0;) {
        if (i != resultIndex_)
            blobs_[i].blob->Release();
    }
}

bool Frame::AddOptionalSource(IDispatch* argument)
{
    if (count_ == kMaxBlobs)
        return false;
    IZELBlob* blob = nullptr;
    // Only whether an interface came back counts, not the result code.
    if (argument)
        argument->QueryInterface(IID_IZELBlob, reinterpret_cast<void**>(&blob));
    if (!blob)
        return false;
    blobs_[count_++] = Blob{blob, nullptr, false};
    return true;
}

HRESULT Frame::AddSource(IDispatch* argument)
{
    if (AddOptionalSource(argument))
        return S_OK;
    return identity_.ReportError(kNotABlob, E_FAIL, identity_.iid);
}

HRESULT Frame::AddResult()
{
    if (count_ == kMaxBlobs)
        return E_UNEXPECTED;
    IZELBlob* blob = nullptr;
    const HRESULT hr = CreateBlob(&blob);
    if (FAILED(hr))
        return hr;
    if (!blob)
        return E_POINTER;
    resultIndex_ = count_;
    blobs_[count_++] = Blob{blob, nullptr, false};
    return S_OK;
}

HRESULT Frame::Open()
{
    for (size_t i = 0; i < count_; ++i) {
        blobs_[i].blob->Lock();
        blobs_[i].locked = true;
    }
    for (size_t i = 0; i < count_; ++i) {
        const HRESULT hr = blobs_[i].blob->GetBuffer(&blobs_[i].buffer);
        if (FAILED(hr))
            return hr;
        if (!blobs_[i].buffer)
            return E_POINTER;
    }
    return S_OK;
}

void Frame::UnlockAll()
{
    for (size_t i = 0; i < count_; ++i) {
        if (blobs_[i].locked) {
            blobs_[i].locked = false;
            blobs_[i].blob->Unlock();
        }
    }
}

HRESULT Frame::HandOut(IDispatch** result)
{
    IDispatch* dispatch = nullptr;
    const HRESULT hr = blobs_[resultIndex_].blob->QueryInterface(IID_IDispatch, reinterpret_cast<void**>(&dispatch));
    if (FAILED(hr))
        return hr;
    *result = dispatch;
    return S_OK;
}
