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
        f.Result() = message_.Encrypt(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoPGP::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = message_.Decrypt(f.Source(0));
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
        f.Result() = ::Dearmor(text);
        return S_OK;
    });
}

// The new settings are checked when they are set: a value out of range is
// E_INVALIDARG with a record that names the range, and the old value stays.

namespace {

HRESULT GetSetting(LONG* out, uint8_t value)
{
    if (!out)
        return E_POINTER;
    *out = value;
    return S_OK;
}

} // namespace

HRESULT CZELCryptoPGP::PutSetting(LONG value, LONG low, LONG high, const char* range,
                                  void (XPgpMessage::*set)(uint8_t))
{
    if (value < low || value > high)
        return Identity().ReportError(range, E_INVALIDARG, GUID_NULL);
    SetErrorInfo(0, nullptr);
    (message_.*set)(uint8_t(value));
    return S_OK;
}

STDMETHODIMP CZELCryptoPGP::get_Format(LONG* format)
{
    return GetSetting(format, message_.Format());
}

STDMETHODIMP CZELCryptoPGP::put_Format(LONG format)
{
    return PutSetting(format, XPgpMessage::kFormatClassic, XPgpMessage::kFormatAeadLibre,
                      "Format must be 0, 1, 2 or 3", &XPgpMessage::SetFormat);
}

STDMETHODIMP CZELCryptoPGP::get_Aead(LONG* mode)
{
    return GetSetting(mode, message_.Aead());
}

STDMETHODIMP CZELCryptoPGP::put_Aead(LONG mode)
{
    return PutSetting(mode, XPgpMessage::kAeadEax, XPgpMessage::kAeadGcm, "Aead must be 1 (EAX), 2 (OCB) or 3 (GCM)",
                      &XPgpMessage::SetAead);
}

STDMETHODIMP CZELCryptoPGP::get_ChunkSize(LONG* octet)
{
    return GetSetting(octet, message_.ChunkSize());
}

STDMETHODIMP CZELCryptoPGP::put_ChunkSize(LONG octet)
{
    return PutSetting(octet, 0, XPgpMessage::kMaxChunkSize, "ChunkSize must be 0 to 16", &XPgpMessage::SetChunkSize);
}

STDMETHODIMP CZELCryptoPGP::get_Compression(LONG* algorithm)
{
    return GetSetting(algorithm, message_.Compression());
}

STDMETHODIMP CZELCryptoPGP::put_Compression(LONG algorithm)
{
    return PutSetting(algorithm, XPgpMessage::kCompressNone, XPgpMessage::kCompressZlib,
                      "Compression must be 0 (none), 1 (ZIP) or 2 (ZLIB)", &XPgpMessage::SetCompression);
}
