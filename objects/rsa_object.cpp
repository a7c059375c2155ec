#include "objects/rsa_object.h"

#include "com/com_text.h"
#include "objects/frame.h"
#include "rsa/rsa_keys.h"
#include "rsa/rsa_pkcs1.h"

#include <new>
#include <string>

// The members of IZELCryptoRSA report errors under its IID, as they did
// before IZELCryptoRSA2 existed; the new members under IZELCryptoRSA2's.
CZELCryptoRSA::CZELCryptoRSA(IUnknown* outer)
    : CZELCryptoObject(outer, CLSID_ZELCryptoRSA), identity2_{CLSID_ZELCryptoRSA, IID_IZELCryptoRSA2}
{
}

STDMETHODIMP CZELCryptoRSA::SetIV(IDispatch* inVal)
{
    Frame f(Identity());
    return f.Call({inVal}, [&]() -> HRESULT {
        engine_.SetIV(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Keygen(IDispatch* inVal1, IDispatch* inVal2, LONG val)
{
    Frame f(Identity());
    return f.Call({inVal1, inVal2}, [&]() -> HRESULT {
        // A negative size is a very large one: the engine makes it 256 bytes.
        engine_.Keygen(f.Source(0), f.Source(1), uint32_t(val));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::get_PublicKey(IDispatch** pVal)
{
    Frame f(Identity());
    return f.Call({}, pVal, Frame::kKeepResult, [&]() -> HRESULT {
        f.Result() = engine_.ExportPublicKey();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::put_PublicKey(IDispatch* blob)
{
    Frame f(Identity());
    return f.Call({blob}, [&]() -> HRESULT {
        engine_.ImportPublicKey(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::get_PrivateKey(IDispatch** pVal)
{
    Frame f(Identity());
    return f.Call({}, pVal, Frame::kKeepResult, [&]() -> HRESULT {
        f.Result() = engine_.ExportPrivateKey();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::put_PrivateKey(IDispatch* blob)
{
    Frame f(Identity());
    return f.Call({blob}, [&]() -> HRESULT {
        engine_.ImportPrivateKey(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Encrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = engine_.Encrypt(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = engine_.Decrypt(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Sign(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = engine_.Sign(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Verify(IDispatch* src1, IDispatch* src2, LONG* res)
{
    if (!res)
        return E_POINTER;
    // A bad signature is the answer 0, not an error; only a missing blob or
    // an unusable key fails the call.
    *res = 0;
    Frame f(Identity());
    return f.Call({src1, src2}, [&]() -> HRESULT {
        *res = engine_.Verify(f.Source(0), f.Source(1));
        return S_OK;
    });
}

// --- IZELCryptoRSA2 -------------------------------------------------------------

STDMETHODIMP CZELCryptoRSA::Generate(LONG bits)
{
    // 0 is the default size; 1024 is allowed for old peers, nothing else.
    if (bits == 0)
        bits = 2048;
    if (bits != 1024 && bits != 2048 && bits != 3072 && bits != 4096)
        return E_INVALIDARG;
    Frame f(identity2_);
    return f.Call({}, [&]() -> HRESULT {
        engine_.Generate(uint32_t(bits));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::ImportPem(BSTR text)
{
    Frame f(identity2_);
    return f.Call({}, [&]() -> HRESULT {
        ImportRsaKeyPem(engine_, zel::BstrToAnsi(text));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::ImportDer(IDispatch* der)
{
    Frame f(identity2_);
    return f.Call({der}, [&]() -> HRESULT {
        ImportRsaKeyDer(engine_, f.Source(0));
        return S_OK;
    });
}

template <class Make>
HRESULT CZELCryptoRSA::PemOut(BSTR* text, Make&& make)
{
    if (!text)
        return E_POINTER;
    *text = nullptr;
    Frame f(identity2_);
    return f.Call({}, [&]() -> HRESULT {
        std::string pem = make();
        try {
            *text = zel::AnsiToBstr(pem.c_str(), int(pem.size()));
        } catch (const std::bad_alloc&) {
            return E_OUTOFMEMORY;
        }
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::ExportPrivatePem(BSTR* text)
{
    return PemOut(text, [&] { return ExportRsaPrivateKeyPem(engine_); });
}

STDMETHODIMP CZELCryptoRSA::ExportPublicPem(BSTR* text)
{
    return PemOut(text, [&] { return ExportRsaPublicKeyPem(engine_); });
}

STDMETHODIMP CZELCryptoRSA::ExportPrivateDer(IDispatch** der)
{
    Frame f(identity2_);
    return f.Call({}, der, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = ExportRsaPrivateKeyDer(engine_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::ExportPublicDer(IDispatch** der)
{
    Frame f(identity2_);
    return f.Call({}, der, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = ExportRsaPublicKeyDer(engine_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::SignPkcs1(IDispatch* data, BSTR hashName, IDispatch** signature)
{
    Frame f(identity2_);
    return f.Call({data}, signature, Frame::kClearResult, [&]() -> HRESULT {
        const XHashAlgorithm& hash = FindSchemeHash(zel::BstrToAnsi(hashName).c_str());
        f.Result() = ::SignPkcs1(engine_, f.Source(0), hash);
        return S_OK;
    });
}

template <class Check>
HRESULT CZELCryptoRSA::VerifyWith(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result, Check&& check)
{
    if (!result)
        return E_POINTER;
    *result = 0;
    Frame f(identity2_);
    return f.Call({data, signature}, [&]() -> HRESULT {
        const XHashAlgorithm& hash = FindSchemeHash(zel::BstrToAnsi(hashName).c_str());
        *result = check(f.Source(0), f.Source(1), hash) ? 1 : 0;
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::VerifyPkcs1(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result)
{
    return VerifyWith(data, signature, hashName, result, [&](const XBlob& d, const XBlob& s, const XHashAlgorithm& h) {
        return ::VerifyPkcs1(engine_, d, s, h);
    });
}

STDMETHODIMP CZELCryptoRSA::SignPss(IDispatch* data, BSTR hashName, IDispatch** signature)
{
    Frame f(identity2_);
    return f.Call({data}, signature, Frame::kClearResult, [&]() -> HRESULT {
        const XHashAlgorithm& hash = FindSchemeHash(zel::BstrToAnsi(hashName).c_str());
        f.Result() = ::SignPss(engine_, f.Source(0), hash, engine_.Entropy());
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::VerifyPss(IDispatch* data, IDispatch* signature, BSTR hashName, LONG* result)
{
    return VerifyWith(data, signature, hashName, result, [&](const XBlob& d, const XBlob& s, const XHashAlgorithm& h) {
        return ::VerifyPss(engine_, d, s, h);
    });
}

STDMETHODIMP CZELCryptoRSA::EncryptOaep(IDispatch* data, BSTR hashName, IDispatch** ciphertext)
{
    Frame f(identity2_);
    return f.Call({data}, ciphertext, Frame::kClearResult, [&]() -> HRESULT {
        const XHashAlgorithm& hash = FindSchemeHash(zel::BstrToAnsi(hashName).c_str());
        engine_.RequireHalf(XRsa::kHasPublicKey);
        const int64_t capacity = OaepCapacity(engine_, hash);
        // A key too short for the hash is the key's fault; a message longer
        // than a block carries is the caller's.
        if (capacity >= 0 && int64_t(f.Source(0).Length()) > capacity)
            return E_INVALIDARG;
        f.Result() = ::EncryptOaep(engine_, f.Source(0), hash, label_, engine_.Entropy());
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::DecryptOaep(IDispatch* data, BSTR hashName, IDispatch** plaintext)
{
    Frame f(identity2_);
    return f.Call({data}, plaintext, Frame::kClearResult, [&]() -> HRESULT {
        const XHashAlgorithm& hash = FindSchemeHash(zel::BstrToAnsi(hashName).c_str());
        f.Result() = ::DecryptOaep(engine_, f.Source(0), hash, label_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::get_Label(IDispatch** label)
{
    Frame f(identity2_);
    return f.Call({}, label, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(label_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::put_Label(IDispatch* label)
{
    Frame f(identity2_);
    return f.Call({label}, [&]() -> HRESULT {
        label_.Assign(f.Source(0));
        return S_OK;
    });
}
