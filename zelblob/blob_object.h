// A blob object: one XBlob, shown to scripts as hex, base64, text, UTF-8 and
// byte arrays, with members that join, cut and compare blobs
// (IZELBlobScript2, which extends IZELBlobScript), and to zelcrypto.dll as
// its buffer (IZELBlob).
#pragma once

#include "blob/izelblob.h"
#include "com/com_dispatch.h"
#include "com/com_object.h"
#include "zelblob/zelblob.h"

class CZELBlob : public zel::DualDispatch<IZELBlobScript2>, public IZELBlob, public ISupportErrorInfo,
                 public zel::ComObject {
public:
    explicit CZELBlob(IUnknown* outer) : zel::ComObject(outer) {}

    ZEL_IUNKNOWN_DELEGATING

    // IZELBlobScript
    STDMETHODIMP get_Hex(BSTR* text) override;
    STDMETHODIMP put_Hex(BSTR text) override;
    STDMETHODIMP get_Base64(BSTR* text) override;
    STDMETHODIMP put_Base64(BSTR text) override;
    STDMETHODIMP get_Text(BSTR* text) override;
    STDMETHODIMP put_Text(BSTR text) override;
    STDMETHODIMP get_Bytes(VARIANT* bytes) override;
    STDMETHODIMP put_Bytes(VARIANT bytes) override;
    STDMETHODIMP get_Length(LONG* length) override;
    STDMETHODIMP Clear() override;

    // IZELBlobScript2
    STDMETHODIMP get_Utf8(BSTR* text) override;
    STDMETHODIMP put_Utf8(BSTR text) override;
    STDMETHODIMP get_Base64Url(BSTR* text) override;
    STDMETHODIMP put_Base64Url(BSTR text) override;
    STDMETHODIMP Append(IDispatch* other) override;
    STDMETHODIMP Slice(LONG start, LONG length, IDispatch** result) override;
    STDMETHODIMP Equals(IDispatch* other, VARIANT_BOOL* result) override;

    // IZELBlob
    STDMETHODIMP GetBuffer(XBlob** buffer) override;
    STDMETHODIMP Lock() override;
    STDMETHODIMP Unlock() override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    void* FindInterface(REFIID riid) override;
    // An E_INVALIDARG with an error record naming the interface that
    // declares the member.
    HRESULT Refuse(const std::string& why, REFIID iid = IID_IZELBlobScript);

    XBlob bytes_;
    LONG locks_ = 0;
};
