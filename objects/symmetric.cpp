#include "objects/symmetric.h"

#include "objects/frame.h"

STDMETHODIMP CZELCryptoSymmetric::Keygen(IDispatch* inVal, LONG val)
{
    Frame f(Identity());
    return f.Call({inVal}, [&]() -> HRESULT {
        // The length counts bytes; a negative one is a very large one.
        engine_.MakeKey(f.Source(0), uint32_t(val));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoSymmetric::get_Key(IDispatch** pVal)
{
    Frame f(Identity());
    return f.Call({}, pVal, Frame::kKeepResult, [&]() -> HRESULT {
        f.Result() = engine_.GetKey();
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoSymmetric::put_Key(IDispatch* record)
{
    Frame f(Identity());
    return f.Call({record}, [&]() -> HRESULT {
        engine_.SetKey(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoSymmetric::Encrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = engine_.Encrypt(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoSymmetric::Decrypt(IDispatch* src, IDispatch** dest)
{
    Frame f(Identity());
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = engine_.Decrypt(f.Source(0));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoSymmetric::get_Filler(LONG* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = engine_.filler;
    return S_OK;
}

STDMETHODIMP CZELCryptoSymmetric::put_Filler(LONG filler)
{
    engine_.filler = uint8_t(filler);
    return S_OK;
}

STDMETHODIMP CZELCryptoSymmetric::get_mode(LONG* pVal)
{
    if (!pVal)
        return E_POINTER;
    *pVal = engine_.mode;
    return S_OK;
}

STDMETHODIMP CZELCryptoSymmetric::put_mode(LONG mode)
{
    // Any value is kept; only 1 and 2 encipher anything.
    engine_.mode = mode;
    return S_OK;
}
