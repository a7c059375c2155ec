// What the COM layer costs: each class's cheapest call and its bulk call,
// through IDispatch and through the vtable, beside the engine alone on the
// same bytes and beside Scripting.Dictionary.Exists, all in this one process.
// Prints nanoseconds per call and the ratios; run it with
//   tools/zelwine win64 exec build/win64/bin/com_bench.exe [rounds]
#include "blob/izelblob.h"
#include "cipher/aes.h"
#include "hash/digest.h"
#include "pgp/message.h"
#include "server/zelcrypto.h"
#include "zelblob/zelblob.h"

#include <windows.h>
#include <oleauto.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>

namespace {

void Check(HRESULT hr, const char* what)
{
    if (FAILED(hr)) {
        std::fprintf(stderr, "%s failed: 0x%08lx\n", what, static_cast<unsigned long>(hr));
        std::exit(2);
    }
}

double Now()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER t;
    QueryPerformanceCounter(&t);
    return double(t.QuadPart) / double(frequency.QuadPart);
}

int g_rounds = 5;

// Nanoseconds per call of `call`, the best of several rounds of `count` calls.
double PerCall(long count, const std::function<void()>& call)
{
    double best = 1e30;
    for (int r = 0; r < g_rounds; ++r) {
        const double start = Now();
        for (long i = 0; i < count; ++i)
            call();
        best = std::min(best, (Now() - start) / double(count) * 1e9);
    }
    return best;
}

template <class T>
T* Create(REFCLSID clsid, REFIID iid)
{
    T* p = nullptr;
    Check(CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, iid, reinterpret_cast<void**>(&p)), "CoCreateInstance");
    return p;
}

// A blob object holding `length` bytes counting up, and its buffer.
IDispatch* NewBlob(uint32_t length, XBlob** buffer = nullptr)
{
    IDispatch* blob = Create<IDispatch>(CLSID_ZELBlob, IID_IDispatch);
    IZELBlob* inner = nullptr;
    Check(blob->QueryInterface(IID_IZELBlob, reinterpret_cast<void**>(&inner)), "QueryInterface(IZELBlob)");
    XBlob* bytes = nullptr;
    Check(inner->GetBuffer(&bytes), "GetBuffer");
    bytes->SetLength(length);
    for (uint32_t i = 0; i < length; ++i)
        bytes->At(i) = uint8_t(i);
    inner->Release();
    if (buffer)
        *buffer = bytes;
    return blob;
}

DISPID IdOf(IDispatch* object, const wchar_t* name)
{
    DISPID id = 0;
    LPOLESTR names[] = {const_cast<LPOLESTR>(name)};
    Check(object->GetIDsOfNames(IID_NULL, names, 1, LOCALE_USER_DEFAULT, &id), "GetIDsOfNames");
    return id;
}

// object.member(argument) through IDispatch::Invoke, as a script host calls it.
void InvokeMethod(IDispatch* object, DISPID member, VARIANT& argument, VARIANT& result)
{
    DISPPARAMS params = {&argument, nullptr, 1, 0};
    Check(object->Invoke(member, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, &result, nullptr, nullptr),
          "Invoke");
    VariantClear(&result);
}

VARIANT DispatchArgument(IDispatch* p)
{
    VARIANT v;
    VariantInit(&v);
    V_VT(&v) = VT_DISPATCH;
    V_DISPATCH(&v) = p;
    return v;
}

