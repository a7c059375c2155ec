// The five symmetric cipher classes (Valdergast.ZELCryptoAES, ...Twofish,
// ...Blowfish, ...Cast, ...TripleDES): one interface, one embedded engine each.
// An object keeps its key, mode, filler and chaining block for its whole life.
#pragma once

#include "cipher/aes.h"
#include "cipher/block_cipher.h"
#include "cipher/blowfish.h"
#include "cipher/cast.h"
#include "cipher/triple_des.h"
#include "cipher/twofish.h"
#include "objects/object_base.h"
#include "zelcrypto.h" // generated from server/zelcrypto.idl

// The members of IZELCryptoSymmetric over any engine.
class CZELCryptoSymmetric : public CZELCryptoObject<IZELCryptoSymmetric> {
public:
    STDMETHODIMP Keygen(IDispatch* inVal, LONG val) override;
    STDMETHODIMP get_Key(IDispatch** pVal) override;
    STDMETHODIMP put_Key(IDispatch* record) override;
    STDMETHODIMP Encrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP Decrypt(IDispatch* src, IDispatch** dest) override;
    STDMETHODIMP get_Filler(LONG* pVal) override;
    STDMETHODIMP put_Filler(LONG filler) override;
    STDMETHODIMP get_mode(LONG* pVal) override;
    STDMETHODIMP put_mode(LONG mode) override;

protected:
    // `engine` is a member of the derived class: only its address is kept here.
    CZELCryptoSymmetric(IUnknown* outer, const CLSID& clsid, XBlockCipher& engine)
        : CZELCryptoObject(outer, clsid), engine_(engine)
    {
    }

private:
    XBlockCipher& engine_;
};

// A class with its own engine type and class identifier.
template <class Engine, const CLSID* Clsid>
class CZELCryptoBlockCipher final : public CZELCryptoSymmetric {
public:
    explicit CZELCryptoBlockCipher(IUnknown* outer) : CZELCryptoSymmetric(outer, *Clsid, engine_) { engine_.Setup(1, 0); }

private:
    Engine engine_;
};

// The five classes the server registers.
using CZELCryptoAES = CZELCryptoBlockCipher<XAes, &CLSID_ZELCryptoAES>;
using CZELCryptoTwofish = CZELCryptoBlockCipher<XTwofish, &CLSID_ZELCryptoTwofish>;
using CZELCryptoBlowfish = CZELCryptoBlockCipher<XBlowfish, &CLSID_ZELCryptoBlowfish>;
using CZELCryptoCast = CZELCryptoBlockCipher<XCast, &CLSID_ZELCryptoCast>;
using CZELCryptoTripleDES = CZELCryptoBlockCipher<XTripleDes, &CLSID_ZELCryptoTripleDES>;
