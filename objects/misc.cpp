#include "objects/misc.h"

#include "objects/frame.h"

#include "blob/izelblob.h"
#include "com/com_dispatch.h"

#include "hash/crc.h"
#include "hash/digest.h"
#include "hash/s2k.h"
#include "random/random.h"

#include <new>

namespace {

// The longest key Keygen derives, in bytes.
constexpr LONG kMaxKeygenLength = 65536;

// A position inside a buffer or at its end.
bool InRange(LONG pos, const XBlob& blob)
{
    return pos >= 0 && uint32_t(pos) <= blob.Length();
}

// A new blob holding fn(src).
template <class Fn>
HRESULT Digest(const ClassIdentity& identity, IDispatch* src, IDispatch** dest, Fn fn)
{
    Frame f(identity);
    return f.Call({src}, dest, Frame::kClearResult, [&]() -> HRESULT {
        f.Result() = fn(f.Source(0));
        return S_OK;
    });
}

template <class Crc>
HRESULT Checksum(const ClassIdentity& identity, IDispatch* src, ULONG* dest)
{
    if (!dest)
        return E_POINTER;
    Frame f(identity);
    return f.Call({src}, [&]() -> HRESULT {
        Crc crc;
        *dest = crc.Compute(f.Source(0));
        return S_OK;
    });
}

} // namespace

CZELCryptoMisc::CZELCryptoMisc(IUnknown* outer) : CZELCryptoObject(outer, CLSID_ZELCryptoMisc) {}

STDMETHODIMP CZELCryptoMisc::MD5(IDispatch* src, IDispatch** dest)
{
    return Digest(Identity(), src, dest, DigestMD5);
}

STDMETHODIMP CZELCryptoMisc::SHA1(IDispatch* src, IDispatch** dest)
{
    return Digest(Identity(), src, dest, DigestSHA1);
}

STDMETHODIMP CZELCryptoMisc::Ripemd(IDispatch* src, IDispatch** dest)
{
    return Digest(Identity(), src, dest, DigestRipemd160);
}

STDMETHODIMP CZELCryptoMisc::CRC32(IDispatch* src, ULONG* dest)
{
    return Checksum<XCrc32>(Identity(), src, dest);
}

STDMETHODIMP CZELCryptoMisc::CRC24(IDispatch* src, ULONG* dest)
{
    return Checksum<XCrc24>(Identity(), src, dest);
}

STDMETHODIMP CZELCryptoMisc::Random(LONG src, IDispatch** dest)
{
    if (!dest)
        return E_POINTER;
    *dest = nullptr;
    // A negative count is a script's way of asking for 2^31 bytes or more.
    if (src < 0)
        return E_INVALIDARG;
    if (const VARIANT* byValue = zel::ByValueArgument(1)) {
        // JScript passes every argument by value: a new blob could never
        // reach the script, so the blob it names is filled in place.  Any
        // other value cannot receive bytes.
        IDispatch* target = V_VT(byValue) == VT_DISPATCH ? V_DISPATCH(byValue) : nullptr;
        IUnknown* blob = nullptr;
        if (!target || FAILED(target->QueryInterface(IID_IZELBlob, reinterpret_cast<void**>(&blob))))
            return E_INVALIDARG;
        blob->Release();
        Frame f(Identity());
        return f.Call({target}, [&]() -> HRESULT {
            f.Source(0).Assign(RandomBlob(uint32_t(src)));
            return S_OK;
        });
    }
    Frame f(Identity());
    return f.Call({}, dest, Frame::kKeepResult, [&]() -> HRESULT {
        f.Result() = RandomBlob(uint32_t(src));
        return S_OK;
    });
}

STDMETHODIMP CZELCryptoMisc::Keygen(LONG hash, LONG length, IDispatch* password, IDispatch* salt, LONG passes,
                                    IDispatch** result)
{
    if (!result)
        return E_POINTER;
    Frame f(Identity());
    HRESULT hr = f.AddSource(password);
    if (FAILED(hr))
        return hr;
    // The salt only counts for the string-to-key functions, and only when it
    // is a blob; anything else means "no salt".
    const bool salted = hash != 0 && f.AddOptionalSource(salt);
    if (FAILED(hr = f.AddResult()) || FAILED(hr = f.Open()))
        return hr;
    hr = f.Run([&]() -> HRESULT {
        // A blob longer than 2^31 - 1 bytes cannot be shown to a script
        // (Length is a long): refuse such a request as out of memory, at once.
        if (length < 0)
            throw std::bad_alloc();
        // Keys are short; the cap keeps one call from tying up the thread
        // with megabytes of derivation.
        if (length > kMaxKeygenLength)
            return E_INVALIDARG;
        const XBlob& secret = f.Source(0);
        const uint32_t size = uint32_t(length);
        const uint8_t id = uint8_t(hash & 0xFF);
        // Keygen derives with the three hashes its type library names
        // (ZelHashId); the engine's table has more, for the newer classes.
        if (hash != 0 && (id < 1 || id > 3))
            throw XCryptoAlarm(XMessage::kUnsupportedAlgorithm);
        if (hash == 0)
            f.Result() = ExpandSeed(secret, size);
        else if (salted && f.Source(1).Length() > 0 && passes != 0)
            f.Result() = S2KIterated(id, size, secret, f.Source(1), uint32_t(passes));
        else if (salted && f.Source(1).Length() > 0)
            f.Result() = S2KSalted(id, size, secret, f.Source(1));
        else
            f.Result() = S2KSimple(id, size, secret);
        return S_OK;
    });
    return FAILED(hr) ? hr : f.HandOut(result);
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
    if (!val)
        return E_POINTER;
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
