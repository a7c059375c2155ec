#include "objects/frame.h"

namespace {
const char kNotABlob[] = "Internal error: can't get source ZELBlob COM interface";
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
    const HRESULT hr = CoCreateInstance(CLSID_ZELBlob, nullptr, kZelBlobClassContext, IID_IZELBlob,
                                        reinterpret_cast<void**>(&blob));
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
