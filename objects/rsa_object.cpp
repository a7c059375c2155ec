#include "objects/rsa_object.h"

#include "objects/frame.h"

CZELCryptoRSA::CZELCryptoRSA(IUnknown* outer) : CZELCryptoObject(outer, CLSID_ZELCryptoRSA) {}

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
        f.Result().Assign(engine_.ExportPublicKey());
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
        f.Result().Assign(engine_.ExportPrivateKey());
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
        f.Result().Assign(engine_.Encrypt(f.Source(0)));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(engine_.Decrypt(f.Source(0)));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoRSA::Sign(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result().Assign(engine_.Sign(f.Source(0)));
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
