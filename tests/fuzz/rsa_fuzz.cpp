// Fuzz target: the RSA engine with arbitrary key blobs, data, ciphertexts
// and signatures.  Anything may be thrown as one of the engine's alarms;
// nothing may crash, hang or leak, and these must hold:
//
// - an engine that imported a blob exports it again in minimal form, and a
//   fresh engine importing that export (with bytes after the last item or
//   not) exports the same bytes; a refused import changes nothing;
// - Decrypt gives the same outcome (the same bytes, or an alarm) on two
//   engines with the same key where one of them cannot take the CRT path
//   (its qInv is moved up by p, which leaves d mod n untouched), the two
//   running on different big-number kernels and SHA-1 engines;
// - with a generated key, possibly with fuzzer-chosen bytes XORed into its
//   private blob: when the blob is unchanged, Decrypt(Encrypt(data)) = data
//   and Verify(data, Sign(data)) = 1, across kernels and SHA-1 engines;
// - a block the harness encodes itself around fuzzer-chosen bytes decodes
//   exactly as the format says: refused for another label or without the
//   separator byte, else the bytes after the separator.
//
// Input: one mode byte, then up to four parts, each a 2-byte big-endian
// length and that many bytes (cut to what is left; FFFF takes all that is
// left), so numbers of any size reach the imports.
//
//   mode bit 0 clear: part 0 is imported as a public key blob and part 1 as
//     a private key blob (bit 1: private first); parts 2 and 3 are the data
//     and the ciphertext or signature.
//   mode bit 0 set: a key is generated from the seeds part 0 and part 1 at
//     k = 64 (bit 1 clear) or 128 (set); part 2 is the data, part 3 is XORed
//     into the private key blob before a second engine imports it, and also
//     serves as ciphertext and signature.  Bit 4: part 2 is also the body
//     of a block the harness encodes (first byte odd: under a wrong label).
//   bit 2: the MULX/ADX kernel first (else the portable one); bit 3: the SHA
//     extensions first.  Each check switches to the other one half-way.
//
// Time per input.  Import costs next to nothing at any size; the operations
// cost exponentiations, each up to one of k bytes with a k-byte exponent,
// and k may be up to 4096.  Under this build (ASan, UBSan, -O1) one such
// exponentiation measured 0.03 s at 256 bytes, 0.5 s at 1024 and 21 s at
// 4096, and an input runs a few dozen of them: with k free the legitimate
// worst case would be many minutes, and no time limit could tell a slow bug
// from a big key.  So the operations run only while the work is bounded: k
// at most 256 (2048 bits, the largest size the product generates), or every
// number of the key at most 256 bytes, or k outside 43 ... 4096 (refused
// before any work); and data and ciphertexts are cut to two blocks.  Imports
// and export round trips see every key, and numbers of any size.
//
// The slowest legitimate inputs (k = 256 with a 2048-bit e, or a private
// half whose check needs two computations per block; the seeds
// import_2048_*, and the slowest of a 10-minute run's corpus) measured
// 1.7 s on an idle machine and 3.1 s with the other core busy, so the
// target runs with -timeout=10.  A number that slipped past the size check
// is caught by it: with the check taken out, an e of 20 KB under k = 256
// (one block of data) ran past the 10 s limit, where the engine as it is
// refuses the blob in 14 ms.
#include "core/alarm.h"
#include "core/xblob.h"
#include "hash/sha1.h"
#include "rsa/bigint.h"
#include "rsa/rsa.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

constexpr uint32_t kMaxOperatedBytes = 256;
constexpr uint32_t kMaxBlocks = 2;

// Repeatable seeds for Encrypt and blinding: a counter run through a 64-bit mixer.
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

// The implementation pair an input starts with, and switching to the other.
struct Engines {
    bool adx;
    bool sha;

    void Use(bool other) const
    {
        // Where the CPU lacks one, the portable one runs both times.
        const bool a = adx != other && XBigIntKernelAvailable(XBigIntKernel::kAdx);
        const bool s = sha != other && Sha1EngineAvailable(Sha1Engine::kShaExtensions);
        const XBigIntKernel kernel = a ? XBigIntKernel::kAdx : XBigIntKernel::kPortable;
        FUZZ_CHECK(XBigIntSelectKernel(kernel) && XBigIntActiveKernel() == kernel);
        FUZZ_CHECK(Sha1SelectEngine(s ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable));
    }
};

Engines g_engines;

// Every alarm the engine raises is one it documents.
void CheckRsaAlarm(const XAlarm& alarm)
{
    fuzz::CheckAlarmText(alarm);
    FUZZ_CHECK(fuzz::Is(alarm, XMessage::kInvalidKey, "RSA") || fuzz::Is(alarm, XMessage::kUnableToDecrypt, "RSA") ||
               fuzz::Is(alarm, XMessage::kDataCorrupted, "RSA") || fuzz::Is(alarm, XMessage::kDataCorrupted, "XBlob"));
}

