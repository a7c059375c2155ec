// Fuzz target: the digests of the hash table (MD5, SHA-1, RIPEMD-160, the
// SHA-2 family, SHA3-256 and SHA3-512), CRC-32 and CRC-24, the
// string-to-key derivations, seed expansion and random bytes.  These must
// hold:
//
// - a digest is the same one-shot, by id, by name, and fed to a context in
//   any pieces (also after Reset, from a clone and from a copied state taken
//   midway); the portable compressions of SHA-1, SHA-256 and SHA-512 and
//   their x86 ones (SHA extensions, AVX2 and BMI2) give the same chaining
//   words; unknown ids raise "Unsupported algorithm" before anything is
//   hashed;
// - HMAC, PBKDF2 and HKDF over any row equal the same constructions spelled
//   out over the one-shot digest (key padded or hashed, inner and outer
//   hash; U1 ^ U2 ^ ...; extract and expand), the HMAC context fed in
//   pieces and reused under its key too; HKDF refuses more than 255
//   digests and PBKDF2 zero iterations;
// - the sliced CRCs equal a bit-by-bit computation of the same polynomials,
//   in any pieces and one byte at a time, and Compute runs on;
// - each S2K result and ExpandSeed's has the asked length, a shorter one is
//   its prefix, and its first digests are those of the preimage fed plainly
//   (the salt and password repeated up to the count; then after one zero
//   byte), ExpandSeed's MD5 and SHA-1 of the seed, then of the seed and
//   those two;
// - RandomBlob with given sources has the asked length, a shorter request
//   gives a prefix of a longer one, and its first block is MD5 of the seed
//   block it describes.
//
// Input: a flag byte (bit 0: the x86 engines first), the hash id, a
// 4-byte S2K count code, a 2-byte output length, a 4-byte clock, then parts:
// the message, a byte stream of piece lengths, the salt, and 12 entropy
// bytes.
#include "core/alarm.h"
#include "core/xblob.h"
#include "hash/crc.h"
#include "hash/digest.h"
#include "hash/hmac.h"
#include "hash/md5.h"
#include "hash/ripemd160.h"
#include "hash/s2k.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"
#include "random/random.h"
#include "tests/fuzz/fuzz_support.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <stdexcept>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using Model = std::vector<uint8_t>;

// Iterated S2K hashes the count per digest: kept to what runs fast (the
// count code 96, 65,536 bytes, and 15 SHA-1 digests per derivation).
constexpr uint64_t kMaxS2KCount = 1u << 16;
constexpr uint32_t kMaxOutput = 300;

// SHA-1 and SHA-256 on their SHA extensions and SHA-512 on AVX2 and BMI2
// (where the CPU has them), or all three portable.
void SelectShaEngines(bool extensions)
{
    const Sha1Engine wanted =
        extensions && Sha1EngineAvailable(Sha1Engine::kShaExtensions) ? Sha1Engine::kShaExtensions : Sha1Engine::kPortable;
    FUZZ_CHECK(Sha1SelectEngine(wanted));
    FUZZ_CHECK(Sha1ActiveEngine() == wanted);
    const Sha256Engine wanted256 = extensions && Sha256EngineAvailable(Sha256Engine::kShaExtensions)
                                       ? Sha256Engine::kShaExtensions
                                       : Sha256Engine::kPortable;
    FUZZ_CHECK(Sha256SelectEngine(wanted256));
    FUZZ_CHECK(Sha256ActiveEngine() == wanted256);
    const Sha512Engine wanted512 = extensions && Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2)
                                       ? Sha512Engine::kAvx2Bmi2
                                       : Sha512Engine::kPortable;
    FUZZ_CHECK(Sha512SelectEngine(wanted512));
    FUZZ_CHECK(Sha512ActiveEngine() == wanted512);
}

// Every row of the table by name, with its one-shot function.
struct Named {
    const char* name;
    DigestFunction function;
};

const Named kNamed[] = {
    {"MD5", DigestMD5},         {"SHA1", DigestSHA1},         {"RIPEMD160", DigestRipemd160},
    {"SHA256", DigestSHA256},   {"SHA384", DigestSHA384},     {"SHA512", DigestSHA512},
    {"SHA224", DigestSHA224},   {"SHA3-256", DigestSHA3_256}, {"SHA3-512", DigestSHA3_512},
    {"SHA512/256", DigestSHA512_256},
};

