// Fuzz target: the RSA engine with arbitrary key blobs, data, ciphertexts
// and signatures.  Anything may be thrown as an XAlarm; nothing may crash,
// hang or leak, and these must hold:
//
// - an engine that imported a blob exports it again in minimal form, and a
//   fresh engine importing that export exports the same bytes;
// - Decrypt gives the same outcome (the same bytes, or an alarm) on two
//   engines with the same key where one of them cannot take the CRT path
//   (its qInv is moved up by p, which leaves d mod n untouched);
// - with a generated key, possibly with fuzzer-chosen bytes XORed into its
//   private blob: when the blob is unchanged, Decrypt(Encrypt(data)) = data
//   and Verify(data, Sign(data)) = 1.
//
// Input: one mode byte, then up to four parts, each a 2-byte big-endian
// length and that many bytes (cut to what is left).  Parts are limited to
// 256 bytes, so that the moduli stay within 2048 bits and every
// exponentiation is fast; key sizes are whatever the blobs say.
//
//   mode bit 0 clear: part 0 is imported as a public key blob and part 1 as
//     a private key blob (bit 1: private first); parts 2 and 3 are the data
//     and the ciphertext or signature.
//   mode bit 0 set: a key is generated from the seeds part 0 and part 1 at
//     k = 64 (bit 1 clear) or 128 (set); part 2 is the data, part 3 is XORed
//     into the private key blob before a second engine imports it, and also
//     serves as ciphertext and signature.
#include "core/alarm.h"
#include "core/xblob.h"
#include "rsa/bigint.h"
#include "rsa/rsa.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

constexpr size_t kMaxPart = 256;

// Repeatable seeds for Encrypt: a counter run through a 64-bit mixer.
uint64_t g_counter = 0;

void FuzzEntropy(uint8_t* out, size_t length)
{
    for (size_t i = 0; i < length; ++i) {
        uint64_t x = ++g_counter * 0x9E3779B97F4A7C15ull;
        x ^= x >> 29;
        x *= 0xBF58476D1CE4E5B9ull;
        out[i] = uint8_t(x >> 56);
    }
}

XBlob Blob(const std::vector<uint8_t>& v)
{
    XBlob b;
    if (!v.empty())
        b.AppendBytes(v.data(), uint32_t(v.size()));
    return b;
}

void Check(bool condition)
{
    if (!condition)
        std::abort();
}

// Decrypt's outcome: the plaintext, or that it raised.
struct Outcome {
    bool raised = false;
    XBlob plain;
};

Outcome TryDecrypt(XRsa& rsa, const XBlob& cipher)
{
    Outcome o;
    try {
        o.plain = rsa.Decrypt(cipher);
    } catch (const XAlarm&) {
        o.raised = true;
    }
    return o;
}

// The same private key blob with qInv moved up by p (when both can be
// read); empty when the blob does not parse.
XBlob WithoutCrt(const XBlob& privateBlob)
{
    if (privateBlob.Length() < 5)
        return XBlob();
    XBlob items[7];
    uint32_t pos = 4;
    try {
        for (XBlob& item : items)
            pos = privateBlob.ExtractItem(pos, item);
    } catch (const XAlarm&) {
        return XBlob();
    }
    XBigInt p, qInv;
    p.FromBytes(items[2]);
    qInv.FromBytes(items[6]);
    qInv.Add(p);
    items[6] = qInv.ToBytes(0);
    XBlob out;
    out.AppendLong(privateBlob.ReadLong(0));
    for (const XBlob& item : items)
        out.AppendItem(item);
    return out;
}

// Encrypt, Decrypt, Sign and Verify on one engine; alarms are answers.
void Exercise(XRsa& rsa, const XBlob& data, const XBlob& other)
{
    try {
        const XBlob cipher = rsa.Encrypt(data);
        const uint32_t k = rsa.KeySize();
        Check(cipher.Length() == (uint64_t(data.Length()) + (k - 42) - 1) / (k - 42) * k);
    } catch (const XAlarm&) {
    }
    try {
        rsa.Decrypt(other);
    } catch (const XAlarm&) {
    }
    try {
        Check(rsa.Sign(data).Length() == rsa.KeySize());
    } catch (const XAlarm&) {
    }
    try {
        const int32_t answer = rsa.Verify(data, other);
        Check(answer == 0 || answer == 1);
    } catch (const XAlarm&) {
    }
}

