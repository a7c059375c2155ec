// Fuzz target: RSA key files, DER and PEM, into an engine that holds a key.
// Nothing may crash, hang or leak, and these must hold:
//
// - a refused file raises "Data is corrupted" or "Unsupported algorithm"
//   with the source "RSA" and leaves the loaded key exactly as it was;
// - an accepted file exports (SubjectPublicKeyInfo, and PKCS #8 when it
//   held a private key) to bytes that a fresh engine reads back and exports
//   unchanged, in DER and in PEM;
// - with an accepted private key of at most 2048 bits, a PKCS #1 v1.5 and a
//   PSS signature verify and an OAEP block decrypts to its message (the key
//   passed the import's consistency checks, so the checked private path
//   must give right answers).
//
// Input: one mode byte, then the file.  Mode bit 0: the file is PEM text
// (else DER); bit 1: the operations run (when the key allows them).
#include "core/alarm.h"
#include "core/xblob.h"
#include "rsa/rsa.h"
#include "rsa/rsa_keys.h"
#include "rsa/rsa_pkcs1.h"
#include "tests/fuzz/fuzz_support.h"

#include <cstddef>
#include <cstdint>
#include <string>

using fuzz::Blob;

namespace {

uint64_t g_counter = 0;

// Repeatable bytes for blinding, salts and seeds: a counter through a mixer.
void FuzzEntropy(uint8_t* out, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        uint64_t z = ++g_counter * 0x9e3779b97f4a7c15ull;
        z = (z ^ (z >> 30)) * 0xbf58476d1ce4e5b9ull;
        out[i] = uint8_t(z >> 56);
    }
}

// The 512-bit key every engine starts with, generated once.
const XBlob& StartKey()
{
    static const XBlob key = [] {
        XRsa rsa(FuzzEntropy);
        rsa.Generate(512);
        return ExportRsaPrivateKeyDer(rsa);
    }();
    return key;
}

void RoundTrip(const XRsa& rsa)
{
    const bool isPrivate = rsa.KeyFlags() & XRsa::kHasPrivateKey;
    const XBlob der = isPrivate ? ExportRsaPrivateKeyDer(rsa) : ExportRsaPublicKeyDer(rsa);
    XRsa again(FuzzEntropy);
    ImportRsaKeyDer(again, der);
    FUZZ_CHECK(again.KeyFlags() == rsa.KeyFlags());
    FUZZ_CHECK((isPrivate ? ExportRsaPrivateKeyDer(again) : ExportRsaPublicKeyDer(again)) == der);
    FUZZ_CHECK(ExportRsaPublicKeyDer(again) == ExportRsaPublicKeyDer(rsa));
    XRsa fromPem(FuzzEntropy);
    ImportRsaKeyPem(fromPem, isPrivate ? ExportRsaPrivateKeyPem(rsa) : ExportRsaPublicKeyPem(rsa));
    FUZZ_CHECK(ExportRsaPublicKeyDer(fromPem) == ExportRsaPublicKeyDer(rsa));
}

void Operate(const XRsa& rsa)
{
    const XHashAlgorithm& sha256 = FindSchemeHash("SHA256");
    XBlob data;
    data.AssignText("fuzzed key");
    FUZZ_CHECK(VerifyPkcs1(rsa, data, SignPkcs1(rsa, data, sha256), sha256));
    FUZZ_CHECK(VerifyPss(rsa, data, SignPss(rsa, data, sha256, FuzzEntropy), sha256));
    if (OaepCapacity(rsa, sha256) >= int64_t(data.Length()))
        FUZZ_CHECK(DecryptOaep(rsa, EncryptOaep(rsa, data, sha256, XBlob(), FuzzEntropy), sha256, XBlob()) == data);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = input[0];
    const XBlob file = Blob(input + 1, size - 1);
    XRsa rsa(FuzzEntropy);
    ImportRsaKeyDer(rsa, StartKey());
    try {
        if (mode & 1)
            ImportRsaKeyPem(rsa, std::string(reinterpret_cast<const char*>(file.Data()), file.Length()));
        else
            ImportRsaKeyDer(rsa, file);
    } catch (const XAlarm& alarm) {
        fuzz::CheckAlarmText(alarm);
        FUZZ_CHECK(fuzz::Is(alarm, XMessage::kDataCorrupted, "RSA") ||
                   fuzz::Is(alarm, XMessage::kUnsupportedAlgorithm, "RSA"));
        FUZZ_CHECK(ExportRsaPrivateKeyDer(rsa) == StartKey());
        return 0;
    }
    RoundTrip(rsa);
    if ((mode & 2) && (rsa.KeyFlags() & XRsa::kHasPrivateKey) && rsa.N().BitLength() <= 2048)
        Operate(rsa);
    return 0;
}
