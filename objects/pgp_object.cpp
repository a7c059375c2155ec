#include "objects/pgp_object.h"

#include "objects/frame.h"
#include "pgp/armor.h"
#include "com/com_text.h"

#include <string>

CZELCryptoPGP::CZELCryptoPGP(IUnknown* outer) : CZELCryptoObject(outer, CLSID_ZELCryptoPGP) {}

STDMETHODIMP CZELCryptoPGP::Init(LONG hash, LONG alg, LONG mode, LONG passes)
{
    // Only the low byte of each is kept, unchecked: an unsupported value is
    // reported by the next Encrypt or Decrypt.
    message_.SetAlgorithms(uint8_t(hash), uint8_t(alg));
    message_.SetS2K(uint8_t(mode), uint8_t(passes));
    return S_OK;
}

STDMETHODIMP CZELCryptoPGP::put_password(IDispatch* blob)
{
    Frame f(Identity());
    return f.Call({blob}, [&]() -> HRESULT {
        message_.SetPassword(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoPGP::Encrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(message_.Encrypt(f.Source(0)));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoPGP::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(message_.Decrypt(f.Source(0)));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoPGP::Enarmor(IDispatch* src, BSTR* dest)
{
    if (!dest)
        return E_POINTER;
    *dest = nullptr;
    Frame f(Identity());
    return f.Call({src}, [&]() -> HRESULT {
        const std::string text = ::Enarmor(f.Source(0));
        *dest = zel::AnsiToBstr(text.data(), int(text.size()));
        return *dest ? S_OK : E_FAIL;
    });
}

STDMETHODIMP CZELCryptoPGP::Dearmor(BSTR src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({}, dest, Frame::kClearResult, [&]() -> HRESULT {
        // A null string is an empty text: no armor, so "Data is corrupted".
        const std::string narrow = zel::BstrToAnsi(src);
        XBlob text;
        text.AppendBytes(narrow.data(), uint32_t(narrow.size()));
        f.Result().Assign(::Dearmor(text));
        return S_OK;
    });
}