void CheckExportRoundTrip(const XRsa& rsa)
{
    if (rsa.KeyFlags() & XRsa::kHasPublicKey) {
        const XBlob exported = rsa.ExportPublicKey();
        XRsa again;
        again.ImportPublicKey(exported);
        Check(again.ExportPublicKey() == exported);
    }
    if (rsa.KeyFlags() & XRsa::kHasPrivateKey) {
        const XBlob exported = rsa.ExportPrivateKey();
        XRsa again;
        again.ImportPrivateKey(exported);
        Check(again.ExportPrivateKey() == exported);
    }
}

void CompareDecryption(const XBlob& privateBlob, const XBlob& publicBlob, const XBlob& cipher)
{
    const XBlob changed = WithoutCrt(privateBlob);
    if (changed.Length() == 0)
        return;
    XRsa a(FuzzEntropy), b(FuzzEntropy);
    try {
        a.ImportPrivateKey(privateBlob);
        b.ImportPrivateKey(changed);
    } catch (const XAlarm&) {
        return;
    }
    Check(!b.DecryptsWithCrt());
    const Outcome x = TryDecrypt(a, cipher), y = TryDecrypt(b, cipher);
    Check(x.raised == y.raised);
    Check(x.raised || x.plain == y.plain);
    // The engine's own ciphertexts too, when the public half fits.
    if (publicBlob.Length() == 0)
        return;
    try {
        a.ImportPublicKey(publicBlob);
        const XBlob own = a.Encrypt(cipher);
        const Outcome u = TryDecrypt(a, own), v = TryDecrypt(b, own);
        Check(u.raised == v.raised);
        Check(u.raised || u.plain == v.plain);
    } catch (const XAlarm&) {
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    g_counter = 0;
    const uint8_t mode = input[0];
    std::vector<uint8_t> parts[4];
    size_t pos = 1;
    for (auto& part : parts) {
        if (size - pos < 2)
            break;
        size_t length = size_t(input[pos]) << 8 | input[pos + 1];
        pos += 2;
        if (length > size - pos)
            length = size - pos;
        if (length > kMaxPart)
            length = kMaxPart;
        part.assign(input + pos, input + pos + length);
        pos += length;
    }

    if (mode & 1) {
        XRsa rsa(FuzzEntropy);
        rsa.Keygen(Blob(parts[0]), Blob(parts[1]), (mode & 2) ? 128 : 64);
        const XBlob data = Blob(parts[2]);
        // Generated keys with a modulus of fewer than k - 1 bytes cannot
        // encrypt and some cannot sign; the others round-trip.
        try {
            Check(rsa.Decrypt(rsa.Encrypt(data)) == data);
        } catch (const XAlarm&) {
            Check(rsa.N().BitLength() <= 8 * uint64_t(rsa.KeySize() - 2));
        }
        try {
            Check(rsa.Verify(data, rsa.Sign(data)) == 1);
        } catch (const XAlarm&) {
            Check(rsa.N().BitLength() <= 8 * uint64_t(rsa.KeySize() - 1));
        }
        Check(rsa.DecryptsWithCrt());
        // The private blob with the fuzzer's bytes XORed in.
        XBlob privateBlob = rsa.ExportPrivateKey();
        for (size_t i = 0; i < parts[3].size() && i < privateBlob.Length(); ++i)
            privateBlob.At(uint32_t(i)) ^= parts[3][i];
        CompareDecryption(privateBlob, rsa.ExportPublicKey(), Blob(parts[3]));
        XRsa mutated(FuzzEntropy);
        try {
            mutated.ImportPrivateKey(privateBlob);
            mutated.ImportPublicKey(rsa.ExportPublicKey());
        } catch (const XAlarm&) {
        }
        CheckExportRoundTrip(mutated);
        Exercise(mutated, data, Blob(parts[3]));
        return 0;
    }

    XRsa rsa(FuzzEntropy);
    const XBlob publicBlob = Blob(parts[0]), privateBlob = Blob(parts[1]);
    for (int step = 0; step < 2; ++step) {
        try {
            if ((step == 0) == ((mode & 2) == 0))
                rsa.ImportPublicKey(publicBlob);
            else
                rsa.ImportPrivateKey(privateBlob);
        } catch (const XAlarm&) {
        }
    }
    CheckExportRoundTrip(rsa);
    Exercise(rsa, Blob(parts[2]), Blob(parts[3]));
    CompareDecryption(privateBlob, publicBlob, Blob(parts[3]));
    return 0;
}
