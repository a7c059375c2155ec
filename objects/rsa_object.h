// Valdergast.ZELCryptoRSA: key generation from two seeds, key blobs in and
// out, encryption, decryption, signatures (IZELCryptoRSA); fresh keys, PEM
// and DER key files, PKCS #1 v1.5 and PSS signatures and OAEP over SHA-1 and
// SHA-2 (IZELCryptoRSA2, the default, which extends it).  The object keeps
// its key, encoding parameter and OAEP label for its whole life.
#pragma once

#include "objects/object_base.h"
#include "rsa/rsa.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

class CZELCryptoRSA final : public CZELCryptoObject<IZELCryptoRSA2, IZELCryptoRSA> {
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

    // IZELCryptoRSA2
    STDMETHODIMP Generate(LONG bits) override;
    STDMETHODIMP ImportPem(BSTR text) override;
    STDMETHODIMP ImportDer(IDispatch* der) override;
    STDMETHODIMP ExportPrivatePem(BSTR* text) override;
    STDMETHODIMP ExportPublicPem(BSTR* text) override;
    STDMETHODIMP ExportPrivateDer(IDispatch** der) override;
    STDMETHODIMP ExportPublicDer(IDispatch** der) override;
    STDMETHODIMP SignPkcs1(IDispatch* data, BSTR hashName, IDispatch** signature) override;
    STDMETHODIMP VerifyPkcs1(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result) override;
    STDMETHODIMP SignPss(IDispatch* data, BSTR hashName, IDispatch** signature) override;
    STDMETHODIMP VerifyPss(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result) override;
    STDMETHODIMP EncryptOaep(IDispatch* data, BSTR hashName, IDispatch** ciphertext) override;
    STDMETHODIMP DecryptOaep(IDispatch* data, BSTR hashName, IDispatch** plaintext) override;
    STDMETHODIMP get_Label(IDispatch** label) override;
    STDMETHODIMP put_Label(IDispatch* label) override;


private:
    // Export*Pem: the text of `make`'s PEM as a BSTR.
    template <class Make>
    HRESULT PemOut(BSTR* text, Make&& make);
    // Verify*: 1 or 0; only a missing blob, an unusable key or an unknown
    // hash fails the call.
    template <class Check>
    HRESULT VerifyWith(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result, Check&& check);

    const ClassIdentity identity2_; // the new members' error records
    XRsa engine_;
    XBlob label_;
};