DigestFunction NamedFunction(const char* name)
{
    for (const Named& n : kNamed)
        if (std::strcmp(n.name, name) == 0)
            return n.function;
    FUZZ_CHECK(false);
    return nullptr;
}

// The message fed in pieces whose lengths come from `pieces` (cycled), to
// a digest or an HMAC context.
template <class Context>
void Feed(Context& digest, const Model& message, const Model& pieces)
{
    size_t pos = 0;
    for (size_t i = 0; pos < message.size(); ++i) {
        // Every third piece is longer, so that pieces also span whole blocks.
        const size_t step = pieces.empty() ? message.size()
                                           : std::max<size_t>(pieces[i % pieces.size()], 1) * (i % 3 == 2 ? 13 : 1);
        const size_t take = std::min(step, message.size() - pos);
        digest.Update(message.data() + pos, take);
        pos += take;
    }
}

void CheckDigests(const Model& message, const Model& pieces, uint8_t unknownId)
{
    const XBlob blob = Blob(message);
    size_t count = 0;
    const XHashAlgorithm* rows = HashAlgorithms(count);
    FUZZ_CHECK(count == sizeof kNamed / sizeof kNamed[0]);
    for (size_t i = 0; i < count; ++i) {
        const XHashAlgorithm& row = rows[i];
        const uint8_t id = row.pgpId;
        FUZZ_CHECK(FindHashAlgorithmByName(row.name) == &row);
        const XBlob expected = NamedFunction(row.name)(blob);
        FUZZ_CHECK(expected.Length() == row.digestSize && row.oneShot(blob) == expected);
        if (id != 0) {
            FUZZ_CHECK(FindHashAlgorithm(id) == &row);
            FUZZ_CHECK(row.digestSize == HashSizeById(id) && HashFunctionById(id)(blob) == expected);
        }
        auto context = row.newContext();
        FUZZ_CHECK(context->Size() == row.digestSize);
        Feed(*context, message, pieces);
        FUZZ_CHECK(context->Finish() == expected);
        context->Reset();
        context->Update(blob);
        FUZZ_CHECK(context->Finish() == expected);
        // Pieces of whole compression blocks and the rest.
        auto blocks = row.newContext();
        const size_t whole = message.size() / row.blockSize * row.blockSize;
        blocks->Update(message.data(), whole);
        blocks->Update(message.data() + whole, message.size() - whole);
        FUZZ_CHECK(blocks->Finish() == expected);
        // A clone and a copied state taken midway finish the message on
        // their own, as does the context they were taken from.
        const size_t half = pieces.empty() ? message.size() / 2 : pieces[0] % (message.size() + 1);
        context->Update(message.data(), half);
        auto clone = context->Clone();
        static const uint8_t junk[7] = {1, 2, 3, 4, 5, 6, 7};
        blocks->Update(junk, 1 + half % 7); // a state for CopyFrom to replace
        blocks->CopyFrom(*context);
        for (XDigest* d : {context.get(), clone.get(), blocks.get()}) {
            d->Update(message.data() + half, message.size() - half);
            FUZZ_CHECK(d->Finish() == expected);
        }
    }
    if (FindHashAlgorithm(unknownId))
        return;
    for (int call = 0; call < 5; ++call) {
        try {
            switch (call) {
            case 0: HashFunctionById(unknownId); break;
            case 1: HashSizeById(unknownId); break;
            case 2: NewDigestById(unknownId); break;
            case 3: S2KSimple(unknownId, 16, blob); break;
            default: S2KIterated(unknownId, 16, blob, blob, 0xFF); break;
            }
            FUZZ_CHECK(false);
        } catch (const XAlarm& alarm) {
            fuzz::CheckAlarmText(alarm);
            FUZZ_CHECK(fuzz::Is(alarm, XMessage::kUnsupportedAlgorithm, nullptr));
        }
    }
}

