// Valdergast.ZELCryptoPGP: password-encrypted messages and their ASCII armor.
// The object keeps hash, cipher, key-derivation settings and password for its
// whole life; Decrypt takes the settings of the message it reads.  The
// second interface adds the message format, its AEAD mode and chunk size,
// and compression.
#pragma once

#include "objects/object_base.h"
#include "pgp/message.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

class CZELCryptoPGP final : public CZELCryptoObject<IZELCryptoPGP2, IZELCryptoPGP> {
public:
    explicit CZELCryptoPGP(IUnknown* outer);

    STDMETHODIMP Init(LONG hash, LONG alg, LONG mode, LONG passes) override;
    STDMETHODIMP put_password(IDispatch* blob) override;
    STDMETHODIMP Encrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Decrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Enarmor(IDispatch* src, BSTR* dest) override;
    STDMETHODIMP Dearmor(BSTR src, IDispatch** dest) override;

    STDMETHODIMP get_Format(LONG* format) override;
    STDMETHODIMP put_Format(LONG format) override;
    STDMETHODIMP get_Aead(LONG* mode) override;
    STDMETHODIMP put_Aead(LONG mode) override;
    STDMETHODIMP get_ChunkSize(LONG* octet) override;
    STDMETHODIMP put_ChunkSize(LONG octet) override;
    STDMETHODIMP get_Compression(LONG* algorithm) override;
    STDMETHODIMP put_Compression(LONG algorithm) override;

private:
    // Stores a setting in low..high; E_INVALIDARG naming the range otherwise.
    HRESULT PutSetting(LONG value, LONG low, LONG high, const char* range, void (XPgpMessage::*set)(uint8_t));

    XPgpMessage message_;
};
