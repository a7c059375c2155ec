#include "cipher/blowfish.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <cstring>

namespace {

const char kSource[] = "Blowfish";

// Blocks enciphered side by side in bulk operations.  The round function is
// a chain of dependent table look-ups; independent blocks interleaved keep
// the CPU busy while each waits.  Four blocks need eight live halves, which
// fit the registers of 64-bit targets; 32-bit x86 has too few.
#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || defined(_M_ARM64)
constexpr size_t kLanes = 4;
#else
constexpr size_t kLanes = 2;
#endif

using SBoxes = uint32_t[4][256];

inline uint32_t F(const SBoxes& s, uint32_t x)
{
    return ((s[0][x >> 24] + s[1][(x >> 16) & 0xFF]) ^ s[2][(x >> 8) & 0xFF]) + s[3][x & 0xFF];
}

// The sixteen rounds on N blocks at once, halves l[j], r[j].  With p in
// encryption order this enciphers; with the reversed subkeys it deciphers.
template <size_t N>
inline void Feistel(const uint32_t* p, const SBoxes& s, uint32_t* l, uint32_t* r)
{
    for (size_t j = 0; j < N; ++j)
        l[j] ^= p[0];
    for (int i = 1; i < 17; i += 2) {
        for (size_t j = 0; j < N; ++j)
            r[j] ^= F(s, l[j]) ^ p[i];
        for (size_t j = 0; j < N; ++j)
            l[j] ^= F(s, r[j]) ^ p[i + 1];
    }
    for (size_t j = 0; j < N; ++j) {
        const uint32_t t = r[j] ^ p[17];
        r[j] = l[j];
        l[j] = t;
    }
}

template <size_t N>
inline void Blocks(const uint32_t* p, const SBoxes& s, const uint8_t* in, uint8_t* out)
{
    uint32_t l[N], r[N];
    for (size_t j = 0; j < N; ++j) {
        l[j] = LoadBe32(in + 8 * j);
        r[j] = LoadBe32(in + 8 * j + 4);
    }
    Feistel<N>(p, s, l, r);
    for (size_t j = 0; j < N; ++j) {
        StoreBe32(out + 8 * j, l[j]);
        StoreBe32(out + 8 * j + 4, r[j]);
    }
}

void ManyBlocks(const uint32_t* p, const SBoxes& s, const uint8_t* in, uint8_t* out, size_t count)
{
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        Blocks<kLanes>(p, s, in + 8 * i, out + 8 * i);
    for (; i < count; ++i)
        Blocks<1>(p, s, in + 8 * i, out + 8 * i);
}

} // namespace

XBlowfish::~XBlowfish()
{
    SecureWipe(key_, sizeof key_);
    SecureWipe(&keyLength_, sizeof keyLength_);
    SecureWipe(&schedule_, sizeof schedule_);
}

void XBlowfish::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    Blocks<1>(schedule_.p, schedule_.s, in, out);
}

void XBlowfish::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    Blocks<1>(schedule_.pReversed, schedule_.s, in, out);
}

void XBlowfish::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    ManyBlocks(schedule_.p, schedule_.s, in, out, count);
}

void XBlowfish::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    ManyBlocks(schedule_.pReversed, schedule_.s, in, out, count);
}

void XBlowfish::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    // The chaining block stays in two registers from block to block.
    uint32_t l = LoadBe32(chain), r = LoadBe32(chain + 4);
    for (size_t i = 0; i < count; ++i, in += 8, out += 8) {
        l ^= LoadBe32(in);
        r ^= LoadBe32(in + 4);
        Feistel<1>(schedule_.p, schedule_.s, &l, &r);
        StoreBe32(out, l);
        StoreBe32(out + 4, r);
    }
    StoreBe32(chain, l);
    StoreBe32(chain + 4, r);
}

