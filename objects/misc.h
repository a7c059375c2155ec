// Valdergast.ZELCryptoMisc: digests, checksums, random bytes, key derivation,
// and packing of numbers and blobs into blobs.
#pragma once

#include "objects/object_base.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

class CZELCryptoMisc : public CZELCryptoObject<IZELCryptoMisc> {
public:
    explicit CZELCryptoMisc(IUnknown* outer);

    STDMETHODIMP MD5(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP SHA1(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Random(LONG src, IDispatch** dest) override;
    STDMETHODIMP CRC32(IDispatch* src, ULONG* dest) override;
    STDMETHODIMP InsertLongToBlob(IDispatch* src, LONG pos, LONG val) override;
    STDMETHODIMP ExtractLongFromBlob(IDispatch* src, LONG pos, LONG* val) override;
    STDMETHODIMP InsertBlobToBlob(IDispatch* src, LONG pos, IDispatch* val) override;
    STDMETHODIMP ExtractBlobFromBlob(IDispatch* src, LONG pos, IDispatch** val) override;
    STDMETHODIMP Ripemd(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Keygen(LONG hash, LONG length, IDispatch* password, IDispatch* salt, LONG passes,
                        IDispatch** result) override;
    STDMETHODIMP CRC24(IDispatch* src, ULONG* dest) override;
};