// The SHA-1, SHA-256 and SHA-512 compressions by both engines from the
// same chaining words.
void CheckShaEngines(const Model& message)
{
    const size_t blocks = message.size() / 64;
    uint32_t a[8], b[8];
    for (int i = 0; i < 8; ++i)
        a[i] = b[i] = 0x01234567u * uint32_t(i + 1) ^ (message.empty() ? 0 : message[i % message.size()]);
    XSha1::CompressBlocks(Sha1Engine::kPortable, a, message.data(), blocks);
    if (Sha1EngineAvailable(Sha1Engine::kShaExtensions)) {
        XSha1::CompressBlocks(Sha1Engine::kShaExtensions, b, message.data(), blocks);
        FUZZ_CHECK(std::equal(a, a + 5, b));
    }
    std::copy(a, a + 8, b);
    XSha256Base::CompressBlocks(Sha256Engine::kPortable, a, message.data(), blocks);
    if (Sha256EngineAvailable(Sha256Engine::kShaExtensions)) {
        XSha256Base::CompressBlocks(Sha256Engine::kShaExtensions, b, message.data(), blocks);
        FUZZ_CHECK(std::equal(a, a + 8, b));
    }
    uint64_t c[8], d[8];
    for (int i = 0; i < 8; ++i)
        c[i] = d[i] = uint64_t(a[i]) << 32 ^ b[7 - i];
    XSha512Base::CompressBlocks(Sha512Engine::kPortable, c, message.data(), message.size() / 128);
    if (Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2)) {
        XSha512Base::CompressBlocks(Sha512Engine::kAvx2Bmi2, d, message.data(), message.size() / 128);
        FUZZ_CHECK(std::equal(c, c + 8, d));
    }
}

// HMAC by its definition over the one-shot digest: H((K ^ opad) | H((K ^
// ipad) | data)), K the key (or its digest when longer than a block)
// padded with zeros to a block.
Model ReferenceHmac(const XHashAlgorithm& row, const Model& key, const Model& data)
{
    Model k = key.size() > row.blockSize ? Bytes(row.oneShot(Blob(key))) : key;
    k.resize(row.blockSize, 0);
    Model inner = k, outer = k;
    for (uint8_t& b : inner)
        b ^= 0x36;
    for (uint8_t& b : outer)
        b ^= 0x5c;
    inner.insert(inner.end(), data.begin(), data.end());
    const Model innerDigest = Bytes(row.oneShot(Blob(inner)));
    outer.insert(outer.end(), innerDigest.begin(), innerDigest.end());
    return Bytes(row.oneShot(Blob(outer)));
}

Model ReferencePbkdf2(const XHashAlgorithm& row, const Model& password, const Model& salt, uint32_t iterations,
                      uint32_t length)
{
    Model out;
    for (uint32_t block = 1; out.size() < length; ++block) {
        Model first = salt;
        for (int shift = 24; shift >= 0; shift -= 8)
            first.push_back(uint8_t(block >> shift));
        Model u = ReferenceHmac(row, password, first), t = u;
        for (uint32_t j = 1; j < iterations; ++j) {
            u = ReferenceHmac(row, password, u);
            for (size_t k = 0; k < t.size(); ++k)
                t[k] ^= u[k];
        }
        out.insert(out.end(), t.begin(), t.end());
    }
    out.resize(length);
    return out;
}

Model ReferenceHkdf(const XHashAlgorithm& row, const Model& ikm, const Model& salt, const Model& info,
                    uint32_t length)
{
    const Model prk = ReferenceHmac(row, salt.empty() ? Model(row.digestSize, 0) : salt, ikm);
    Model out, t;
    for (uint32_t i = 1; out.size() < length; ++i) {
        Model input = t;
        input.insert(input.end(), info.begin(), info.end());
        input.push_back(uint8_t(i));
        t = ReferenceHmac(row, prk, input);
        out.insert(out.end(), t.begin(), t.end());
    }
    out.resize(length);
    return out;
}

