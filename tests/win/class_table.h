// The classes of zelcrypto.dll as the tests go through them: class and
// interface identifiers, the ProgID an error record names, and the page
// events called through the class's own interface.
#pragma once

#include "support.h"

#include <ostream>
#include <stdexcept>
#include <string>

namespace zeltest {

// OnStartPage and OnEndPage through the vtable of interface Itf, on any
// interface pointer of the object.
template <class Itf>
struct PageCalls {
    static HRESULT Start(IUnknown* object, IUnknown* context)
    {
        ComPtr<Itf> itf;
        const HRESULT hr = object->QueryInterface(__uuidof(Itf), itf.OutVoid());
        if (FAILED(hr) || !itf) {
            ADD_FAILURE() << "the object has no interface for its page events: " << HrText(hr);
            return E_UNEXPECTED;
        }
        return itf->OnStartPage(context);
    }
    static HRESULT End(IUnknown* object)
    {
        ComPtr<Itf> itf;
        const HRESULT hr = object->QueryInterface(__uuidof(Itf), itf.OutVoid());
        if (FAILED(hr) || !itf) {
            ADD_FAILURE() << "the object has no interface for its page events: " << HrText(hr);
            return E_UNEXPECTED;
        }
        return itf->OnEndPage();
    }
};

struct CryptoClass {
    const char* name; // names the parameterized tests
    const CLSID* clsid;
    const IID* iid;
    const wchar_t* versionIndependentProgId;
    const wchar_t* progId; // the ProgID error records name
    HRESULT (*onStartPage)(IUnknown* object, IUnknown* context);
    HRESULT (*onEndPage)(IUnknown* object);
};

#define ZELTEST_CLASS(name, itf, version)                                                                       \
    CryptoClass                                                                                                \
    {                                                                                                          \
        #name, &CLSID_ZELCrypto##name, &IID_##itf, L"Valdergast.ZELCrypto" #name,                              \
            L"Valdergast.ZELCrypto" #name "." #version, PageCalls<itf>::Start, PageCalls<itf>::End             \
    }

// The first eight shipped with version 2 ProgIDs; later classes count from 1.
inline const CryptoClass kCryptoClasses[] = {
    ZELTEST_CLASS(Misc, IZELCryptoMisc, 2),         ZELTEST_CLASS(RSA, IZELCryptoRSA2, 2),
    ZELTEST_CLASS(AES, IZELCryptoSymmetric, 2),     ZELTEST_CLASS(Twofish, IZELCryptoSymmetric, 2),
    ZELTEST_CLASS(Blowfish, IZELCryptoSymmetric, 2), ZELTEST_CLASS(Cast, IZELCryptoSymmetric, 2),
    ZELTEST_CLASS(TripleDES, IZELCryptoSymmetric, 2), ZELTEST_CLASS(PGP, IZELCryptoPGP, 2),
    ZELTEST_CLASS(Hash, IZELCryptoHash, 1),         ZELTEST_CLASS(Cipher, IZELCryptoCipher, 1),
};

#undef ZELTEST_CLASS

inline void PrintTo(const CryptoClass& c, std::ostream* os)
{
    *os << c.name;
}

inline std::string CryptoClassName(const testing::TestParamInfo<CryptoClass>& info)
{
    return info.param.name;
}

// A new object of the class, as its IUnknown; throws when creation fails.
inline ComPtr<IUnknown> NewObject(const CryptoClass& c)
{
    ComPtr<IUnknown> object;
    const HRESULT hr = CoCreateInstance(*c.clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown, object.OutVoid());
    if (FAILED(hr) || !object)
        throw std::runtime_error(std::string("creating a ") + c.name + " object failed: " + HrText(hr));
    return object;
}

} // namespace zeltest