// Whether the operations' work is bounded for the loaded key (see the top).
bool Affordable(const XRsa& rsa)
{
    const uint32_t k = rsa.KeySize();
    if (k <= kMaxOperatedBytes || k > XRsa::kMaxKeySize)
        return true;
    for (const XBigInt* x : {&rsa.N(), &rsa.E(), &rsa.D(), &rsa.P(), &rsa.Q(), &rsa.DP(), &rsa.DQ(), &rsa.QInv()})
        if (x->BitLength() > 8 * kMaxOperatedBytes)
            return false;
    return true;
}

// The first `max` bytes.
XBlob Cut(const XBlob& b, uint64_t max)
{
    XBlob out;
    b.CopyRange(out, 0, uint32_t(std::min<uint64_t>(max, b.Length())));
    return out;
}

// At most kMaxBlocks blocks of data or of ciphertext.
XBlob DataCut(const XRsa& rsa, const XBlob& data)
{
    const uint32_t k = rsa.KeySize();
    return k > 42 ? Cut(data, uint64_t(kMaxBlocks) * (k - 42)) : data;
}

XBlob CipherCut(const XRsa& rsa, const XBlob& cipher)
{
    return rsa.KeySize() ? Cut(cipher, uint64_t(kMaxBlocks) * rsa.KeySize()) : cipher;
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
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
        o.raised = true;
    }
    return o;
}

