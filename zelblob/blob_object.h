// A blob object: one XBlob, shown to scripts as hex, base64, text and byte
// arrays (IZELBlobScript) and to zelcrypto.dll as its buffer (IZELBlob).
#pragma once

#include "blob/izelblob.h"
#include "com/com_dispatch.h"
#include "com/com_object.h"
#include "zelblob/zelblob.h"

class CZELBlob : public zel::DualDispatch<IZELBlobScript>, public IZELBlob, public ISupportErrorInfo,
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

    // IZELBlob
    STDMETHODIMP GetBuffer(XBlob** buffer) override;
    STDMETHODIMP Lock() override;
    STDMETHODIMP Unlock() override;

    // ISupportErrorInfo
    STDMETHODIMP InterfaceSupportsErrorInfo(REFIID riid) override;

private:
    void* FindInterface(REFIID riid) override;
    HRESULT Refuse(const std::string& why);

    XBlob bytes_;
    LONG locks_ = 0;
};
