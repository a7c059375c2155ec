#include "cipher/cast.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

namespace {

const char kSource[] = "CAST";

// Blocks enciphered side by side in bulk operations, so that the table
// look-ups of independent blocks overlap; 32-bit x86 has registers for two.
#if defined(__x86_64__) || defined(_M_X64) || defined(__aarch64__) || defined(_M_ARM64)
constexpr size_t kLanes = 4;
#else
constexpr size_t kLanes = 2;
#endif

// The three round functions of RFC 2144, section 2.2.
template <int Type>
inline uint32_t F(uint32_t d, uint32_t km, uint32_t kr)
{
    const uint32_t(&s)[8][256] = kCastSBoxes;
    if (Type == 1) {
        const uint32_t i = Rotl32(km + d, kr);
        return ((s[0][i >> 24] ^ s[1][(i >> 16) & 0xFF]) - s[2][(i >> 8) & 0xFF]) + s[3][i & 0xFF];
    } else if (Type == 2) {
        const uint32_t i = Rotl32(km ^ d, kr);
        return ((s[0][i >> 24] - s[1][(i >> 16) & 0xFF]) + s[2][(i >> 8) & 0xFF]) ^ s[3][i & 0xFF];
    } else {
        const uint32_t i = Rotl32(km - d, kr);
        return ((s[0][i >> 24] + s[1][(i >> 16) & 0xFF]) ^ s[2][(i >> 8) & 0xFF]) - s[3][i & 0xFF];
    }
}

struct Subkeys {
    const uint32_t* km;
    const uint32_t* kr;
};

// Round k + 1 (type k mod 3 + 1) on N blocks: a ^= f(b).  The halves take
// turns as a and b instead of being swapped.
template <int Type, size_t N>
inline void Round(const Subkeys& k, int index, uint32_t* a, const uint32_t* b)
{
    const uint32_t km = k.km[index], kr = k.kr[index];
    for (size_t j = 0; j < N; ++j)
        a[j] ^= F<Type>(b[j], km, kr);
}

template <size_t N, bool Full>
inline void Encipher(const Subkeys& k, uint32_t* l, uint32_t* r)
{
    Round<1, N>(k, 0, l, r);
    Round<2, N>(k, 1, r, l);
    Round<3, N>(k, 2, l, r);
    Round<1, N>(k, 3, r, l);
    Round<2, N>(k, 4, l, r);
    Round<3, N>(k, 5, r, l);
    Round<1, N>(k, 6, l, r);
    Round<2, N>(k, 7, r, l);
    Round<3, N>(k, 8, l, r);
    Round<1, N>(k, 9, r, l);
    Round<2, N>(k, 10, l, r);
    Round<3, N>(k, 11, r, l);
    if (Full) {
        Round<1, N>(k, 12, l, r);
        Round<2, N>(k, 13, r, l);
        Round<3, N>(k, 14, l, r);
        Round<1, N>(k, 15, r, l);
    }
}

template <size_t N, bool Full>
inline void Decipher(const Subkeys& k, uint32_t* l, uint32_t* r)
{
    if (Full) {
        Round<1, N>(k, 15, l, r);
        Round<3, N>(k, 14, r, l);
        Round<2, N>(k, 13, l, r);
        Round<1, N>(k, 12, r, l);
    }
    Round<3, N>(k, 11, l, r);
    Round<2, N>(k, 10, r, l);
    Round<1, N>(k, 9, l, r);
    Round<3, N>(k, 8, r, l);
    Round<2, N>(k, 7, l, r);
    Round<1, N>(k, 6, r, l);
    Round<3, N>(k, 5, l, r);
    Round<2, N>(k, 4, r, l);
    Round<1, N>(k, 3, l, r);
    Round<3, N>(k, 2, r, l);
    Round<2, N>(k, 1, l, r);
    Round<1, N>(k, 0, r, l);
}

// N blocks from in to out; the output block is (R, L) after the last round.
template <size_t N, bool Full, bool Decrypt>
inline void Blocks(const Subkeys& k, const uint8_t* in, uint8_t* out)
{
    uint32_t l[N], r[N];
    for (size_t j = 0; j < N; ++j) {
        l[j] = LoadBe32(in + 8 * j);
        r[j] = LoadBe32(in + 8 * j + 4);
    }
    if (Decrypt)
        Decipher<N, Full>(k, l, r);
    else
        Encipher<N, Full>(k, l, r);
    for (size_t j = 0; j < N; ++j) {
        StoreBe32(out + 8 * j, r[j]);
        StoreBe32(out + 8 * j + 4, l[j]);
    }
}

template <bool Full, bool Decrypt>
void ManyBlocks(const Subkeys& k, const uint8_t* in, uint8_t* out, size_t count)
{
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        Blocks<kLanes, Full, Decrypt>(k, in + 8 * i, out + 8 * i);
    for (; i < count; ++i)
        Blocks<1, Full, Decrypt>(k, in + 8 * i, out + 8 * i);
}

template <bool Full>
void Chained(const Subkeys& k, const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain)
{
    // The chaining block stays in two registers from block to block.
    uint32_t c0 = LoadBe32(chain), c1 = LoadBe32(chain + 4);
    for (size_t i = 0; i < count; ++i, in += 8, out += 8) {
        uint32_t l = LoadBe32(in) ^ c0, r = LoadBe32(in + 4) ^ c1;
        Encipher<1, Full>(k, &l, &r);
        c0 = r;
        c1 = l;
        StoreBe32(out, c0);
        StoreBe32(out + 4, c1);
    }
    StoreBe32(chain, c0);
    StoreBe32(chain + 4, c1);
}

} // namespace