// Import into the engine; a refused blob leaves both halves as they were.
bool TryImport(XRsa& rsa, const XBlob& blob, bool privateHalf)
{
    const XBlob publicBefore = rsa.ExportPublicKey(), privateBefore = rsa.ExportPrivateKey();
    const uint32_t flags = rsa.KeyFlags();
    try {
        if (privateHalf)
            rsa.ImportPrivateKey(blob);
        else
            rsa.ImportPublicKey(blob);
        return true;
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
        FUZZ_CHECK(rsa.KeyFlags() == flags);
        FUZZ_CHECK(rsa.ExportPublicKey() == publicBefore);
        FUZZ_CHECK(rsa.ExportPrivateKey() == privateBefore);
        return false;
    }
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
void Exercise(XRsa& rsa, const XBlob& fullData, const XBlob& other)
{
    if (!Affordable(rsa))
        return;
    const XBlob data = DataCut(rsa, fullData);
    try {
        const XBlob cipher = rsa.Encrypt(data);
        const uint32_t k = rsa.KeySize();
        FUZZ_CHECK(cipher.Length() == (uint64_t(data.Length()) + (k - 42) - 1) / (k - 42) * k);
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
    }
    TryDecrypt(rsa, CipherCut(rsa, other));
    try {
        FUZZ_CHECK(rsa.Sign(data).Length() == rsa.KeySize());
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
    }
    try {
        const int32_t answer = rsa.Verify(data, other);
        FUZZ_CHECK(answer == 0 || answer == 1);
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
    }
}

void CheckExportRoundTrip(const XRsa& rsa)
{
    for (const bool privateHalf : {false, true}) {
        if (!(rsa.KeyFlags() & (privateHalf ? XRsa::kHasPrivateKey : XRsa::kHasPublicKey)))
            continue;
        const XBlob exported = privateHalf ? rsa.ExportPrivateKey() : rsa.ExportPublicKey();
        const XBlob trailing = [&] {
            XBlob b(exported);
            b.AppendLong(0xFFFFFFFFu);
            return b;
        }();
        for (const XBlob* blob : {&exported, &trailing}) {
            XRsa again;
            FUZZ_CHECK(TryImport(again, *blob, privateHalf));
            FUZZ_CHECK((privateHalf ? again.ExportPrivateKey() : again.ExportPublicKey()) == exported);
        }
    }
}

void CompareDecryption(const XBlob& privateBlob, const XBlob& publicBlob, const XBlob& fullCipher)
{
    const XBlob changed = WithoutCrt(privateBlob);
    if (changed.Length() == 0)
        return;
    XRsa a(FuzzEntropy), b(FuzzEntropy);
    if (!TryImport(a, privateBlob, true) || !TryImport(b, changed, true) || !Affordable(a) || !Affordable(b))
        return;
    FUZZ_CHECK(!b.DecryptsWithCrt());
    const XBlob cipher = CipherCut(a, fullCipher);
    g_engines.Use(false);
    const Outcome x = TryDecrypt(a, cipher);
    g_engines.Use(true);
    const Outcome y = TryDecrypt(b, cipher);
    FUZZ_CHECK(x.raised == y.raised);
    FUZZ_CHECK(x.raised || x.plain == y.plain);
    // The engine's own ciphertexts too, when the public half fits.
    if (publicBlob.Length() == 0 || !TryImport(a, publicBlob, false) || !Affordable(a))
        return;
    try {
        const XBlob own = a.Encrypt(DataCut(a, fullCipher));
        const Outcome u = TryDecrypt(a, own);
        g_engines.Use(false);
        const Outcome v = TryDecrypt(b, own);
        FUZZ_CHECK(u.raised == v.raised);
        FUZZ_CHECK(u.raised || u.plain == v.plain);
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
    }
}

// A block encoded by the harness: label hash (or a wrong one) | body, the
// body being `body` cut or filled up with zeros to k - 41 bytes, masked with
// a seed as the format says and raised to e.  Decrypt must refuse it for the
// wrong label and for a body of zeros only, and otherwise return what
// follows the body's first non-zero byte.
void CheckEncodedBlock(XRsa& rsa, const std::vector<uint8_t>& body)
{
    const uint32_t k = rsa.KeySize();
    const uint32_t dbSize = k - 21;
    const bool wrongLabel = !body.empty() && (body[0] & 1);
    XBlob db = rsa.LabelHash();
    if (wrongLabel)
        db.At(body[0] % 20) ^= 0x80;
    std::vector<uint8_t> tail(body.begin() + (body.empty() ? 0 : 1), body.end());
    tail.resize(dbSize - 20, 0);
    db.AppendBytes(tail.data(), uint32_t(tail.size()));

    XBlob seed;
    for (uint32_t i = 0; i < 20; ++i)
        seed.AppendByte(uint8_t(body.size() * 7 + i));
    XBlob maskedDb = XBlob::Xor(db, XRsa::MaskGen(seed, dbSize));
    XBlob maskedSeed = XBlob::Xor(seed, XRsa::MaskGen(maskedDb, 20));
    XBlob em = maskedSeed;
    em.Append(maskedDb);
    XBigInt x;
    x.FromBytes(em);
    if (x >= rsa.N())
        return;
    x.PowMod(rsa.E(), rsa.N());

    const auto separator = std::find_if(tail.begin(), tail.end(), [](uint8_t b) { return b != 0; });
    const Outcome o = TryDecrypt(rsa, x.ToBytes(k));
    if (wrongLabel || separator == tail.end()) {
        FUZZ_CHECK(o.raised);
    } else {
        FUZZ_CHECK(!o.raised);
        FUZZ_CHECK(Bytes(o.plain) == std::vector<uint8_t>(separator + 1, tail.end()));
    }
}

void Generated(uint8_t mode, const std::vector<uint8_t> parts[4])
{
    XRsa rsa(FuzzEntropy);
    rsa.Keygen(Blob(parts[0]), Blob(parts[1]), (mode & 2) ? 128 : 64);
    const XBlob data = DataCut(rsa, Blob(parts[2]));
    // Generated keys with a modulus of fewer than k - 1 bytes cannot
    // encrypt and some cannot sign; the others round-trip, also when the
    // other side runs the other kernel and SHA-1 engine.
    try {
        const XBlob cipher = rsa.Encrypt(data);
        g_engines.Use(true);
        FUZZ_CHECK(rsa.Decrypt(cipher) == data);
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
        FUZZ_CHECK(rsa.N().BitLength() <= 8 * uint64_t(rsa.KeySize() - 2));
    }
    try {
        const XBlob signature = rsa.Sign(data);
        g_engines.Use(false);
        FUZZ_CHECK(rsa.Verify(data, signature) == 1);
    } catch (const XAlarm& alarm) {
        CheckRsaAlarm(alarm);
        FUZZ_CHECK(rsa.N().BitLength() <= 8 * uint64_t(rsa.KeySize() - 1));
    }
    FUZZ_CHECK(rsa.DecryptsWithCrt());
    if (mode & 0x10)
        CheckEncodedBlock(rsa, parts[2]);

    // The private blob with the fuzzer's bytes XORed in.
    XBlob privateBlob = rsa.ExportPrivateKey();
    for (size_t i = 0; i < parts[3].size() && i < privateBlob.Length(); ++i)
        privateBlob.At(uint32_t(i)) ^= parts[3][i];
    CompareDecryption(privateBlob, rsa.ExportPublicKey(), Blob(parts[3]));
    XRsa mutated(FuzzEntropy);
    TryImport(mutated, privateBlob, true);
    TryImport(mutated, rsa.ExportPublicKey(), false);
    CheckExportRoundTrip(mutated);
    Exercise(mutated, data, Blob(parts[3]));
}

void Imported(uint8_t mode, const std::vector<uint8_t> parts[4])
{
    XRsa rsa(FuzzEntropy);
    const XBlob publicBlob = Blob(parts[0]), privateBlob = Blob(parts[1]);
    for (int step = 0; step < 2; ++step) {
        const bool privateHalf = (step == 0) != ((mode & 2) == 0);
        TryImport(rsa, privateHalf ? privateBlob : publicBlob, privateHalf);
    }
    CheckExportRoundTrip(rsa);
    Exercise(rsa, Blob(parts[2]), Blob(parts[3]));
    CompareDecryption(privateBlob, publicBlob, Blob(parts[3]));
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* input, size_t size)
{
    if (size < 1)
        return 0;
    g_counter = 0;
    fuzz::Reader in(input, size);
    const uint8_t mode = in.Byte();
    std::vector<uint8_t> parts[4];
    for (auto& part : parts)
        part = in.Part();
    g_engines = Engines{(mode & 4) != 0, (mode & 8) != 0};
    g_engines.Use(false);

    if (mode & 1)
        Generated(mode, parts);
    else
        Imported(mode, parts);
    return 0;
}