void Line(const char* what, double ns, double peer, const char* peerName)
{
    std::printf("%-44s %12.0f ns   %6.2fx %s\n", what, ns, ns / peer, peerName);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc > 1)
        g_rounds = std::max(1, std::atoi(argv[1]));
    Check(CoInitialize(nullptr), "CoInitialize");
    {
        VARIANT result;
        VariantInit(&result);

        // The peer: a dictionary of the system's script runtime, Exists on a missing key.
        CLSID dictionaryClsid;
        Check(CLSIDFromProgID(L"Scripting.Dictionary", &dictionaryClsid), "CLSIDFromProgID(Scripting.Dictionary)");
        IDispatch* dictionary = Create<IDispatch>(dictionaryClsid, IID_IDispatch);
        const DISPID exists = IdOf(dictionary, L"Exists");
        VARIANT key;
        VariantInit(&key);
        V_VT(&key) = VT_BSTR;
        V_BSTR(&key) = SysAllocString(L"abcd");

        IZELCryptoMisc* misc = Create<IZELCryptoMisc>(CLSID_ZELCryptoMisc, IID_IZELCryptoMisc);
        const DISPID crc32 = IdOf(misc, L"CRC32");
        const DISPID sha1 = IdOf(misc, L"SHA1");
        IDispatch* small = NewBlob(4);
        VARIANT smallArg = DispatchArgument(small);

        const long n = 20000;
        const double empty = PerCall(n, [] {});
        const double dictExists = PerCall(n, [&] { InvokeMethod(dictionary, exists, key, result); }) - empty;
        std::printf("rounds: best of %d\n", g_rounds);
        std::printf("%-44s %12.0f ns\n", "Dictionary.Exists (IDispatch)", dictExists);

        const double crcDisp = PerCall(n, [&] { InvokeMethod(misc, crc32, smallArg, result); }) - empty;
        const double crcVtbl = PerCall(n, [&] {
            ULONG crc = 0;
            Check(misc->CRC32(small, &crc), "CRC32");
        }) - empty;
        const double sha1Disp = PerCall(n / 4, [&] { InvokeMethod(misc, sha1, smallArg, result); }) - empty;
        const double sha1Vtbl = PerCall(n / 4, [&] {
            IDispatch* digest = nullptr;
            Check(misc->SHA1(small, &digest), "SHA1");
            digest->Release();
        }) - empty;
        XBlob fourBytes;
        fourBytes.SetLength(4);
        const double sha1Engine = PerCall(n, [&] { volatile uint32_t k = DigestSHA1(fourBytes).Length(); (void)k; });
        Line("misc.CRC32 4 B (IDispatch)", crcDisp, dictExists, "Dictionary.Exists");
        Line("misc.CRC32 4 B (vtable)", crcVtbl, dictExists, "Dictionary.Exists");
        Line("misc.SHA1 4 B (IDispatch)", sha1Disp, dictExists, "Dictionary.Exists");
        Line("misc.SHA1 4 B (vtable)", sha1Vtbl, dictExists, "Dictionary.Exists");
        Line("misc.SHA1 4 B (engine alone)", sha1Engine, dictExists, "Dictionary.Exists");

        // AES-256 CBC, the class and the engine keyed alike.
        IZELCryptoSymmetric* aes = Create<IZELCryptoSymmetric>(CLSID_ZELCryptoAES, IID_IZELCryptoSymmetric);
        IDispatch* material = NewBlob(32);
        Check(aes->Keygen(material, 32), "Keygen");
        Check(aes->put_mode(2), "put_mode");
        XBlob* materialBytes = nullptr;
        material->Release();
        material = NewBlob(32, &materialBytes);
        XAes engine;
        engine.Setup(2, 0);
        engine.MakeKey(*materialBytes, 32);
        const DISPID encrypt = IdOf(aes, L"Encrypt");

        XBlob* blockBytes = nullptr;
        IDispatch* block = NewBlob(16, &blockBytes);
        VARIANT blockArg = DispatchArgument(block);
        const double aesSmallDisp = PerCall(n / 4, [&] { InvokeMethod(aes, encrypt, blockArg, result); }) - empty;
        const double aesSmallEngine = PerCall(n / 4, [&] { XBlob out = engine.Encrypt(*blockBytes); }) - empty;
        Line("aes.Encrypt 16 B (IDispatch)", aesSmallDisp, dictExists, "Dictionary.Exists");
        Line("aes.Encrypt 16 B (engine alone)", aesSmallEngine, dictExists, "Dictionary.Exists");

        const uint32_t bulkLength = 16u << 20;
        XBlob* bulkBytes = nullptr;
        IDispatch* bulk = NewBlob(bulkLength, &bulkBytes);
        VARIANT bulkArg = DispatchArgument(bulk);
        const long bulkCalls = 4;
        const double aesEngine = PerCall(bulkCalls, [&] { XBlob out = engine.Encrypt(*bulkBytes); });
        const double aesDisp = PerCall(bulkCalls, [&] { InvokeMethod(aes, encrypt, bulkArg, result); });
        const double aesVtbl = PerCall(bulkCalls, [&] {
            IDispatch* out = nullptr;
            Check(aes->Encrypt(bulk, &out), "Encrypt");
            out->Release();
        });
        Line("aes.Encrypt 16 MiB (engine alone)", aesEngine, aesEngine, "engine");
        Line("aes.Encrypt 16 MiB (IDispatch)", aesDisp, aesEngine, "engine");
        Line("aes.Encrypt 16 MiB (vtable)", aesVtbl, aesEngine, "engine");

        // OpenPGP: SHA-256 iterated S2K, AES-256.
        IZELCryptoPGP* pgp = Create<IZELCryptoPGP>(CLSID_ZELCryptoPGP, IID_IZELCryptoPGP);
        Check(pgp->Init(8, 9, 3, 96), "Init");
        Check(pgp->put_password(material), "put_password");
        XPgpMessage message;
        message.SetAlgorithms(8, 9);
        message.SetS2K(3, 96);
        message.SetPassword(*materialBytes);
        const DISPID pgpEncrypt = IdOf(pgp, L"Encrypt");
        const double pgpEngine = PerCall(bulkCalls, [&] { XBlob out = message.Encrypt(*bulkBytes); });
        const double pgpDisp = PerCall(bulkCalls, [&] { InvokeMethod(pgp, pgpEncrypt, bulkArg, result); });
        Line("pgp.Encrypt 16 MiB (engine alone)", pgpEngine, pgpEngine, "engine");
        Line("pgp.Encrypt 16 MiB (IDispatch)", pgpDisp, pgpEngine, "engine");

        pgp->Release();
        bulk->Release();
        block->Release();
        material->Release();
        aes->Release();
        small->Release();
        misc->Release();
        VariantClear(&key);
        dictionary->Release();
    }
    CoUninitialize();
    return 0;
}