void XBlowfish::BuildSchedule(const uint8_t* key, uint32_t keyLength, Schedule& schedule) const
{
    const XBlowfishConstants& constants = InitialConstants();

    // 1. Copy the tables in, summing them up on the way.
    uint32_t sum = 0;
    for (int i = 0; i < 18; ++i) {
        const uint32_t v = constants.p[i];
        schedule.p[i] = v;
        schedule.pReversed[17 - i] = v;
        sum = Rotl32(sum, 1) + v;
    }
    for (int b = 0; b < 4; ++b) {
        for (int i = 0; i < 256; ++i) {
            const uint32_t v = constants.s[b][i];
            schedule.s[b][i] = v;
            sum = Rotl32(sum * 13, 11) + v;
        }
    }
    if (sum != kConstantsChecksum)
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);

    // 2. The unkeyed cipher must give the known answer and undo itself.
    uint32_t l = 0, r = 0;
    for (int i = 0; i < 10; ++i)
        Feistel<1>(schedule.p, schedule.s, &l, &r);
    const uint32_t answer = l;
    for (int i = 0; i < 10; ++i)
        Feistel<1>(schedule.pReversed, schedule.s, &l, &r);
    if (answer != kSelfTestAnswer || l != 0 || r != 0)
        throw XCryptoAlarm(XMessage::kUnableToDecrypt, kSource);

    // 3. Mix the key, taken cyclically, into the P-array.
    uint32_t j = 0;
    for (int i = 0; i < 18; ++i) {
        uint32_t word = 0;
        for (int k = 0; k < 4; ++k) {
            word = word << 8 | key[j];
            if (++j == keyLength)
                j = 0;
        }
        schedule.p[i] ^= word;
    }

    // 4. Replace the P-array and then the S-boxes, two words at a time, by
    // the successive encipherments of the zero block (which step 2 left).
    for (int i = 0; i < 18; i += 2) {
        Feistel<1>(schedule.p, schedule.s, &l, &r);
        schedule.p[i] = l;
        schedule.p[i + 1] = r;
        schedule.pReversed[17 - i] = l;
        schedule.pReversed[16 - i] = r;
    }
    for (int b = 0; b < 4; ++b) {
        for (int i = 0; i < 256; i += 2) {
            Feistel<1>(schedule.p, schedule.s, &l, &r);
            schedule.s[b][i] = l;
            schedule.s[b][i + 1] = r;
        }
    }
}

void XBlowfish::Load(const uint8_t* key, uint32_t keyLength)
{
    Schedule fresh;
    try {
        BuildSchedule(key, keyLength, fresh);
    } catch (...) {
        SecureWipe(&fresh, sizeof fresh);
        throw;
    }
    std::memmove(key_, key, keyLength);
    keyLength_ = keyLength;
    std::memcpy(&schedule_, &fresh, sizeof fresh);
    SecureWipe(&fresh, sizeof fresh);
    MarkKeyReady();
}

void XBlowfish::MakeKey(const XBlob& material, uint32_t length)
{
    const uint32_t keyLength = length <= kMinMadeKeySize ? kMinMadeKeySize : length >= kMaxKeySize ? kMaxKeySize : length;
    uint8_t key[kMaxKeySize];
    BuildKey(material, keyLength, key);
    try {
        Load(key, keyLength);
    } catch (...) {
        SecureWipe(key, sizeof key);
        throw;
    }
    SecureWipe(key, sizeof key);
}

void XBlowfish::SetKey(const XBlob& record)
{
    if (record.Length() < 5)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    const uint32_t keyLength = record.ReadLong(0);
    // Only 1 to 56 bytes make a Blowfish key (a length of 0 cannot match
    // a record of at least 5 bytes anyway).
    if (keyLength == 0 || keyLength > kMaxKeySize || record.Length() - 4 != keyLength)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    Load(record.Data() + 4, keyLength);
}

XBlob XBlowfish::GetKey() const
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    XBlob record;
    record.AppendLong(keyLength_);
    record.AppendBytes(key_, keyLength_);
    return record;
}
