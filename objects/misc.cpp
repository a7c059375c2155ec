#include "objects/misc.h"

#include "objects/frame.h"

namespace {

// A position inside a buffer or at its end.
bool InRange(LONG pos, const XBlob& blob)
{
    return pos >= 0 && uint32_t(pos) <= blob.Length();
}

} // namespace

CZELCryptoMisc::CZELCryptoMisc(IUnknown* outer) : CZELCryptoObject(outer, CLSID_ZELCryptoMisc) {}

STDMETHODIMP CZELCryptoMisc::MD5(IDispatch*, IDispatch**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::SHA1(IDispatch*, IDispatch**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::Random(LONG, IDispatch**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::CRC32(IDispatch*, ULONG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::Ripemd(IDispatch*, IDispatch**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::Keygen(LONG, LONG, IDispatch*, IDispatch*, LONG, IDispatch**)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::CRC24(IDispatch*, ULONG*)
{
    return E_NOTIMPL;
}

STDMETHODIMP CZELCryptoMisc::InsertLongToBlob(IDispatch* src, LONG pos, LONG val)
{
    Frame f(Identity());
    return f.Call({src}, [&]() -> HRESULT {
        XBlob& target = f.Source(0);
        if (!InRange(pos, target))
            return E_INVALIDARG;
        XBlob number;
        number.AppendLong(uint32_t(val));
        target.Insert(number, uint32_t(pos));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoMisc::ExtractLongFromBlob(IDispatch* src, LONG pos, LONG* val)
{
    Frame f(Identity());
    return f.Call({src}, [&]() -> HRESULT {
        XBlob& target = f.Source(0);
        // Four bytes must stand at pos: a short read would return a number made
        // up of bytes the blob does not hold, and destroy the ones it does.
        if (!InRange(pos, target) || target.Length() - uint32_t(pos) < 4)
            return E_INVALIDARG;
        *val = LONG(target.ReadLong(uint32_t(pos)));
        target.Erase(uint32_t(pos), 4);
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoMisc::InsertBlobToBlob(IDispatch* src, LONG pos, IDispatch* val)
{
    Frame f(Identity());
    return f.Call({src, val}, [&]() -> HRESULT {
        XBlob& target = f.Source(0);
        if (!InRange(pos, target))
            return E_INVALIDARG;
        // The item is built whole before it goes in, so val may be src itself.
        XBlob item;
        item.AppendItem(f.Source(1));
        target.Insert(item, uint32_t(pos));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoMisc::ExtractBlobFromBlob(IDispatch* src, LONG pos, IDispatch** val)
{
    Frame f(Identity());
    return f.Call({src}, val, Frame::kClearResult, [&]() -> HRESULT {
        XBlob& target = f.Source(0);
        if (!InRange(pos, target))
            return E_INVALIDARG;
        const uint32_t next = target.ExtractItem(uint32_t(pos), f.Result());
        target.Erase(uint32_t(pos), next - uint32_t(pos));
        return S_OK;
    });
}
