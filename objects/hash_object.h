// Valdergast.ZELCryptoHash: the digests of the engine's hash table by name,
// one shot or fed in pieces, and HMAC, PBKDF2 and HKDF over any of them.
#pragma once

#include "hash/digest.h"
#include "objects/object_base.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

#include <memory>

class CZELCryptoHash : public CZELCryptoObject<IZELCryptoHash> {
public:
    explicit CZELCryptoHash(IUnknown* outer);

    STDMETHODIMP get_Algorithm(BSTR* name) override;
    STDMETHODIMP put_Algorithm(BSTR name) override;
    STDMETHODIMP Hash(IDispatch* data, IDispatch** digest) override;
    STDMETHODIMP Update(IDispatch* data) override;
    STDMETHODIMP Final(IDispatch** digest) override;
    STDMETHODIMP Hmac(IDispatch* key, IDispatch* data, IDispatch** mac) override;
    STDMETHODIMP Pbkdf2(IDispatch* password, IDispatch* salt, LONG iterations, LONG length,
                        IDispatch** derived) override;
    STDMETHODIMP Hkdf(IDispatch* ikm, IDispatch* salt, IDispatch* info, LONG length, IDispatch** derived) override;

private:
    const XHashAlgorithm* algorithm_;
    // The running digest of Update; created by the first Update after the
    // algorithm is set or Final ran.
    std::unique_ptr<XDigest> running_;
};
