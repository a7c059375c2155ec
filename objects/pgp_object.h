// Valdergast.ZELCryptoPGP: password-encrypted messages and their ASCII armor.
// The object keeps hash, cipher, key-derivation settings and password for its
// whole life; Decrypt takes the settings of the message it reads.
#pragma once

#include "objects/object_base.h"
#include "pgp/message.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

class CZELCryptoPGP final : public CZELCryptoObject<IZELCryptoPGP> {
public:
    explicit CZELCryptoPGP(IUnknown* outer);

    STDMETHODIMP Init(LONG hash, LONG alg, LONG mode, LONG passes) override;
    STDMETHODIMP put_password(IDispatch* blob) override;
    STDMETHODIMP Encrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Decrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Enarmor(IDispatch* src, BSTR* dest) override;
    STDMETHODIMP Dearmor(BSTR src, IDispatch** dest) override;

private:
    XPgpMessage message_;
};