XCast::~XCast()
{
    SecureWipe(key_, sizeof key_);
    SecureWipe(masking_, sizeof masking_);
    SecureWipe(rotation_, sizeof rotation_);
}

void XCast::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Subkeys k{masking_, rotation_};
    if (rounds_ == kFullRounds)
        Blocks<1, true, false>(k, in, out);
    else
        Blocks<1, false, false>(k, in, out);
}

void XCast::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Subkeys k{masking_, rotation_};
    if (rounds_ == kFullRounds)
        Blocks<1, true, true>(k, in, out);
    else
        Blocks<1, false, true>(k, in, out);
}

void XCast::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const Subkeys k{masking_, rotation_};
    if (rounds_ == kFullRounds)
        ManyBlocks<true, false>(k, in, out, count);
    else
        ManyBlocks<false, false>(k, in, out, count);
}

void XCast::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const Subkeys k{masking_, rotation_};
    if (rounds_ == kFullRounds)
        ManyBlocks<true, true>(k, in, out, count);
    else
        ManyBlocks<false, true>(k, in, out, count);
}

void XCast::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    const Subkeys k{masking_, rotation_};
    if (rounds_ == kFullRounds)
        Chained<true>(k, in, out, count, chain);
    else
        Chained<false>(k, in, out, count, chain);
}

