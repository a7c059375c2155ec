// Valdergast.ZELCryptoRSA: key generation from two seeds, key blobs in and
// out, encryption, decryption, signatures.  The object keeps its key halves
// and encoding parameter for its whole life.
#pragma once

#include "objects/object_base.h"
#include "rsa/rsa.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

class CZELCryptoRSA final : public CZELCryptoObject<IZELCryptoRSA> {
public:
    explicit CZELCryptoRSA(IUnknown* outer);

    STDMETHODIMP SetIV(IDispatch* inVal) override;
    STDMETHODIMP Keygen(IDispatch* inVal1, IDispatch* inVal2, LONG val) override;
    STDMETHODIMP get_PublicKey(IDispatch** pVal) override;
    STDMETHODIMP put_PublicKey(IDispatch* blob) override;
    STDMETHODIMP get_PrivateKey(IDispatch** pVal) override;
    STDMETHODIMP put_PrivateKey(IDispatch* blob) override;
    STDMETHODIMP Encrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Decrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Sign(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Verify(IDispatch* src1, IDispatch* src2, LONG* res) override;

private:
    XRsa engine_;
};
