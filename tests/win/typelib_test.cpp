// The type libraries embedded in zelcrypto.dll and zelblob.dll, read the way
// script hosts and object browsers read them: library attributes, the dual
// interfaces with every member's DISPID, invoke kind, vtable slot, help
// string and parameter names, flags and types, the coclasses with their
// default interfaces, and the enums of named constants.  Names are compared
// with their exact spelling: widl keeps one spelling per name across a type
// library, so a new name elsewhere can re-case a published member or
// parameter.
#include "support.h"

#include "cipher/ciphers.h"
#include "hash/digest.h"

#include <map>
#include <set>
#include <string>
#include <vector>

using namespace zeltest;

namespace {

std::wstring ModuleDir()
{
    wchar_t path[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring dir(path);
    dir.resize(dir.find_last_of(L"\\/") + 1);
    return dir;
}

// The library from a DLL's own resource, without registering anything.
ComPtr<ITypeLib> LoadLib(const wchar_t* dll)
{
    ComPtr<ITypeLib> lib;
    const std::wstring path = ModuleDir() + dll;
    EXPECT_HR(S_OK, LoadTypeLibEx(path.c_str(), REGKIND_NONE, lib.Out()));
    return lib;
}

struct Doc {
    std::wstring name;
    std::wstring help;
    bool hasHelp = false;
};

Doc DocOf(ITypeInfo* info, MEMBERID id)
{
    BSTR name = nullptr, help = nullptr;
    Doc doc;
    if (SUCCEEDED(info->GetDocumentation(id, &name, &help, nullptr, nullptr))) {
        doc.name = name ? name : L"";
        doc.hasHelp = help != nullptr;
        doc.help = help ? help : L"";
    }
    SysFreeString(name);
    SysFreeString(help);
    return doc;
}

// A TYPEATTR copied out, so that nothing needs releasing.
TYPEATTR AttrOf(ITypeInfo* info)
{
    TYPEATTR copy = {};
    TYPEATTR* attr = nullptr;
    if (SUCCEEDED(info->GetTypeAttr(&attr))) {
        copy = *attr;
        info->ReleaseTypeAttr(attr);
    }
    return copy;
}

// A parameter or result type in IDL notation, as far as this library uses
// types: long, unsigned long, BSTR, VARIANT_BOOL, VARIANT, IDispatch*,
// IUnknown* and pointers to them.
std::string TypeText(ITypeInfo* info, const TYPEDESC& type)
{
    switch (type.vt) {
    case VT_PTR:
        return TypeText(info, *type.lptdesc) + "*";
    case VT_I4:
        return "long";
    case VT_UI4:
        return "unsigned long";
    case VT_BSTR:
        return "BSTR";
    case VT_BOOL:
        return "VARIANT_BOOL";
    case VT_VARIANT:
        return "VARIANT";
    case VT_DISPATCH:
        return "IDispatch*";
    case VT_UNKNOWN:
        return "IUnknown*";
    case VT_HRESULT:
        return "HRESULT";
    case VT_VOID:
        return "void";
    case VT_USERDEFINED: {
        ComPtr<ITypeInfo> ref;
        if (FAILED(info->GetRefTypeInfo(type.hreftype, ref.Out())))
            return "?userdefined";
        return Narrow(DocOf(ref.Get(), MEMBERID_NIL).name);
    }
    default:
        return "?vt" + std::to_string(type.vt);
    }
}

std::string FlagText(USHORT flags)
{
    std::string text;
    const std::pair<USHORT, const char*> names[] = {
        {PARAMFLAG_FIN, "in"}, {PARAMFLAG_FOUT, "out"}, {PARAMFLAG_FRETVAL, "retval"},
        {PARAMFLAG_FOPT, "optional"}, {PARAMFLAG_FLCID, "lcid"}, {PARAMFLAG_FHASDEFAULT, "default"}};
    for (const auto& [flag, name] : names) {
        if (flags & flag)
            text += text.empty() ? name : std::string(",") + name;
    }
    return text;
}

// One parameter as the IDL declares it: "[in] IDispatch* src", "IDispatch** dest"
// (no direction attribute), "[in] long" (no name).
struct Param {
    const char* flags;
    const char* type;
    const wchar_t* name; // nullptr: the parameter has no name
};

struct Member {
    const wchar_t* name;
    MEMBERID dispid;
    INVOKEKIND kind;
    const wchar_t* help; // nullptr: no help string
    std::vector<Param> params;
};

// An interface and the members it declares itself; those of `base` come
// before them in the vtable.
struct Interface {
    const wchar_t* name;
    const IID* iid;
    std::vector<Member> members;
    const Interface* base = nullptr; // null: IDispatch
};

// The vtable slot of an interface's first own member: IDispatch's seven, then
// every member of the interfaces it derives from.
UINT FirstSlot(const Interface& itf)
{
    UINT slot = 7;
    for (const Interface* b = itf.base; b; b = b->base)
        slot += UINT(b->members.size());
    return slot;
}

constexpr INVOKEKIND kMethod = INVOKE_FUNC;
constexpr INVOKEKIND kGet = INVOKE_PROPERTYGET;
constexpr INVOKEKIND kPut = INVOKE_PROPERTYPUT;

const Param kPageUnknown{"in", "IUnknown*", L"piUnk"};
const Param kInSrc{"in", "IDispatch*", L"src"};
const Param kOutDest{"out,retval", "IDispatch**", L"dest"};

const Interface kMisc{
    L"IZELCryptoMisc",
    &IID_IZELCryptoMisc,
    {
        {L"OnStartPage", 0x60020000, kMethod, L"method OnStartPage", {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, L"method OnEndPage", {}},
        {L"MD5", 1, kMethod, L"method MD5", {kInSrc, kOutDest}},
        {L"SHA1", 2, kMethod, L"method SHA1", {kInSrc, kOutDest}},
        {L"Random", 3, kMethod, L"method Random", {{"in", "long", L"src"}, {"", "IDispatch**", L"dest"}}},
        {L"CRC32", 4, kMethod, L"method CRC32",
         {{"", "IDispatch*", L"src"}, {"out,retval", "unsigned long*", L"dest"}}},
        {L"InsertLongToBlob", 5, kMethod, L"method InsertLongToBlob",
         {kInSrc, {"in", "long", L"pos"}, {"in", "long", L"val"}}},
        {L"ExtractLongFromBlob", 6, kMethod, L"method ExtractLongFromBlob",
         {kInSrc, {"in", "long", L"pos"}, {"out,retval", "long*", L"val"}}},
        {L"InsertBlobToBlob", 7, kMethod, L"method InsertBlobToBlob",
         {kInSrc, {"in", "long", L"pos"}, {"in", "IDispatch*", L"val"}}},
        {L"ExtractBlobFromBlob", 8, kMethod, L"method ExtractBlobFromBlob",
         {kInSrc, {"in", "long", L"pos"}, {"out,retval", "IDispatch**", L"val"}}},
        {L"Ripemd", 9, kMethod, L"method Ripemd", {kInSrc, kOutDest}},
        {L"Keygen", 10, kMethod, L"method Keygen",
         {{"in", "long", L"hash"},
          {"in", "long", L"length"},
          {"in", "IDispatch*", L"password"},
          {"in", "IDispatch*", L"salt"},
          {"in", "long", L"passes"},
          {"out,retval", "IDispatch**", L"result"}}},
        {L"CRC24", 11, kMethod, L"method CRC24",
         {{"", "IDispatch*", L"src"}, {"out,retval", "unsigned long*", L"dest"}}},
    }};

const Interface kSymmetric{
    L"IZELCryptoSymmetric",
    &IID_IZELCryptoSymmetric,
    {
        {L"OnStartPage", 0x60020000, kMethod, nullptr, {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, nullptr, {}},
        {L"Keygen", 1, kMethod, L"method KeyGen", {{"in", "IDispatch*", L"inVal"}, {"in", "long", L"val"}}},
        {L"Key", 2, kGet, L"property Key", {{"out,retval", "IDispatch**", L"pVal"}}},
        {L"Key", 2, kPut, L"property Key", {{"in", "IDispatch*", nullptr}}},
        {L"Encrypt", 3, kMethod, L"method Encrypt", {kInSrc, kOutDest}},
        {L"Decrypt", 4, kMethod, L"method Decrypt", {kInSrc, kOutDest}},
        {L"Filler", 5, kGet, L"property Filler", {{"out,retval", "long*", L"pVal"}}},
        {L"Filler", 5, kPut, L"property Filler", {{"in", "long", nullptr}}},
        {L"mode", 6, kGet, L"property Mode", {{"out,retval", "long*", L"pVal"}}},
        {L"mode", 6, kPut, L"property Mode", {{"in", "long", nullptr}}},
    }};

const Interface kRsa{
    L"IZELCryptoRSA",
    &IID_IZELCryptoRSA,
    {
        {L"OnStartPage", 0x60020000, kMethod, nullptr, {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, nullptr, {}},
        {L"SetIV", 1, kMethod, L"method SetIV", {{"in", "IDispatch*", L"inVal"}}},
        {L"Keygen", 2, kMethod, L"method KeyGen",
         {{"in", "IDispatch*", L"inVal1"}, {"in", "IDispatch*", L"inVal2"}, {"in", "long", L"val"}}},
        {L"PublicKey", 3, kGet, L"property PublicKey", {{"out,retval", "IDispatch**", L"pVal"}}},
        {L"PublicKey", 3, kPut, L"property PublicKey", {{"in", "IDispatch*", nullptr}}},
        {L"PrivateKey", 4, kGet, L"property PrivateKey", {{"out,retval", "IDispatch**", L"pVal"}}},
        {L"PrivateKey", 4, kPut, L"property PrivateKey", {{"in", "IDispatch*", nullptr}}},
        {L"Encrypt", 5, kMethod, L"method Encrypt", {kInSrc, kOutDest}},
        {L"Decrypt", 6, kMethod, L"method Decrypt", {kInSrc, kOutDest}},
        {L"Sign", 7, kMethod, L"method Sign", {kInSrc, kOutDest}},
        {L"Verify", 8, kMethod, L"method Verify",
         {{"in", "IDispatch*", L"src1"}, {"in", "IDispatch*", L"src2"}, {"out,retval", "long*", L"res"}}},
    }};

const Interface kPgp{
    L"IZELCryptoPGP",
    &IID_IZELCryptoPGP,
    {
        {L"OnStartPage", 0x60020000, kMethod, nullptr, {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, nullptr, {}},
        {L"Init", 1, kMethod, L"method Init",
         {{"in", "long", L"hash"}, {"in", "long", L"alg"}, {"in", "long", L"mode"}, {"in", "long", L"passes"}}},
        {L"password", 2, kPut, L"property Password", {{"in", "IDispatch*", nullptr}}},
        {L"Encrypt", 3, kMethod, L"method Encrypt", {kInSrc, kOutDest}},
        {L"Decrypt", 4, kMethod, L"method Decrypt", {kInSrc, kOutDest}},
        {L"Enarmor", 5, kMethod, L"method Enarmor", {kInSrc, {"out,retval", "BSTR*", L"dest"}}},
        {L"Dearmor", 6, kMethod, L"method Dearmor", {{"in", "BSTR", L"src"}, kOutDest}},
    }};

const Interface kPgp2{
    L"IZELCryptoPGP2",
    &IID_IZELCryptoPGP2,
    {
        {L"Format", 7, kGet, L"Message format: 0 classic, 1 integrity-protected, 2 RFC 9580 AEAD, 3 LibrePGP AEAD",
         {{"out,retval", "long*", L"Format"}}},
        {L"Format", 7, kPut, L"Message format: 0 classic, 1 integrity-protected, 2 RFC 9580 AEAD, 3 LibrePGP AEAD",
         {{"in", "long", L"Format"}}},
        {L"Aead", 8, kGet, L"AEAD mode of formats 2 and 3: 1 EAX, 2 OCB, 3 GCM", {{"out,retval", "long*", L"aeadMode"}}},
        {L"Aead", 8, kPut, L"AEAD mode of formats 2 and 3: 1 EAX, 2 OCB, 3 GCM", {{"in", "long", L"aeadMode"}}},
        {L"ChunkSize", 9, kGet, L"AEAD chunk size octet c, 0 to 16: chunks of 2^(c+6) bytes",
         {{"out,retval", "long*", L"octet"}}},
        {L"ChunkSize", 9, kPut, L"AEAD chunk size octet c, 0 to 16: chunks of 2^(c+6) bytes",
         {{"in", "long", L"octet"}}},
        {L"Compression", 10, kGet, L"Compression: 0 none, 1 ZIP, 2 ZLIB", {{"out,retval", "long*", L"compressionId"}}},
        {L"Compression", 10, kPut, L"Compression: 0 none, 1 ZIP, 2 ZLIB", {{"in", "long", L"compressionId"}}},
    },
    &kPgp};

const Interface kHash{
    L"IZELCryptoHash",
    &IID_IZELCryptoHash,
    {
        {L"OnStartPage", 0x60020000, kMethod, nullptr, {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, nullptr, {}},
        {L"Algorithm", 1, kGet,
         L"The hash: MD5, SHA1, RIPEMD160, SHA224, SHA256, SHA384, SHA512, SHA512/256, SHA3-256, SHA3-512",
         {{"out,retval", "BSTR*", L"name"}}},
        {L"Algorithm", 1, kPut,
         L"The hash: MD5, SHA1, RIPEMD160, SHA224, SHA256, SHA384, SHA512, SHA512/256, SHA3-256, SHA3-512",
         {{"in", "BSTR", L"name"}}},
        {L"hash", 2, kMethod, L"The digest of the data, as a new blob",
         {{"in", "IDispatch*", L"data"}, {"out,retval", "IDispatch**", L"digest"}}},
        {L"Update", 3, kMethod, L"Adds data to the running digest", {{"in", "IDispatch*", L"data"}}},
        {L"Final", 4, kMethod, L"The running digest as a new blob; starts a new one",
         {{"out,retval", "IDispatch**", L"digest"}}},
        {L"Hmac", 5, kMethod, L"HMAC of the data under the key (RFC 2104)",
         {{"in", "IDispatch*", L"Key"}, {"in", "IDispatch*", L"data"}, {"out,retval", "IDispatch**", L"mac"}}},
        {L"Pbkdf2", 6, kMethod, L"PBKDF2 with HMAC of the hash (RFC 8018)",
         {{"in", "IDispatch*", L"password"},
          {"in", "IDispatch*", L"salt"},
          {"in", "long", L"rounds"},
          {"in", "long", L"length"},
          {"out,retval", "IDispatch**", L"derived"}}},
        {L"Hkdf", 7, kMethod, L"HKDF with HMAC of the hash (RFC 5869); salt and info may be Nothing",
         {{"in", "IDispatch*", L"ikm"},
          {"in", "IDispatch*", L"salt"},
          {"in", "IDispatch*", L"info"},
          {"in", "long", L"length"},
          {"out,retval", "IDispatch**", L"derived"}}},
    }};

const Interface kCipher{
    L"IZELCryptoCipher",
    &IID_IZELCryptoCipher,
    {
        {L"OnStartPage", 0x60020000, kMethod, nullptr, {kPageUnknown}},
        {L"OnEndPage", 0x60020001, kMethod, nullptr, {}},
        {L"Algorithm", 1, kGet, L"AES-128-GCM, AES-192-GCM, AES-256-GCM, AES-128-CBC, ..., AES-256-CTR",
         {{"out,retval", "BSTR*", L"name"}}},
        {L"Algorithm", 1, kPut, L"AES-128-GCM, AES-192-GCM, AES-256-GCM, AES-128-CBC, ..., AES-256-CTR",
         {{"in", "BSTR", L"name"}}},
        {L"Key", 2, kGet, L"The key: exactly the algorithm's key length", {{"out,retval", "IDispatch**", L"Key"}}},
        {L"Key", 2, kPut, L"The key: exactly the algorithm's key length", {{"in", "IDispatch*", L"Key"}}},
        {L"IV", 3, kGet, L"The IV: the one set, or the one the last Encrypt drew",
         {{"out,retval", "IDispatch**", L"IV"}}},
        {L"IV", 3, kPut, L"The IV: the one set, or the one the last Encrypt drew",
         {{"in", "IDispatch*", L"IV"}}},
        {L"Padding", 4, kGet, L"CBC padding: PKCS7 or None", {{"out,retval", "BSTR*", L"name"}}},
        {L"Padding", 4, kPut, L"CBC padding: PKCS7 or None", {{"in", "BSTR", L"name"}}},
        {L"AAD", 5, kGet, L"Additional authenticated data (GCM)", {{"out,retval", "IDispatch**", L"AAD"}}},
        {L"AAD", 5, kPut, L"Additional authenticated data (GCM)", {{"in", "IDispatch*", L"AAD"}}},
        {L"TagLength", 6, kGet, L"GCM tag length in bytes, 12 to 16", {{"out,retval", "long*", L"bytes"}}},
        {L"TagLength", 6, kPut, L"GCM tag length in bytes, 12 to 16", {{"in", "long", L"bytes"}}},
        {L"Iterations", 7, kGet, L"PBKDF2 iterations of EncryptPassword and DecryptPassword",
         {{"out,retval", "long*", L"count"}}},
        {L"Iterations", 7, kPut, L"PBKDF2 iterations of EncryptPassword and DecryptPassword",
         {{"in", "long", L"count"}}},
        {L"Encrypt", 8, kMethod, L"CBC, CTR: the ciphertext; GCM: the ciphertext followed by the tag",
         {kInSrc, kOutDest}},
        {L"Decrypt", 9, kMethod, L"The plaintext of what Encrypt gave", {kInSrc, kOutDest}},
        {L"EncryptPassword", 10, kMethod, L"A file as openssl enc -pbkdf2 writes it: Salted__, salt, ciphertext",
         {{"in", "IDispatch*", L"password"}, kInSrc, kOutDest}},
        {L"DecryptPassword", 11, kMethod, L"The plaintext of a file as openssl enc -pbkdf2 writes it",
         {{"in", "IDispatch*", L"password"}, kInSrc, kOutDest}},
    }};

// The RSA class's second interface: IZELCryptoRSA's members first (checked
// with kRsa), then its own.
const Param kInData{"in", "IDispatch*", L"data"};
const Param kInHashName{"in", "BSTR", L"hashName"};

const Interface kRsa2{
    L"IZELCryptoRSA2",
    &IID_IZELCryptoRSA2,
    {
        {L"Generate", 9, kMethod, L"A fresh key from the system's generator: 1024, 2048 (0), 3072 or 4096 bits, e = 65537",
         {{"in", "long", L"bits"}}},
        {L"ImportPem", 10, kMethod, L"Reads a PEM key: RSA PRIVATE KEY, PRIVATE KEY, PUBLIC KEY, RSA PUBLIC KEY",
         {{"in", "BSTR", L"text"}}},
        {L"ImportDer", 11, kMethod, L"Reads a DER key: PKCS #1, PKCS #8 or SubjectPublicKeyInfo",
         {{"in", "IDispatch*", L"der"}}},
        {L"ExportPrivatePem", 12, kMethod, L"The private key as PKCS #8 PEM", {{"out,retval", "BSTR*", L"text"}}},
        {L"ExportPublicPem", 13, kMethod, L"The public key as SubjectPublicKeyInfo PEM",
         {{"out,retval", "BSTR*", L"text"}}},
        {L"ExportPrivateDer", 14, kMethod, L"The private key as PKCS #8 DER", {{"out,retval", "IDispatch**", L"der"}}},
        {L"ExportPublicDer", 15, kMethod, L"The public key as SubjectPublicKeyInfo DER",
         {{"out,retval", "IDispatch**", L"der"}}},
        {L"SignPkcs1", 16, kMethod, L"RSASSA-PKCS1-v1_5 signature: SHA1, SHA256, SHA384 or SHA512",
         {kInData, kInHashName, {"out,retval", "IDispatch**", L"signature"}}},
        {L"VerifyPkcs1", 17, kMethod, L"1 for a good RSASSA-PKCS1-v1_5 signature, else 0",
         {kInData, {"in", "IDispatch*", L"signature"}, kInHashName, {"out,retval", "long*", L"result"}}},
        {L"SignPss", 18, kMethod, L"RSASSA-PSS signature, MGF1 of the same hash, salt as long as the hash",
         {kInData, kInHashName, {"out,retval", "IDispatch**", L"signature"}}},
        {L"VerifyPss", 19, kMethod, L"1 for a good RSASSA-PSS signature of any salt length, else 0",
         {kInData, {"in", "IDispatch*", L"signature"}, kInHashName, {"out,retval", "long*", L"result"}}},
        {L"EncryptOaep", 20, kMethod, L"RSAES-OAEP, one block, MGF1 of the same hash, with the Label",
         {kInData, kInHashName, {"out,retval", "IDispatch**", L"ciphertext"}}},
        {L"DecryptOaep", 21, kMethod, L"The message of an RSAES-OAEP block",
         {kInData, kInHashName, {"out,retval", "IDispatch**", L"plaintext"}}},
        {L"Label", 22, kGet, L"The OAEP label (empty unless set)", {{"out,retval", "IDispatch**", L"Label"}}},
        {L"Label", 22, kPut, L"The OAEP label (empty unless set)", {{"in", "IDispatch*", L"Label"}}},
    },
    &kRsa};

const Interface* const kInterfaces[] = {&kMisc, &kSymmetric, &kRsa, &kPgp, &kPgp2, &kHash, &kCipher, &kRsa2};

// zelblob.dll: the shipped interface, unchanged, and the one that extends it.
const Interface kBlobScript{
    L"IZELBlobScript",
    &IID_IZELBlobScript,
    {
        {L"Hex", 1, kGet, L"The bytes as lower-case hex digits", {{"out,retval", "BSTR*", L"text"}}},
        {L"Hex", 1, kPut, L"The bytes as lower-case hex digits", {{"in", "BSTR", L"text"}}},
        {L"Base64", 2, kGet, L"The bytes in base64, one line", {{"out,retval", "BSTR*", L"text"}}},
        {L"Base64", 2, kPut, L"The bytes in base64, one line", {{"in", "BSTR", L"text"}}},
        // One spelling per name: the parameter "text" came first and gave
        // the property its lower case, the property "Bytes" its parameter
        // the upper case.  Scripts look names up in any case.
        {L"text", 3, kGet, L"The bytes as 8-bit text in the ANSI code page", {{"out,retval", "BSTR*", L"text"}}},
        {L"text", 3, kPut, L"The bytes as 8-bit text in the ANSI code page", {{"in", "BSTR", L"text"}}},
        {L"Bytes", 4, kGet, L"The bytes as an array of bytes (VT_ARRAY | VT_UI1)",
         {{"out,retval", "VARIANT*", L"Bytes"}}},
        {L"Bytes", 4, kPut, L"The bytes as an array of bytes (VT_ARRAY | VT_UI1)", {{"in", "VARIANT", L"Bytes"}}},
        {L"Length", 5, kGet, L"Number of bytes", {{"out,retval", "long*", L"Length"}}},
        {L"Clear", 6, kMethod, L"Removes every byte", {}},
    }};

const Interface kBlobScript2{
    L"IZELBlobScript2",
    &IID_IZELBlobScript2,
    {
        {L"Utf8", 7, kGet, L"The bytes as UTF-8 text", {{"out,retval", "BSTR*", L"text"}}},
        {L"Utf8", 7, kPut, L"The bytes as UTF-8 text", {{"in", "BSTR", L"text"}}},
        {L"Base64Url", 8, kGet, L"The bytes in URL-safe base64 (- and _), without padding",
         {{"out,retval", "BSTR*", L"text"}}},
        {L"Base64Url", 8, kPut, L"The bytes in URL-safe base64 (- and _), without padding",
         {{"in", "BSTR", L"text"}}},
        {L"Append", 9, kMethod, L"Appends the bytes of another blob", {{"in", "IDispatch*", L"other"}}},
        {L"Slice", 10, kMethod, L"A new blob with length bytes from position start (0-based)",
         {{"in", "long", L"start"}, {"in", "long", L"Length"}, {"out,retval", "IDispatch**", L"result"}}},
        {L"Equals", 11, kMethod, L"True when another blob holds the same bytes",
         {{"in", "IDispatch*", L"other"}, {"out,retval", "VARIANT_BOOL*", L"result"}}},
    },
    &kBlobScript};

const Interface* const kBlobInterfaces[] = {&kBlobScript, &kBlobScript2};

struct Coclass {
    const wchar_t* name;
    const CLSID* clsid;
    const IID* defaultInterface;
    const IID* firstInterface = nullptr; // the one the class shipped with, when it has grown
};

const Coclass kCoclasses[] = {
    {L"ZELCryptoMisc", &CLSID_ZELCryptoMisc, &IID_IZELCryptoMisc},
    {L"ZELCryptoRSA", &CLSID_ZELCryptoRSA, &IID_IZELCryptoRSA2, &IID_IZELCryptoRSA},
    {L"ZELCryptoAES", &CLSID_ZELCryptoAES, &IID_IZELCryptoSymmetric},
    {L"ZELCryptoTwofish", &CLSID_ZELCryptoTwofish, &IID_IZELCryptoSymmetric},
    {L"ZELCryptoBlowfish", &CLSID_ZELCryptoBlowfish, &IID_IZELCryptoSymmetric},
    {L"ZELCryptoCast", &CLSID_ZELCryptoCast, &IID_IZELCryptoSymmetric},
    {L"ZELCryptoTripleDES", &CLSID_ZELCryptoTripleDES, &IID_IZELCryptoSymmetric},
    {L"ZELCryptoPGP", &CLSID_ZELCryptoPGP, &IID_IZELCryptoPGP2, &IID_IZELCryptoPGP},
    {L"ZELCryptoHash", &CLSID_ZELCryptoHash, &IID_IZELCryptoHash},
    {L"ZELCryptoCipher", &CLSID_ZELCryptoCipher, &IID_IZELCryptoCipher},
};

struct Constant {
    const wchar_t* name;
    LONG value;
};

struct Enum {
    const wchar_t* name;
    const wchar_t* guid;
    const wchar_t* help;
    std::vector<Constant> constants;
};

// The published constants: names and values are what scripts use, the GUIDs
// stay fixed.
const Enum kEnums[] = {
    {L"ZelHashId",
     L"{C4C8C058-6051-4ACD-A8CB-A3F908D4881D}",
     L"Hash ids for Misc.Keygen and PGP.Init; 0 is seed expansion, Keygen only",
     {{L"zelKeygenExpandSeed", 0}, {L"zelHashMD5", 1}, {L"zelHashSHA1", 2}, {L"zelHashRIPEMD160", 3}}},
    {L"ZelPgpCipher",
     L"{FEC0151F-589E-49A3-B5E5-485463043410}",
     L"Cipher ids for PGP.Init",
     {{L"zelCipherTripleDES", 2},
      {L"zelCipherCAST5", 3},
      {L"zelCipherBlowfish", 4},
      {L"zelCipherAES128", 7},
      {L"zelCipherAES192", 8},
      {L"zelCipherAES256", 9},
      {L"zelCipherTwofish", 10}}},
    {L"ZelS2KType",
     L"{A3F61667-0683-4E31-A99E-5C1498A3A02D}",
     L"String-to-key types for PGP.Init",
     {{L"zelS2KSimple", 0}, {L"zelS2KSalted", 1}, {L"zelS2KIterated", 3}}},
    {L"ZelChainingMode",
     L"{C8CDC607-EF95-43C8-95FB-028AAFC3FF6D}",
     L"Chaining modes of the cipher objects",
     {{L"zelModeECB", 1}, {L"zelModeCBC", 2}}},
    {L"ZelRsaKeySize",
     L"{C1839F65-C4CB-43EC-9B71-283AE97246B7}",
     L"RSA.Keygen key sizes, in bytes",
     {{L"zelRsaKey512", 64}, {L"zelRsaKey1024", 128}, {L"zelRsaKey2048", 256}}},
    {L"ZelPgpHashSha2",
     L"{0B6F3E27-9D41-4C5A-8E72-3A1F6C9D4B08}",
     L"More hash ids for PGP.Init: the SHA-2 family (OpenPGP ids)",
     {{L"zelHashSHA256", 8}, {L"zelHashSHA384", 9}, {L"zelHashSHA512", 10}, {L"zelHashSHA224", 11}}},
    {L"ZelS2KTypeArgon2",
     L"{7C2D9A51-4E86-4B1F-A3D0-95E8B6F27C41}",
     L"More string-to-key types for PGP.Init: Argon2, with PGP.Format 2",
     {{L"zelS2KArgon2", 4}}},
    {L"ZelPgpFormat",
     L"{E4A81C36-2B97-4D05-8F6A-C3D1E5B09A72}",
     L"Message formats for PGP.Format",
     {{L"zelFormatClassic", 0}, {L"zelFormatIntegrity", 1}, {L"zelFormatRfc9580", 2}, {L"zelFormatLibrePgp", 3}}},
    {L"ZelPgpAead",
     L"{91F5B2C8-6D3E-4A07-B84C-2E7A0D9F3C65}",
     L"AEAD modes for PGP.Aead",
     {{L"zelAeadEAX", 1}, {L"zelAeadOCB", 2}, {L"zelAeadGCM", 3}}},
    {L"ZelPgpCompression",
     L"{3A6E0F92-C5B1-47D8-9E23-B8D4F7A16C09}",
     L"Compression algorithms for PGP.Compression",
     {{L"zelCompressNone", 0}, {L"zelCompressZIP", 1}, {L"zelCompressZLIB", 2}}},
};

ComPtr<ITypeInfo> InfoOf(ITypeLib* lib, REFGUID guid)
{
    ComPtr<ITypeInfo> info;
    EXPECT_HR(S_OK, lib->GetTypeInfoOfGuid(guid, info.Out())) << GuidText(guid);
    return info;
}

// The vtable half of a dual interface's dispatch type information.
ComPtr<ITypeInfo> VtableOf(ITypeInfo* dispatch)
{
    HREFTYPE ref = 0;
    ComPtr<ITypeInfo> vtable;
    EXPECT_HR(S_OK, dispatch->GetRefTypeOfImplType(-1, &ref));
    EXPECT_HR(S_OK, dispatch->GetRefTypeInfo(ref, vtable.Out()));
    return vtable;
}

// The library's name, help string and version 2.0.
void CheckLibraryAttributes(ITypeLib* lib, REFGUID libid, const wchar_t* name, const wchar_t* help)
{
    TLIBATTR* attr = nullptr;
    ASSERT_HR(S_OK, lib->GetLibAttr(&attr));
    EXPECT_EQ(GuidText(libid), GuidText(attr->guid));
    EXPECT_EQ(1033u, attr->lcid);
    EXPECT_EQ(2, attr->wMajorVerNum);
    EXPECT_EQ(0, attr->wMinorVerNum);
    EXPECT_EQ(sizeof(void*) == 8 ? SYS_WIN64 : SYS_WIN32, attr->syskind);
    lib->ReleaseTLibAttr(attr);

    BSTR libName = nullptr, libHelp = nullptr;
    ASSERT_HR(S_OK, lib->GetDocumentation(-1, &libName, &libHelp, nullptr, nullptr));
    EXPECT_EQ(std::wstring(name), libName ? libName : L"");
    EXPECT_EQ(std::wstring(help), libHelp ? libHelp : L"");
    SysFreeString(libName);
    SysFreeString(libHelp);
}

// Every type of the library by name and kind.
std::map<std::wstring, TYPEKIND> TypesOf(ITypeLib* lib)
{
    std::map<std::wstring, TYPEKIND> found;
    const UINT count = lib->GetTypeInfoCount();
    for (UINT i = 0; i < count; ++i) {
        TYPEKIND kind;
        EXPECT_HR(S_OK, lib->GetTypeInfoType(i, &kind));
        BSTR name = nullptr;
        EXPECT_HR(S_OK, lib->GetDocumentation(INT(i), &name, nullptr, nullptr, nullptr));
        found[name ? name : L""] = kind;
        SysFreeString(name);
    }
    EXPECT_EQ(found.size(), count) << "two types of one name";
    return found;
}

// A dual, nonextensible automation interface whose vtable half derives from
// its base (IDispatch when it has none).
void CheckDualInterface(ITypeLib* lib, const Interface& itf)
{
    SCOPED_TRACE(Narrow(itf.name));
    ComPtr<ITypeInfo> dispatch = InfoOf(lib, *itf.iid);
    ASSERT_TRUE(dispatch);
    const TYPEATTR dispAttr = AttrOf(dispatch.Get());
    EXPECT_EQ(TKIND_DISPATCH, dispAttr.typekind);
    EXPECT_EQ(TYPEFLAG_FDUAL, dispAttr.wTypeFlags & TYPEFLAG_FDUAL);
    EXPECT_EQ(TYPEFLAG_FNONEXTENSIBLE, dispAttr.wTypeFlags & TYPEFLAG_FNONEXTENSIBLE);
    EXPECT_EQ(TYPEFLAG_FDISPATCHABLE, dispAttr.wTypeFlags & TYPEFLAG_FDISPATCHABLE);
    const Doc doc = DocOf(dispatch.Get(), MEMBERID_NIL);
    EXPECT_EQ(itf.name, doc.name);
    EXPECT_EQ(std::wstring(itf.name) + L" Interface", doc.help);

    // The vtable half: automation-compatible, derived from its base.
    ComPtr<ITypeInfo> vtable = VtableOf(dispatch.Get());
    ASSERT_TRUE(vtable);
    const TYPEATTR attr = AttrOf(vtable.Get());
    EXPECT_EQ(TKIND_INTERFACE, attr.typekind);
    EXPECT_EQ(GuidText(*itf.iid), GuidText(attr.guid));
    const WORD wanted = TYPEFLAG_FDUAL | TYPEFLAG_FNONEXTENSIBLE | TYPEFLAG_FOLEAUTOMATION;
    EXPECT_EQ(wanted, attr.wTypeFlags & wanted);
    EXPECT_EQ(1, attr.cImplTypes);
    HREFTYPE ref = 0;
    ASSERT_HR(S_OK, vtable->GetRefTypeOfImplType(0, &ref));
    ComPtr<ITypeInfo> base;
    ASSERT_HR(S_OK, vtable->GetRefTypeInfo(ref, base.Out()));
    EXPECT_EQ(GuidText(itf.base ? *itf.base->iid : IID_IDispatch), GuidText(AttrOf(base.Get()).guid));
    // The whole vtable: IDispatch, the base's members, then its own.
    EXPECT_EQ(SHORT((FirstSlot(itf) + itf.members.size()) * sizeof(void*)), attr.cbSizeVft);
}

// Every member an interface declares, in vtable order: slot, DISPID, invoke
// kind, name, help string, and each parameter's direction, type and name.
// Names compare case-sensitively, so a re-cased "mode", "hash", "password",
// "passes" or "alg" fails here.
void CheckMembers(ITypeLib* lib, const Interface& itf)
{
    const SHORT pointer = sizeof(void*);
    ComPtr<ITypeInfo> dispatch = InfoOf(lib, *itf.iid);
    ASSERT_TRUE(dispatch);
    ComPtr<ITypeInfo> vtable = VtableOf(dispatch.Get());
    ASSERT_TRUE(vtable);
    const TYPEATTR attr = AttrOf(vtable.Get());
    ASSERT_EQ(itf.members.size(), attr.cFuncs) << Narrow(itf.name);

    const UINT first = FirstSlot(itf);
    for (UINT i = 0; i < attr.cFuncs; ++i) {
        const Member& m = itf.members[i];
        SCOPED_TRACE(Narrow(itf.name) + "::" + Narrow(m.name) + " (slot " + std::to_string(first + i) + ")");
        FUNCDESC* f = nullptr;
        ASSERT_HR(S_OK, vtable->GetFuncDesc(i, &f));
        EXPECT_EQ(m.dispid, f->memid);
        EXPECT_EQ(m.kind, f->invkind);
        EXPECT_EQ(FUNC_PUREVIRTUAL, f->funckind);
        EXPECT_EQ(CC_STDCALL, f->callconv);
        EXPECT_EQ(SHORT((first + i) * pointer), f->oVft);
        EXPECT_EQ("HRESULT", TypeText(vtable.Get(), f->elemdescFunc.tdesc));
        EXPECT_EQ(0, f->cParamsOpt);

        const Doc doc = DocOf(vtable.Get(), f->memid);
        EXPECT_EQ(m.name, doc.name);
        EXPECT_EQ(m.help != nullptr, doc.hasHelp);
        if (m.help) {
            EXPECT_EQ(m.help, doc.help);
        }

        ASSERT_EQ(SHORT(m.params.size()), f->cParams);
        for (SHORT p = 0; p < f->cParams; ++p) {
            const ELEMDESC& e = f->lprgelemdescParam[p];
            EXPECT_EQ(m.params[p].flags, FlagText(e.paramdesc.wParamFlags)) << "parameter " << p;
            EXPECT_EQ(m.params[p].type, TypeText(vtable.Get(), e.tdesc)) << "parameter " << p;
        }
        const MEMBERID memid = f->memid;
        const INVOKEKIND kind = f->invkind;
        vtable->ReleaseFuncDesc(f);

        // GetNames finds the first member with the DISPID, so a property
        // put behind its get is reached through the get's names; the put
        // alone (PGP password) shows its own.
        if (kind == INVOKE_PROPERTYPUT && i > 0 && itf.members[i - 1].dispid == memid)
            continue;
        BSTR names[8] = {};
        UINT count = 0;
        ASSERT_HR(S_OK, vtable->GetNames(memid, names, 8, &count));
        std::vector<std::wstring> got(names, names + count);
        for (UINT n = 0; n < count; ++n)
            SysFreeString(names[n]);
        std::vector<std::wstring> expected{m.name};
        for (const Param& p : m.params) {
            if (p.name)
                expected.push_back(p.name);
        }
        EXPECT_EQ(expected, got);
    }
}

// The coclass: creatable, its name and help, and the interfaces it lists,
// the first one the default.
void CheckCoclass(ITypeLib* lib, const wchar_t* name, REFCLSID clsid, std::vector<const IID*> interfaces)
{
    SCOPED_TRACE(Narrow(name));
    ComPtr<ITypeInfo> info = InfoOf(lib, clsid);
    ASSERT_TRUE(info);
    const TYPEATTR attr = AttrOf(info.Get());
    EXPECT_EQ(TKIND_COCLASS, attr.typekind);
    EXPECT_EQ(TYPEFLAG_FCANCREATE, attr.wTypeFlags & TYPEFLAG_FCANCREATE);
    const Doc doc = DocOf(info.Get(), MEMBERID_NIL);
    EXPECT_EQ(name, doc.name);
    EXPECT_EQ(L"Valdergast." + std::wstring(name) + L" Class", doc.help);

    ASSERT_EQ(interfaces.size(), size_t(attr.cImplTypes));
    for (UINT i = 0; i < attr.cImplTypes; ++i) {
        INT flags = 0;
        ASSERT_HR(S_OK, info->GetImplTypeFlags(i, &flags));
        EXPECT_EQ(i == 0 ? IMPLTYPEFLAG_FDEFAULT : 0, flags) << "interface " << i;
        HREFTYPE ref = 0;
        ASSERT_HR(S_OK, info->GetRefTypeOfImplType(i, &ref));
        ComPtr<ITypeInfo> itf;
        ASSERT_HR(S_OK, info->GetRefTypeInfo(ref, itf.Out()));
        EXPECT_EQ(GuidText(*interfaces[i]), GuidText(AttrOf(itf.Get()).guid)) << "interface " << i;
    }
}

class TypeLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        lib = LoadLib(L"zelcrypto.dll");
        ASSERT_TRUE(lib);
    }

    ComPtr<ITypeInfo> InfoOf(REFGUID guid) { return ::InfoOf(lib.Get(), guid); }

    ComPtr<ITypeLib> lib;
};

TEST_F(TypeLibrary, LibraryAttributes)
{
    CheckLibraryAttributes(lib.Get(), LIBID_cryptoLib, L"cryptoLib", L"ZELCrypto 2.0 Type Library");
}

// Exactly the published types: four interfaces (each a dispatch half), eight
// coclasses, five enums, and nothing else (no aliases, no generated names).
TEST_F(TypeLibrary, HoldsExactlyThePublishedTypes)
{
    std::map<std::wstring, TYPEKIND> expected;
    for (const Interface* itf : kInterfaces)
        expected[itf->name] = TKIND_DISPATCH;
    for (const Coclass& c : kCoclasses)
        expected[c.name] = TKIND_COCLASS;
    for (const Enum& e : kEnums)
        expected[e.name] = TKIND_ENUM;
    EXPECT_EQ(expected, TypesOf(lib.Get()));
}

TEST_F(TypeLibrary, InterfacesAreDualNonextensibleAutomation)
{
    for (const Interface* itf : kInterfaces)
        CheckDualInterface(lib.Get(), *itf);
}

TEST_F(TypeLibrary, MembersInVtableOrder)
{
    for (const Interface* itf : kInterfaces)
        CheckMembers(lib.Get(), *itf);
}

// The dispatch half answers GetIDsOfNames the way a script's late binding
// asks: case-insensitively, with the parameter names after the member.
TEST_F(TypeLibrary, DispatchHalfMapsNamesToDispids)
{
    struct Lookup {
        const IID* iid;
        std::vector<const wchar_t*> names;
        std::vector<DISPID> ids;
    };
    const Lookup lookups[] = {
        {&IID_IZELCryptoMisc, {L"KEYGEN", L"Hash", L"LENGTH", L"Password", L"salt", L"PASSES"}, {10, 0, 1, 2, 3, 4}},
        {&IID_IZELCryptoSymmetric, {L"Mode"}, {6}},
        {&IID_IZELCryptoSymmetric, {L"filler"}, {5}},
        {&IID_IZELCryptoPGP, {L"INIT", L"Alg", L"Mode"}, {1, 1, 2}},
        {&IID_IZELCryptoPGP, {L"Password"}, {2}},
        // The grown interface keeps the old DISPIDs and adds its own.
        {&IID_IZELCryptoPGP2, {L"INIT", L"Alg", L"Mode"}, {1, 1, 2}},
        {&IID_IZELCryptoPGP2, {L"dearmor"}, {6}},
        {&IID_IZELCryptoPGP2, {L"FORMAT"}, {7}},
        {&IID_IZELCryptoPGP2, {L"aead"}, {8}},
        {&IID_IZELCryptoPGP2, {L"chunksize"}, {9}},
        {&IID_IZELCryptoPGP2, {L"Compression"}, {10}},
        {&IID_IZELCryptoRSA, {L"verify", L"SRC2"}, {8, 1}},
        // The new interface reaches the old members by their old DISPIDs.
        {&IID_IZELCryptoRSA2, {L"verify", L"SRC2"}, {8, 1}},
        {&IID_IZELCryptoRSA2, {L"PrivateKey"}, {4}},
        {&IID_IZELCryptoRSA2, {L"verifypss", L"Signature", L"HASHNAME"}, {19, 1, 2}},
        {&IID_IZELCryptoRSA2, {L"label"}, {22}},
    };
    for (const Lookup& l : lookups) {
        SCOPED_TRACE(Narrow(l.names[0]));
        ComPtr<ITypeInfo> dispatch = InfoOf(*l.iid);
        ASSERT_TRUE(dispatch);
        std::vector<MEMBERID> ids(l.names.size(), -7);
        EXPECT_HR(S_OK, dispatch->GetIDsOfNames(const_cast<LPOLESTR*>(l.names.data()), UINT(l.names.size()),
                                                ids.data()));
        EXPECT_EQ(l.ids, ids);
    }
}

TEST_F(TypeLibrary, CoclassesNameTheirDefaultInterface)
{
    for (const Coclass& c : kCoclasses)
        CheckCoclass(lib.Get(), c.name, *c.clsid,
                     c.firstInterface ? std::vector<const IID*>{c.defaultInterface, c.firstInterface}
                                      : std::vector<const IID*>{c.defaultInterface});
}

TEST_F(TypeLibrary, EnumsOfNamedConstants)
{
    std::set<std::wstring> allNames;
    for (const Enum& e : kEnums) {
        SCOPED_TRACE(Narrow(e.name));
        GUID guid = GUID_NULL;
        ASSERT_HR(S_OK, CLSIDFromString(const_cast<LPOLESTR>(e.guid), &guid));
        ComPtr<ITypeInfo> info = InfoOf(guid);
        ASSERT_TRUE(info);
        const TYPEATTR attr = AttrOf(info.Get());
        EXPECT_EQ(TKIND_ENUM, attr.typekind);
        const Doc doc = DocOf(info.Get(), MEMBERID_NIL);
        EXPECT_EQ(e.name, doc.name);
        EXPECT_EQ(e.help, doc.help);
        EXPECT_EQ(0, attr.cFuncs);

        std::vector<std::pair<std::wstring, LONG>> got;
        for (UINT i = 0; i < attr.cVars; ++i) {
            VARDESC* v = nullptr;
            ASSERT_HR(S_OK, info->GetVarDesc(i, &v));
            EXPECT_EQ(VAR_CONST, v->varkind);
            LONG value = -12345;
            if (v->lpvarValue && V_VT(v->lpvarValue) == VT_I4)
                value = V_I4(v->lpvarValue);
            else
                ADD_FAILURE() << "constant " << i << " is not a VT_I4";
            got.emplace_back(DocOf(info.Get(), v->memid).name, value);
            info->ReleaseVarDesc(v);
        }
        std::vector<std::pair<std::wstring, LONG>> expected;
        for (const Constant& c : e.constants)
            expected.emplace_back(c.name, c.value);
        EXPECT_EQ(expected, got);
        for (const auto& [name, value] : got)
            EXPECT_TRUE(allNames.insert(name).second) << Narrow(name) << " appears twice";
    }
}

// The script-facing ids are the engine's tables.  Every constant of
// ZelHashId (but seed expansion, which is no hash) names the hash table row
// with its value, and the rows of the published constants are there; the
// table has more rows, which scripts reach by other means than these ids.
// ZelPgpCipher and the cipher table agree both ways: every constant names
// its row, every row has its constant.
TEST_F(TypeLibrary, IdEnumsAgreeWithTheEngineTables)
{
    auto constants = [&](const wchar_t* guidText) {
        std::map<LONG, std::wstring> published;
        GUID guid = GUID_NULL;
        EXPECT_HR(S_OK, CLSIDFromString(const_cast<LPOLESTR>(guidText), &guid));
        ComPtr<ITypeInfo> info = InfoOf(guid);
        if (!info) {
            ADD_FAILURE() << "no enum " << Narrow(guidText);
            return published;
        }
        const TYPEATTR attr = AttrOf(info.Get());
        for (UINT i = 0; i < attr.cVars; ++i) {
            VARDESC* v = nullptr;
            EXPECT_HR(S_OK, info->GetVarDesc(i, &v));
            if (!v)
                continue;
            EXPECT_TRUE(v->lpvarValue && V_VT(v->lpvarValue) == VT_I4);
            if (v->lpvarValue && V_VT(v->lpvarValue) == VT_I4)
                published[V_I4(v->lpvarValue)] = DocOf(info.Get(), v->memid).name;
            info->ReleaseVarDesc(v);
        }
        return published;
    };

    const std::map<LONG, std::wstring> hashConstants = constants(L"{C4C8C058-6051-4ACD-A8CB-A3F908D4881D}");
    for (const auto& [value, name] : hashConstants) {
        SCOPED_TRACE(Narrow(name));
        if (value == 0) {
            EXPECT_EQ(name, L"zelKeygenExpandSeed");
            continue;
        }
        ASSERT_TRUE(value > 0 && value < 256);
        const XHashAlgorithm* row = FindHashAlgorithm(uint8_t(value));
        ASSERT_TRUE(row) << "no hash with id " << value;
        EXPECT_EQ(name, L"zelHash" + Wide(row->name));
    }
    const std::pair<uint8_t, const char*> published[] = {{1, "MD5"}, {2, "SHA1"}, {3, "RIPEMD160"}};
    for (const auto& [id, name] : published) {
        const XHashAlgorithm* row = FindHashAlgorithm(id);
        ASSERT_TRUE(row) << name;
        EXPECT_STREQ(row->name, name);
        EXPECT_EQ(hashConstants.count(id), 1u) << name;
    }

    size_t cipherCount = 0;
    const XCipherAlgorithm* ciphers = CipherAlgorithms(cipherCount);
    std::map<LONG, std::wstring> cipherRows;
    for (size_t i = 0; i < cipherCount; ++i)
        cipherRows[ciphers[i].pgpId] = L"zelCipher" + Wide(ciphers[i].name);
    EXPECT_EQ(cipherRows, constants(L"{FEC0151F-589E-49A3-B5E5-485463043410}"));
}

// ---------------------------------------------------------------------------
// zelblob.dll's library: IZELBlobScript as it shipped, IZELBlobScript2 after
// it, and the coclass whose default is now the second.

class BlobTypeLibrary : public testing::Test {
protected:
    void SetUp() override
    {
        lib = LoadLib(L"zelblob.dll");
        ASSERT_TRUE(lib);
    }

    ComPtr<ITypeLib> lib;
};

TEST_F(BlobTypeLibrary, LibraryAttributesAndTypes)
{
    CheckLibraryAttributes(lib.Get(), LIBID_ZELBlobLib, L"ZELBlobLib", L"ZELBlob 2.0 Type Library");
    const std::map<std::wstring, TYPEKIND> expected = {
        {L"IZELBlobScript", TKIND_DISPATCH}, {L"IZELBlobScript2", TKIND_DISPATCH}, {L"ZELBlob", TKIND_COCLASS}};
    EXPECT_EQ(expected, TypesOf(lib.Get()));
}

// The shipped interface keeps its members, slots and DISPIDs; the new one
// derives from it, so its own members take the slots after them.
TEST_F(BlobTypeLibrary, InterfacesAndTheirMembers)
{
    for (const Interface* itf : kBlobInterfaces) {
        CheckDualInterface(lib.Get(), *itf);
        CheckMembers(lib.Get(), *itf);
    }
}

// Late binding through the new default interface reaches the old members
// by their old DISPIDs and the new ones by theirs.
TEST_F(BlobTypeLibrary, DispatchHalfOfTheNewInterfaceKeepsTheOldDispids)
{
    ComPtr<ITypeInfo> dispatch = InfoOf(lib.Get(), IID_IZELBlobScript2);
    ASSERT_TRUE(dispatch);
    const std::pair<const wchar_t*, DISPID> names[] = {
        {L"hex", 1}, {L"BASE64", 2}, {L"Text", 3}, {L"bytes", 4}, {L"Length", 5}, {L"clear", 6},
        {L"UTF8", 7}, {L"base64url", 8}, {L"Append", 9}, {L"slice", 10}, {L"EQUALS", 11},
    };
    for (const auto& [name, id] : names) {
        MEMBERID got = -7;
        LPOLESTR one = const_cast<LPOLESTR>(name);
        EXPECT_HR(S_OK, dispatch->GetIDsOfNames(&one, 1, &got)) << Narrow(name);
        EXPECT_EQ(id, got) << Narrow(name);
    }
    // The old interface's dispatch half has none of the new names.
    ComPtr<ITypeInfo> old = InfoOf(lib.Get(), IID_IZELBlobScript);
    ASSERT_TRUE(old);
    MEMBERID got = -7;
    LPOLESTR utf8 = const_cast<LPOLESTR>(L"Utf8");
    EXPECT_HR(DISP_E_UNKNOWNNAME, old->GetIDsOfNames(&utf8, 1, &got));
}

TEST_F(BlobTypeLibrary, CoclassDefaultsToTheNewInterface)
{
    CheckCoclass(lib.Get(), L"ZELBlob", CLSID_ZELBlob, {&IID_IZELBlobScript2, &IID_IZELBlobScript});
}

} // namespace