// The keyed constructions over the row picked by `pick`: the key is the
// salt part, the data the message; PBKDF2 takes 1 to 3 iterations.
void CheckKeyed(uint8_t pick, const Model& message, const Model& pieces, const Model& key, uint32_t passes,
                uint32_t length)
{
    size_t count = 0;
    const XHashAlgorithm& row = HashAlgorithms(count)[pick % count];
    const Model mac = ReferenceHmac(row, key, message);
    FUZZ_CHECK(Bytes(Hmac(row, Blob(key), Blob(message))) == mac);

    XHmac hmac(row, Blob(key));
    FUZZ_CHECK(hmac.Size() == row.digestSize);
    Feed(hmac, message, pieces);
    FUZZ_CHECK(Bytes(hmac.Finish()) == mac);
    // The next message under the same key, after a dropped start.
    hmac.Update(key.data(), key.size());
    hmac.Reset();
    hmac.Update(Blob(pieces));
    FUZZ_CHECK(Bytes(hmac.Finish()) == ReferenceHmac(row, key, pieces));

    const uint32_t iterations = 1 + passes % 3;
    FUZZ_CHECK(Bytes(Pbkdf2(row, Blob(key), Blob(message), iterations, length)) ==
               ReferencePbkdf2(row, key, message, iterations, length));
    FUZZ_CHECK(Bytes(Hkdf(row, Blob(message), Blob(key), Blob(pieces), length)) ==
               ReferenceHkdf(row, message, key, pieces, length));

    bool refused = false;
    try {
        Hkdf(row, Blob(message), Blob(key), Blob(pieces), 255 * row.digestSize + 1 + passes % 1000);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    FUZZ_CHECK(refused);
    refused = false;
    try {
        Pbkdf2(row, Blob(key), Blob(message), 0, length);
    } catch (const std::invalid_argument&) {
        refused = true;
    }
    FUZZ_CHECK(refused);
}

uint32_t BitwiseCrc32(const Model& m)
{
    uint32_t c = 0xFFFFFFFFu;
    for (uint8_t byte : m) {
        c ^= byte;
        for (int k = 0; k < 8; ++k)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
    }
    return ~c;
}

uint32_t BitwiseCrc24(const Model& m)
{
    uint32_t c = 0xB704CEu;
    for (uint8_t byte : m) {
        c ^= uint32_t(byte) << 16;
        for (int k = 0; k < 8; ++k) {
            c <<= 1;
            if (c & 0x1000000u)
                c ^= 0x1864CFBu;
        }
    }
    return c & 0xFFFFFFu;
}

template <class Crc>
void CheckCrc(const Model& message, const Model& pieces, uint32_t (*bitwise)(const Model&))
{
    const uint32_t expected = bitwise(message);
    Crc whole;
    FUZZ_CHECK(whole.Compute(Blob(message)) == expected);
    Crc pieced, bytewise;
    size_t pos = 0, i = 0;
    while (pos < message.size()) {
        const size_t take = std::min<size_t>(pieces.empty() ? message.size() : pieces[i++ % pieces.size()] + 1,
                                             message.size() - pos);
        pieced.Update(message.data() + pos, take);
        pos += take;
    }
    for (uint8_t b : message)
        bytewise.UpdateByte(b);
    FUZZ_CHECK(pieced.Value() == expected);
    FUZZ_CHECK(bytewise.Value() == expected);
    // Compute runs on: a second call covers both messages.
    Model twice = message;
    twice.insert(twice.end(), message.begin(), message.end());
    Crc again;
    again.Compute(Blob(message));
    FUZZ_CHECK(again.Compute(Blob(message)) == bitwise(twice));
}

// The digest of `total` bytes of the repetition of `pattern`, after `zeros` zero bytes.
XBlob PlainDigest(uint8_t id, const Model& pattern, uint64_t total, int zeros)
{
    auto digest = NewDigestById(id);
    const uint8_t zero = 0;
    for (int i = 0; i < zeros; ++i)
        digest->Update(&zero, 1);
    if (!pattern.empty()) {
        for (uint64_t left = total; left > 0;) {
            const size_t take = size_t(std::min<uint64_t>(left, pattern.size()));
            digest->Update(pattern.data(), take);
            left -= take;
        }
    }
    return digest->Finish();
}

// result has `length` bytes and starts with the digests of the preimage
// after 0 and after 1 zero bytes.
void CheckDerived(const XBlob& result, uint32_t length, uint8_t id, const Model& pattern, uint64_t total)
{
    FUZZ_CHECK(result.Length() == length);
    const Model r = Bytes(result);
    const uint32_t size = HashSizeById(id);
    for (int zeros = 0; zeros < 2 && uint64_t(zeros) * size < length; ++zeros) {
        const Model d = Bytes(PlainDigest(id, pattern, total, zeros));
        const size_t take = std::min<size_t>(size, length - zeros * size);
        FUZZ_CHECK(std::equal(d.begin(), d.begin() + take, r.begin() + zeros * size));
    }
}

bool IsPrefix(const XBlob& shorter, const XBlob& longer)
{
    return shorter.Length() <= longer.Length() &&
           (shorter.Length() == 0 || std::memcmp(shorter.Data(), longer.Data(), shorter.Length()) == 0);
}

void CheckS2K(uint8_t id, uint32_t length, const Model& password, const Model& salt, uint32_t passes)
{
    const XBlob pw = Blob(password), sa = Blob(salt);
    Model pattern = salt;
    pattern.insert(pattern.end(), password.begin(), password.end());
    const uint32_t shorter = length / 3;

    const XBlob simple = S2KSimple(id, length, pw);
    CheckDerived(simple, length, id, password, password.size());
    FUZZ_CHECK(IsPrefix(S2KSimple(id, shorter, pw), simple));

    const XBlob salted = S2KSalted(id, length, pw, sa);
    CheckDerived(salted, length, id, pattern, pattern.size());

    const uint64_t count = S2KCount(passes);
    if (count > kMaxS2KCount)
        return;
    const XBlob iterated = S2KIterated(id, length, pw, sa, passes);
    CheckDerived(iterated, length, id, pattern, std::max<uint64_t>(count, pattern.size()));
    FUZZ_CHECK(IsPrefix(S2KIterated(id, shorter, pw, sa, passes), iterated));
}

void CheckExpandSeed(const Model& seed, uint32_t length)
{
    const XBlob result = ExpandSeed(Blob(seed), length);
    FUZZ_CHECK(result.Length() == length);
    FUZZ_CHECK(IsPrefix(ExpandSeed(Blob(seed), length / 2), result));
    // Round one: MD5(seed) and SHA-1(seed); round two the same over
    // seed | round one.
    Model expected, t = seed;
    for (int round = 0; round < 2; ++round) {
        const XBlob md5 = DigestMD5(Blob(t)), sha1 = DigestSHA1(Blob(t));
        for (const XBlob* digest : {&md5, &sha1}) {
            expected.insert(expected.end(), digest->Data(), digest->Data() + digest->Length());
            t.insert(t.end(), digest->Data(), digest->Data() + digest->Length());
        }
    }
    expected.resize(std::min<size_t>(expected.size(), length));
    FUZZ_CHECK(IsPrefix(Blob(expected), result));
}

// The random sources RandomBlob reads: set from the input.
uint32_t g_clock = 0;
uint8_t g_entropy[12] = {};

uint32_t FuzzClock()
{
    return g_clock;
}

void FuzzEntropy(uint8_t* out, size_t length)
{
    FUZZ_CHECK(length == 12);
    std::memcpy(out, g_entropy, 12);
}

void CheckRandom(uint32_t count)
{
    const XRandomSources sources{FuzzClock, FuzzEntropy};
    const XBlob r = RandomBlob(count, sources);
    FUZZ_CHECK(r.Length() == count);
    FUZZ_CHECK(IsPrefix(RandomBlob(count / 2, sources), r));
    // The seed block: the time (big-endian) and the entropy bytes, plus MD5
    // of the time bytes as 128-bit big-endian numbers; the first block is its MD5.
    uint8_t seed[16] = {uint8_t(g_clock >> 24), uint8_t(g_clock >> 16), uint8_t(g_clock >> 8), uint8_t(g_clock)};
    std::memcpy(seed + 4, g_entropy, 12);
    const XBlob timeDigest = DigestMD5(Blob(seed, 4));
    unsigned carry = 0;
    for (int i = 15; i >= 0; --i) {
        const unsigned sum = seed[i] + timeDigest.At(uint32_t(i)) + carry;
        seed[i] = uint8_t(sum);
        carry = sum >> 8;
    }
    const XBlob first = DigestMD5(Blob(seed, 16));
    Model expected = Bytes(first);
    expected.resize(std::min<size_t>(16, count));
    FUZZ_CHECK(IsPrefix(Blob(expected), r));
    // From the system's sources: only the length can be known.
    FUZZ_CHECK(RandomBlob(count).Length() == count);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size > (1u << 20))
        return 0;
    fuzz::Reader in(data, size);
    const uint8_t flags = in.Byte();
    const uint8_t id = in.Byte();
    const uint32_t passes = in.Long();
    const uint32_t length = in.Short() % (kMaxOutput + 1);
    g_clock = in.Long();
    const Model message = in.Part(), pieces = in.Part(), salt = in.Part(), entropy = in.Part();
    for (size_t i = 0; i < 12; ++i)
        g_entropy[i] = i < entropy.size() ? entropy[i] : 0;

    SelectShaEngines(flags & 1);
    CheckDigests(message, pieces, id);
    CheckShaEngines(message);
    SelectShaEngines(!(flags & 1));

    CheckKeyed(id, message, pieces, salt, passes, length);

    CheckCrc<XCrc32>(message, pieces, BitwiseCrc32);
    CheckCrc<XCrc24>(message, pieces, BitwiseCrc24);

    if (FindHashAlgorithm(id))
        CheckS2K(id, length, message, salt, passes);
    CheckExpandSeed(message, length);
    CheckRandom(length);
    return 0;
}
