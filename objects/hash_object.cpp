#include "objects/hash_object.h"

#include "com/com_text.h"
#include "hash/hmac.h"
#include "objects/frame.h"

#include <new>
#include <string>

namespace {

// The longest PBKDF2 or HKDF output handed to a script, in bytes: keys are
// short, and the cap keeps one call from running for minutes.
constexpr LONG kMaxDerivedLength = 65536;

} // namespace

CZELCryptoHash::CZELCryptoHash(IUnknown* outer)
    : CZELCryptoObject(outer, CLSID_ZELCryptoHash), algorithm_(FindHashAlgorithmByName("SHA256"))
{
}

STDMETHODIMP CZELCryptoHash::get_Algorithm(BSTR* name)
{
    if (!name)
        return E_POINTER;
    *name = nullptr;
    try {
        *name = zel::AnsiToBstr(algorithm_->name);
    } catch (const std::bad_alloc&) {
        return E_OUTOFMEMORY;
    }
    return S_OK;
}

STDMETHODIMP CZELCryptoHash::put_Algorithm(BSTR name)
{
    Frame f(Identity());
    return f.Call({}, [&]() -> HRESULT {
        const XHashAlgorithm* row = FindHashAlgorithmByName(zel::BstrToAnsi(name).c_str());
        if (!row)
            throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
        algorithm_ = row;
        running_.reset();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Hash(IDispatch* data, IDispatch** digest)
{
    Frame f(Identity());
    return f.Call({data}, digest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = algorithm_->oneShot(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Update(IDispatch* data)
{
    Frame f(Identity());
    return f.Call({data}, [&]() -> HRESULT {
        if (!running_)
            running_ = algorithm_->newContext();
        running_->Update(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Final(IDispatch** digest)
{
    Frame f(Identity());
    return f.Call({}, digest, Frame::kClearResult, [&]() -> HRESULT {
        // Final without Update is the digest of no bytes.
        if (!running_)
            running_ = algorithm_->newContext();
        f.Result() = running_->Finish();
        running_.reset();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Hmac(IDispatch* key, IDispatch* data, IDispatch** mac)
{
    Frame f(Identity());
    return f.Call({key, data}, mac, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = ::Hmac(*algorithm_, f.Source(0), f.Source(1));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Pbkdf2(IDispatch* password, IDispatch* salt, LONG iterations, LONG length,
                                    IDispatch** derived)
{
    if (!derived)
        return E_POINTER;
    *derived = nullptr;
    Frame f(Identity()); // clears the thread's error record first
    if (iterations < 1 || length < 1 || length > kMaxDerivedLength)
        return E_INVALIDARG;
    return f.Call({password, salt}, derived, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = ::Pbkdf2(*algorithm_, f.Source(0), f.Source(1), uint32_t(iterations), uint32_t(length));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoHash::Hkdf(IDispatch* ikm, IDispatch* salt, IDispatch* info, LONG length, IDispatch** derived)
{
    if (!derived)
        return E_POINTER;
    *derived = nullptr;
    Frame f(Identity()); // clears the thread's error record first
    // RFC 5869 bounds the output at 255 digests.
    if (length < 1 || uint64_t(length) > 255u * algorithm_->digestSize || length > kMaxDerivedLength)
        return E_INVALIDARG;
    HRESULT hr = f.AddSource(ikm);
    if (FAILED(hr))
        return hr;
    // Nothing (or another non-blob) for salt or info means none.
    size_t next = 1;
    const size_t saltIndex = f.AddOptionalSource(salt) ? next++ : 0;
    const size_t infoIndex = f.AddOptionalSource(info) ? next++ : 0;
    if (FAILED(hr = f.AddResult()) || FAILED(hr = f.Open()))
        return hr;
    hr = f.Run([&]() -> HRESULT {
        const XBlob none;
        f.Result() = ::Hkdf(*algorithm_, f.Source(0), saltIndex ? f.Source(saltIndex) : none,
                            infoIndex ? f.Source(infoIndex) : none, uint32_t(length));
        return S_OK;
    });
    return FAILED(hr) ? hr : f.HandOut(derived);
}
