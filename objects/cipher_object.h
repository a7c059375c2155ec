// Valdergast.ZELCryptoCipher: AES in GCM, CBC and CTR with the IVs, padding
// and tags other tools exchange, and the password files of `openssl enc`.
#pragma once

#include "core/xblob.h"
#include "objects/object_base.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

#include <set>
#include <string>

class CZELCryptoCipher : public CZELCryptoObject<IZELCryptoCipher> {
public:
    explicit CZELCryptoCipher(IUnknown* outer);

    STDMETHODIMP get_Algorithm(BSTR* name) override;
    STDMETHODIMP put_Algorithm(BSTR name) override;
    STDMETHODIMP get_Key(IDispatch** key) override;
    STDMETHODIMP put_Key(IDispatch* key) override;
    STDMETHODIMP get_IV(IDispatch** iv) override;
    STDMETHODIMP put_IV(IDispatch* iv) override;
    STDMETHODIMP get_Padding(BSTR* name) override;
    STDMETHODIMP put_Padding(BSTR name) override;
    STDMETHODIMP get_AAD(IDispatch** aad) override;
    STDMETHODIMP put_AAD(IDispatch* aad) override;
    STDMETHODIMP get_TagLength(LONG* bytes) override;
    STDMETHODIMP put_TagLength(LONG bytes) override;
    STDMETHODIMP get_Iterations(LONG* count) override;
    STDMETHODIMP put_Iterations(LONG count) override;
    STDMETHODIMP Encrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Decrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP EncryptPassword(IDispatch* password, IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP DecryptPassword(IDispatch* password, IDispatch* src, IDispatch** dest) override;

    enum class Mode { kGcm, kCbc, kCtr };

private:
    // The IV Encrypt uses: the one set, else a fresh one (remembered for IV
    // get and Decrypt).  GCM refuses an IV already used with this key.
    XBlob IvForEncrypt();
    // The IV Decrypt uses: the one set, else the last one Encrypt drew.
    const XBlob& IvForDecrypt() const;
    // Throws "Invalid key" unless the key fits the algorithm.
    void RequireKey() const;

    Mode mode_ = Mode::kGcm;
    uint32_t keyBytes_ = 32;
    XBlob key_;
    XBlob iv_;       // set by the script; empty: draw one per Encrypt
    XBlob drawnIv_;  // the last IV Encrypt drew
    XBlob aad_;
    bool padding_ = true;
    uint32_t tagLength_ = 16;
    uint32_t iterations_ = 10000;
    // Digests of key || IV pairs GCM has encrypted under in this object.
    std::set<std::string> usedGcmNonces_;
};
