// zelcrypto.dll: the class table and the four exported entry points.
#include "com/com_dispatch.h"
#include "com/com_server.h"
#include "objects/cipher_object.h"
#include "objects/frame.h"
#include "objects/hash_object.h"
#include "objects/misc.h"
#include "objects/pgp_object.h"
#include "objects/rsa_object.h"
#include "objects/symmetric.h"

namespace {

// {BADEE840-3BEB-4D0F-A2EB-AA475BEAE432}
constexpr GUID kAppId = {0xbadee840, 0x3beb, 0x4d0f, {0xa2, 0xeb, 0xaa, 0x47, 0x5b, 0xea, 0xe4, 0x32}};

const zel::ClassEntry kClasses[] = {
    {&CLSID_ZELCryptoMisc, L"Valdergast.ZELCryptoMisc", zel::CreateComObject<CZELCryptoMisc>},
    {&CLSID_ZELCryptoRSA, L"Valdergast.ZELCryptoRSA", zel::CreateComObject<CZELCryptoRSA>},
    {&CLSID_ZELCryptoAES, L"Valdergast.ZELCryptoAES", zel::CreateComObject<CZELCryptoAES>},
    {&CLSID_ZELCryptoTwofish, L"Valdergast.ZELCryptoTwofish", zel::CreateComObject<CZELCryptoTwofish>},
    {&CLSID_ZELCryptoBlowfish, L"Valdergast.ZELCryptoBlowfish", zel::CreateComObject<CZELCryptoBlowfish>},
    {&CLSID_ZELCryptoCast, L"Valdergast.ZELCryptoCast", zel::CreateComObject<CZELCryptoCast>},
    {&CLSID_ZELCryptoTripleDES, L"Valdergast.ZELCryptoTripleDES", zel::CreateComObject<CZELCryptoTripleDES>},
    {&CLSID_ZELCryptoPGP, L"Valdergast.ZELCryptoPGP", zel::CreateComObject<CZELCryptoPGP>},
    // Classes added after the first release count their own versions.
    {&CLSID_ZELCryptoHash, L"Valdergast.ZELCryptoHash", zel::CreateComObject<CZELCryptoHash>, L"1"},
    {&CLSID_ZELCryptoCipher, L"Valdergast.ZELCryptoCipher", zel::CreateComObject<CZELCryptoCipher>, L"1"},
};

const zel::ServerInfo kServer = {
    kClasses, sizeof(kClasses) / sizeof(kClasses[0]), L"2", &LIBID_cryptoLib, 2, 0, 1033,
    &kAppId,  L"ZELCrypto", L"zelcrypto.DLL",
};

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    // On FreeLibrary (not at process exit) let go of the cached type library.
    if (reason == DLL_PROCESS_DETACH && !reserved) {
        zel::ReleaseTypeLibrary();
        ForgetBlobFactories();
    }
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    return zel::GetClassObject(kServer, clsid, riid, out);
}

STDAPI DllCanUnloadNow()
{
    const HRESULT hr = zel::CanUnloadNow();
    // No object of ours is left to create result blobs: the kept class
    // objects must not hold the blob component once we are gone.
    if (hr == S_OK)
        ReleaseBlobFactories();
    return hr;
}

STDAPI DllRegisterServer()
{
    return zel::RegisterServer(kServer);
}

STDAPI DllUnregisterServer()
{
    return zel::UnregisterServer(kServer);
}

} // extern "C"