void XCast::Schedule()
{
    // RFC 2144, section 2.4.  x and z hold the bytes x0 ... xF and z0 ... zF
    // as four big-endian words each; xb(n) and zb(n) pick byte n out.
    const uint32_t(&s5)[256] = kCastSBoxes[4];
    const uint32_t(&s6)[256] = kCastSBoxes[5];
    const uint32_t(&s7)[256] = kCastSBoxes[6];
    const uint32_t(&s8)[256] = kCastSBoxes[7];
    uint32_t x[4], z[4];
    for (int i = 0; i < 4; ++i)
        x[i] = LoadBe32(key_ + 4 * i);
    const auto xb = [&x](int n) { return (x[n >> 2] >> (24 - 8 * (n & 3))) & 0xFF; };
    const auto zb = [&z](int n) { return (z[n >> 2] >> (24 - 8 * (n & 3))) & 0xFF; };
    // z0 ... zF from x0 ... xF, and back; each word uses the ones just made.
    const auto xToZ = [&] {
        z[0] = x[0] ^ s5[xb(0xD)] ^ s6[xb(0xF)] ^ s7[xb(0xC)] ^ s8[xb(0xE)] ^ s7[xb(0x8)];
        z[1] = x[2] ^ s5[zb(0x0)] ^ s6[zb(0x2)] ^ s7[zb(0x1)] ^ s8[zb(0x3)] ^ s8[xb(0xA)];
        z[2] = x[3] ^ s5[zb(0x7)] ^ s6[zb(0x6)] ^ s7[zb(0x5)] ^ s8[zb(0x4)] ^ s5[xb(0x9)];
        z[3] = x[1] ^ s5[zb(0xA)] ^ s6[zb(0x9)] ^ s7[zb(0xB)] ^ s8[zb(0x8)] ^ s6[xb(0xB)];
    };
    const auto zToX = [&] {
        x[0] = z[2] ^ s5[zb(0x5)] ^ s6[zb(0x7)] ^ s7[zb(0x4)] ^ s8[zb(0x6)] ^ s7[zb(0x0)];
        x[1] = z[0] ^ s5[xb(0x0)] ^ s6[xb(0x2)] ^ s7[xb(0x1)] ^ s8[xb(0x3)] ^ s8[zb(0x2)];
        x[2] = z[1] ^ s5[xb(0x7)] ^ s6[xb(0x6)] ^ s7[xb(0x5)] ^ s8[xb(0x4)] ^ s5[zb(0x1)];
        x[3] = z[3] ^ s5[xb(0xA)] ^ s6[xb(0x9)] ^ s7[xb(0xB)] ^ s8[xb(0x8)] ^ s6[zb(0x3)];
    };

    // K1 ... K16 into the masking subkeys, K17 ... K32 (the same steps
    // continued) into the rotation subkeys.
    uint32_t* const halves[2] = {masking_, rotation_};
    for (uint32_t* k : halves) {
        xToZ();
        k[0] = s5[zb(0x8)] ^ s6[zb(0x9)] ^ s7[zb(0x7)] ^ s8[zb(0x6)] ^ s5[zb(0x2)];
        k[1] = s5[zb(0xA)] ^ s6[zb(0xB)] ^ s7[zb(0x5)] ^ s8[zb(0x4)] ^ s6[zb(0x6)];
        k[2] = s5[zb(0xC)] ^ s6[zb(0xD)] ^ s7[zb(0x3)] ^ s8[zb(0x2)] ^ s7[zb(0x9)];
        k[3] = s5[zb(0xE)] ^ s6[zb(0xF)] ^ s7[zb(0x1)] ^ s8[zb(0x0)] ^ s8[zb(0xC)];
        zToX();
        k[4] = s5[xb(0x3)] ^ s6[xb(0x2)] ^ s7[xb(0xC)] ^ s8[xb(0xD)] ^ s5[xb(0x8)];
        k[5] = s5[xb(0x1)] ^ s6[xb(0x0)] ^ s7[xb(0xE)] ^ s8[xb(0xF)] ^ s6[xb(0xD)];
        k[6] = s5[xb(0x7)] ^ s6[xb(0x6)] ^ s7[xb(0x8)] ^ s8[xb(0x9)] ^ s7[xb(0x3)];
        k[7] = s5[xb(0x5)] ^ s6[xb(0x4)] ^ s7[xb(0xA)] ^ s8[xb(0xB)] ^ s8[xb(0x7)];
        xToZ();
        k[8] = s5[zb(0x3)] ^ s6[zb(0x2)] ^ s7[zb(0xC)] ^ s8[zb(0xD)] ^ s5[zb(0x9)];
        k[9] = s5[zb(0x1)] ^ s6[zb(0x0)] ^ s7[zb(0xE)] ^ s8[zb(0xF)] ^ s6[zb(0xC)];
        k[10] = s5[zb(0x7)] ^ s6[zb(0x6)] ^ s7[zb(0x8)] ^ s8[zb(0x9)] ^ s7[zb(0x2)];
        k[11] = s5[zb(0x5)] ^ s6[zb(0x4)] ^ s7[zb(0xA)] ^ s8[zb(0xB)] ^ s8[zb(0x6)];
        zToX();
        k[12] = s5[xb(0x8)] ^ s6[xb(0x9)] ^ s7[xb(0x7)] ^ s8[xb(0x6)] ^ s5[xb(0x3)];
        k[13] = s5[xb(0xA)] ^ s6[xb(0xB)] ^ s7[xb(0x5)] ^ s8[xb(0x4)] ^ s6[xb(0x7)];
        k[14] = s5[xb(0xC)] ^ s6[xb(0xD)] ^ s7[xb(0x3)] ^ s8[xb(0x2)] ^ s7[xb(0x8)];
        k[15] = s5[xb(0xE)] ^ s6[xb(0xF)] ^ s7[xb(0x1)] ^ s8[xb(0x0)] ^ s8[xb(0xD)];
    }
    SecureWipe(x, sizeof x);
    SecureWipe(z, sizeof z);
    MarkKeyReady();
}

void XCast::MakeKey(const XBlob& material, uint32_t)
{
    BuildKey(material, kKeySize, key_);
    rounds_ = material.Length() > kMaxReducedMaterial ? kFullRounds : kReducedRounds;
    Schedule();
}

void XCast::SetKey(const XBlob& record)
{
    if (record.Length() < 4 + kKeySize)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    rounds_ = record.ReadLong(0);
    record.CopyOut(key_, kKeySize, 4);
    Schedule();
}

XBlob XCast::GetKey() const
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    XBlob record;
    record.AppendLong(rounds_);
    record.AppendBytes(key_, kKeySize);
    return record;
}
