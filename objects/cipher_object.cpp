#include "objects/cipher_object.h"

#include "cipher/aes_modes.h"
#include "com/com_text.h"
#include "hash/digest.h"
#include "hash/hmac.h"
#include "objects/frame.h"
#include "random/random.h"

#include <cctype>
#include <cstring>
#include <new>
#include <stdexcept>
#include <string>

namespace {

struct Algorithm {
    const char* name;
    CZELCryptoCipher::Mode mode;
    uint32_t keyBytes;
};

const Algorithm kAlgorithms[] = {
    {"AES-128-GCM", CZELCryptoCipher::Mode::kGcm, 16}, {"AES-192-GCM", CZELCryptoCipher::Mode::kGcm, 24},
    {"AES-256-GCM", CZELCryptoCipher::Mode::kGcm, 32}, {"AES-128-CBC", CZELCryptoCipher::Mode::kCbc, 16},
    {"AES-192-CBC", CZELCryptoCipher::Mode::kCbc, 24}, {"AES-256-CBC", CZELCryptoCipher::Mode::kCbc, 32},
    {"AES-128-CTR", CZELCryptoCipher::Mode::kCtr, 16}, {"AES-192-CTR", CZELCryptoCipher::Mode::kCtr, 24},
    {"AES-256-CTR", CZELCryptoCipher::Mode::kCtr, 32},
};

constexpr uint32_t kBlock = 16;
constexpr uint32_t kGcmDrawnIv = 12;
// openssl enc's header: the magic, then an 8-byte salt.
const char kSaltedMagic[] = "Salted__";
constexpr uint32_t kMagicLength = 8;
constexpr uint32_t kSaltLength = 8;

bool SameText(const std::string& a, const char* b)
{
    if (a.size() != std::strlen(b))
        return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::toupper(static_cast<unsigned char>(a[i])) != std::toupper(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

const Algorithm* FindAlgorithm(CZELCryptoCipher::Mode mode, uint32_t keyBytes)
{
    for (const Algorithm& a : kAlgorithms)
        if (a.mode == mode && a.keyBytes == keyBytes)
            return &a;
    return nullptr;
}

XBlob SystemBytes(uint32_t count)
{
    XBlob bytes(count);
    bytes.SetLength(count);
    SystemEntropy(bytes.Data(), count);
    return bytes;
}

HRESULT ToBstr(const char* text, BSTR* out)
{
    if (!out)
        return E_POINTER;
    *out = nullptr;
    try {
        *out = zel::AnsiToBstr(text);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

const char kIvLength[] = "IV must be 16 bytes for CBC and CTR, and not empty for GCM";
const char kNoIv[] = "No IV: set IV before Decrypt";

} // namespace

CZELCryptoCipher::CZELCryptoCipher(IUnknown* outer) : CZELCryptoObject(outer, CLSID_ZELCryptoCipher) {}

STDMETHODIMP CZELCryptoCipher::get_Algorithm(BSTR* name)
{
    return ToBstr(FindAlgorithm(mode_, keyBytes_)->name, name);
}

STDMETHODIMP CZELCryptoCipher::put_Algorithm(BSTR name)
{
    Frame f(Identity());
    return f.Call({}, [&]() -> HRESULT {
        const std::string text = zel::BstrToAnsi(name);
        for (const Algorithm& a : kAlgorithms) {
            if (SameText(text, a.name)) {
                mode_ = a.mode;
                keyBytes_ = a.keyBytes;
                return S_OK;
            }
        }
        throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
    });
}

STDMETHODIMP CZELCryptoCipher::get_Key(IDispatch** key)
{
    Frame f(Identity());
    return f.Call({}, key, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(key_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::put_Key(IDispatch* key)
{
    Frame f(Identity());
    return f.Call({key}, [&]() -> HRESULT {
        if (f.Source(0).Length() != keyBytes_)
            throw XCryptoAlarm(XMessage::kInvalidKey);
        key_.Assign(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::get_IV(IDispatch** iv)
{
    Frame f(Identity());
    return f.Call({}, iv, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(iv_.Length() ? iv_ : drawnIv_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::put_IV(IDispatch* iv)
{
    Frame f(Identity());
    return f.Call({iv}, [&]() -> HRESULT {
        const uint32_t n = f.Source(0).Length();
        // Empty: back to a fresh IV for every Encrypt.
        if (n != 0 && mode_ != Mode::kGcm && n != kBlock)
            return Identity().ReportError(kIvLength, E_INVALIDARG, GUID_NULL);
        iv_.Assign(f.Source(0));
        drawnIv_.Clear();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::get_Padding(BSTR* name)
{
    return ToBstr(padding_ ? "PKCS7" : "None", name);
}

STDMETHODIMP CZELCryptoCipher::put_Padding(BSTR name)
{
    Frame f(Identity());
    return f.Call({}, [&]() -> HRESULT {
        const std::string text = zel::BstrToAnsi(name);
        if (SameText(text, "PKCS7"))
            padding_ = true;
        else if (SameText(text, "None"))
            padding_ = false;
        else
            throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::get_AAD(IDispatch** aad)
{
    Frame f(Identity());
    return f.Call({}, aad, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(aad_);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::put_AAD(IDispatch* aad)
{
    Frame f(Identity());
    return f.Call({aad}, [&]() -> HRESULT {
        aad_.Assign(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::get_TagLength(LONG* bytes)
{
    if (!bytes)
        return E_POINTER;
    *bytes = LONG(tagLength_);
    return S_OK;
}

STDMETHODIMP CZELCryptoCipher::put_TagLength(LONG bytes)
{
    SetErrorInfo(0, nullptr);
    if (bytes < 12 || bytes > 16)
        return E_INVALIDARG;
    tagLength_ = uint32_t(bytes);
    return S_OK;
}

STDMETHODIMP CZELCryptoCipher::get_Iterations(LONG* count)
{
    if (!count)
        return E_POINTER;
    *count = LONG(iterations_);
    return S_OK;
}

STDMETHODIMP CZELCryptoCipher::put_Iterations(LONG count)
{
    SetErrorInfo(0, nullptr);
    if (count < 1)
        return E_INVALIDARG;
    iterations_ = uint32_t(count);
    return S_OK;
}

void CZELCryptoCipher::RequireKey() const
{
    if (key_.Length() != keyBytes_)
        throw XCryptoAlarm(XMessage::kInvalidKey);
}

XBlob CZELCryptoCipher::IvForEncrypt()
{
    XBlob iv;
    if (iv_.Length()) {
        iv.Assign(iv_);
    } else {
        iv = SystemBytes(mode_ == Mode::kGcm ? kGcmDrawnIv : kBlock);
    }
    if (mode_ == Mode::kGcm) {
        // One key and one IV encrypt one message: a second one under the
        // same pair gives away the authentication key.
        XBlob pair(key_.Length() + iv.Length());
        pair.Append(key_);
        pair.Append(iv);
        const XBlob digest = DigestSHA1(pair);
        const std::string id(reinterpret_cast<const char*>(digest.Data()), digest.Length());
        if (!usedGcmNonces_.insert(id).second)
            throw XCryptoAlarm(XMessage::kInvalidKey);
    }
    if (!iv_.Length())
        drawnIv_.Assign(iv);
    return iv;
}

const XBlob& CZELCryptoCipher::IvForDecrypt() const
{
    return iv_.Length() ? iv_ : drawnIv_;
}

STDMETHODIMP CZELCryptoCipher::Encrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        RequireKey();
        const XBlob& plain = f.Source(0);
        if (mode_ != Mode::kGcm && iv_.Length() && iv_.Length() != kBlock)
            return Identity().ReportError(kIvLength, E_INVALIDARG, GUID_NULL);
        if (mode_ == Mode::kCbc && !padding_ && plain.Length() % kBlock)
            return E_INVALIDARG;
        const XBlob iv = IvForEncrypt();
        switch (mode_) {
        case Mode::kGcm: f.Result() = XAesGcm(key_).Seal(iv, aad_, plain, tagLength_); break;
        case Mode::kCbc: f.Result() = AesCbcEncrypt(key_, iv, plain, padding_); break;
        case Mode::kCtr: f.Result() = AesCtr(key_, iv, plain); break;
        }
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        RequireKey();
        const XBlob& iv = IvForDecrypt();
        if (!iv.Length())
            return Identity().ReportError(kNoIv, E_INVALIDARG, GUID_NULL);
        if (mode_ != Mode::kGcm && iv.Length() != kBlock)
            return Identity().ReportError(kIvLength, E_INVALIDARG, GUID_NULL);
        const XBlob& data = f.Source(0);
        switch (mode_) {
        case Mode::kGcm: f.Result() = XAesGcm(key_).Open(iv, aad_, data, tagLength_); break;
        case Mode::kCbc: f.Result() = AesCbcDecrypt(key_, iv, data, padding_); break;
        case Mode::kCtr: f.Result() = AesCtr(key_, iv, data); break;
        }
        return S_OK;
    });
}

// openssl enc -pbkdf2: key and IV from PBKDF2-HMAC-SHA256 over the password
// and the file's salt.  GCM algorithms write and read CBC of the same key
// size: the file format has no place for a tag.
namespace {

struct PasswordKeys {
    XBlob key;
    XBlob iv;
};

PasswordKeys DeriveFileKeys(const XBlob& password, const XBlob& salt, uint32_t iterations, uint32_t keyBytes)
{
    const XBlob both = Pbkdf2(*FindHashAlgorithmByName("SHA256"), password, salt, iterations, keyBytes + kBlock);
    PasswordKeys keys;
    keys.key.AppendBytes(both.Data(), keyBytes);
    keys.iv.AppendBytes(both.Data() + keyBytes, kBlock);
    return keys;
}

} // namespace

STDMETHODIMP CZELCryptoCipher::EncryptPassword(IDispatch* password, IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({password, src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        const XBlob& plain = f.Source(1);
        const bool ctr = mode_ == Mode::kCtr;
        if (!ctr && !padding_ && plain.Length() % kBlock)
            return E_INVALIDARG;
        const XBlob salt = SystemBytes(kSaltLength);
        const PasswordKeys keys = DeriveFileKeys(f.Source(0), salt, iterations_, keyBytes_);
        const XBlob body = ctr ? AesCtr(keys.key, keys.iv, plain) : AesCbcEncrypt(keys.key, keys.iv, plain, padding_);
        XBlob& out = f.Result();
        out.SetLength(0);
        out.AppendBytes(kSaltedMagic, kMagicLength);
        out.Append(salt);
        out.Append(body);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoCipher::DecryptPassword(IDispatch* password, IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({password, src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        const XBlob& file = f.Source(1);
        if (file.Length() < kMagicLength + kSaltLength || std::memcmp(file.Data(), kSaltedMagic, kMagicLength) != 0)
            throw XCryptoAlarm(XMessage::kUnableToDecrypt);
        XBlob salt, body;
        salt.AppendBytes(file.Data() + kMagicLength, kSaltLength);
        body.AppendBytes(file.Data() + kMagicLength + kSaltLength, file.Length() - kMagicLength - kSaltLength);
        const PasswordKeys keys = DeriveFileKeys(f.Source(0), salt, iterations_, keyBytes_);
        f.Result() = mode_ == Mode::kCtr ? AesCtr(keys.key, keys.iv, body)
                                         : AesCbcDecrypt(keys.key, keys.iv, body, padding_);
        return S_OK;
    });
}
