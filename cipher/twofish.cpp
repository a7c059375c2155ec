#include "cipher/twofish.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <array>
#include <cstring>

namespace {

const char kSource[] = "Twofish";

// --- constant tables -------------------------------------------------------
//
// The fixed permutations q0 and q1 are built from four 4-bit permutations
// each; the tables are generated at compile time from those nibble tables.

constexpr uint8_t kQ0Nibbles[4][16] = {
    {0x8, 0x1, 0x7, 0xD, 0x6, 0xF, 0x3, 0x2, 0x0, 0xB, 0x5, 0x9, 0xE, 0xC, 0xA, 0x4},
    {0xE, 0xC, 0xB, 0x8, 0x1, 0x2, 0x3, 0x5, 0xF, 0x4, 0xA, 0x6, 0x7, 0x0, 0x9, 0xD},
    {0xB, 0xA, 0x5, 0xE, 0x6, 0xD, 0x9, 0x0, 0xC, 0x8, 0xF, 0x3, 0x2, 0x4, 0x7, 0x1},
    {0xD, 0x7, 0xF, 0x4, 0x1, 0x2, 0x6, 0xE, 0x9, 0xB, 0x3, 0x0, 0x8, 0x5, 0xC, 0xA},
};

constexpr uint8_t kQ1Nibbles[4][16] = {
    {0x2, 0x8, 0xB, 0xD, 0xF, 0x7, 0x6, 0xE, 0x3, 0x1, 0x9, 0x4, 0x0, 0xA, 0xC, 0x5},
    {0x1, 0xE, 0x2, 0xB, 0x4, 0xC, 0x3, 0x7, 0x6, 0xD, 0xA, 0x5, 0xF, 0x9, 0x0, 0x8},
    {0x4, 0xC, 0x7, 0x5, 0x1, 0x6, 0x9, 0xA, 0x0, 0xE, 0xD, 0x8, 0x2, 0xB, 0x3, 0xF},
    {0xB, 0x9, 0x5, 0x1, 0xC, 0x3, 0xD, 0xE, 0x6, 0x4, 0x7, 0xF, 0x2, 0x0, 0x8, 0xA},
};

// MDS matrix over GF(2^8) modulo x^8 + x^6 + x^5 + x^3 + 1 (0x169).
constexpr uint8_t kMds[4][4] = {
    {0x01, 0xEF, 0x5B, 0x5B},
    {0x5B, 0xEF, 0xEF, 0x01},
    {0xEF, 0x5B, 0x01, 0xEF},
    {0xEF, 0x01, 0xEF, 0x5B},
};
constexpr unsigned kMdsPolynomial = 0x169;

// Reed-Solomon matrix over GF(2^8) modulo x^8 + x^6 + x^3 + x^2 + 1 (0x14D):
// maps 8 key bytes to one 32-bit word of the S-box key.
constexpr uint8_t kRs[4][8] = {
    {0x01, 0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E},
    {0xA4, 0x56, 0x82, 0xF3, 0x1E, 0xC6, 0x68, 0xE5},
    {0x02, 0xA1, 0xFC, 0xC1, 0x47, 0xAE, 0x3D, 0x19},
    {0xA4, 0x55, 0x87, 0x5A, 0x58, 0xDB, 0x9E, 0x03},
};
constexpr unsigned kRsPolynomial = 0x14D;

// Which permutation (0 for q0, 1 for q1) input byte j of h passes through
// before it is XORed with byte j of key word i (kStageQ[i][j]), and the last
// one, before the MDS matrix (kFinalQ[j]).  Key word k-1 is applied first.
constexpr uint8_t kStageQ[4][4] = {
    {0, 0, 1, 1},
    {0, 1, 0, 1},
    {1, 1, 0, 0},
    {1, 0, 0, 1},
};
constexpr uint8_t kFinalQ[4] = {1, 0, 1, 0};

constexpr uint8_t Ror4(unsigned v)
{
    return uint8_t(((v >> 1) | (v << 3)) & 0x0F);
}

constexpr std::array<uint8_t, 256> MakeQ(const uint8_t (&t)[4][16])
{
    std::array<uint8_t, 256> q{};
    for (unsigned x = 0; x < 256; ++x) {
        unsigned a = x >> 4, b = x & 0x0F;
        for (unsigned stage = 0; stage < 2; ++stage) {
            const unsigned mixedA = a ^ b;
            const unsigned mixedB = (a ^ Ror4(b) ^ (a << 3)) & 0x0F;
            a = t[2 * stage][mixedA];
            b = t[2 * stage + 1][mixedB];
        }
        q[x] = uint8_t(b << 4 | a);
    }
    return q;
}

constexpr uint8_t GfMultiply(unsigned a, unsigned b, unsigned polynomial)
{
    unsigned product = 0;
    for (; b; b >>= 1) {
        if (b & 1)
            product ^= a;
        a <<= 1;
        if (a & 0x100)
            a ^= polynomial;
    }
    return uint8_t(product);
}

constexpr std::array<std::array<uint8_t, 256>, 2> kQ = {MakeQ(kQ0Nibbles), MakeQ(kQ1Nibbles)};

// kMdsQ[j][x]: x through column j's last permutation, then multiplied into
// column j of the MDS matrix.
constexpr std::array<std::array<uint32_t, 256>, 4> MakeMdsQ()
{
    std::array<std::array<uint32_t, 256>, 4> table{};
    for (unsigned j = 0; j < 4; ++j)
        for (unsigned x = 0; x < 256; ++x) {
            const uint8_t y = kQ[kFinalQ[j]][x];
            uint32_t column = 0;
            for (unsigned i = 0; i < 4; ++i)
                column |= uint32_t(GfMultiply(kMds[i][j], y, kMdsPolynomial)) << (8 * i);
            table[j][x] = column;
        }
    return table;
}

constexpr std::array<std::array<uint32_t, 256>, 4> kMdsQ = MakeMdsQ();

static_assert(kQ[0][0] == 0xA9 && kQ[1][0] == 0x75, "q0/q1 permutation tables");

// --- helpers ---------------------------------------------------------------

// Byte j of an input to h through the keyed permutation chain for the K key
// words l[0..K-1] (l[K-1] first), up to but not including the last
// permutation, which kMdsQ holds.
template <uint32_t K>
inline uint8_t KeyedChain(uint8_t x, unsigned j, const uint32_t* l)
{
    for (uint32_t i = K; i-- > 0;)
        x = uint8_t(kQ[kStageQ[i][j]][x] ^ (l[i] >> (8 * j)));
    return x;
}

template <uint32_t K>
uint32_t H(uint32_t x, const uint32_t* l)
{
    uint32_t z = 0;
    for (unsigned j = 0; j < 4; ++j)
        z ^= kMdsQ[j][KeyedChain<K>(uint8_t(x >> (8 * j)), j, l)];
    return z;
}

// The Reed-Solomon code of 8 key bytes.
uint32_t RsEncode(const uint8_t* m)
{
    uint32_t s = 0;
    for (unsigned r = 0; r < 4; ++r) {
        uint8_t byte = 0;
        for (unsigned c = 0; c < 8; ++c)
            byte ^= GfMultiply(kRs[r][c], m[c], kRsPolynomial);
        s |= uint32_t(byte) << (8 * r);
    }
    return s;
}

// The schedule for a key of K 64-bit words: the 40 subkeys and the four
// keyed S-box tables.
template <uint32_t K>
void ExpandKey(const uint8_t* key, uint32_t* subkeys, uint32_t (*sbox)[256])
{
    uint32_t even[K], odd[K], sboxKey[K];
    for (uint32_t i = 0; i < K; ++i) {
        even[i] = LoadLe32(key + 8 * i);
        odd[i] = LoadLe32(key + 8 * i + 4);
        // h takes the S-box key words last first.
        sboxKey[K - 1 - i] = RsEncode(key + 8 * i);
    }

    for (uint32_t i = 0; i < 40; i += 2) {
        const uint32_t a = H<K>(i * 0x01010101u, even);
        const uint32_t b = Rotl32(H<K>((i + 1) * 0x01010101u, odd), 8);
        subkeys[i] = a + b;
        subkeys[i + 1] = Rotl32(a + 2 * b, 9);
    }

    for (unsigned j = 0; j < 4; ++j)
        for (unsigned x = 0; x < 256; ++x)
            sbox[j][x] = kMdsQ[j][KeyedChain<K>(uint8_t(x), j, sboxKey)];

    SecureWipe(even, sizeof even);
    SecureWipe(odd, sizeof odd);
    SecureWipe(sboxKey, sizeof sboxKey);
}

// --- the block function ----------------------------------------------------
//
// The state words are a, b, c, d.  A pair of rounds is written without the
// swap: the first round updates c and d from a and b, the second a and b
// from c and d.  After eight pairs the words come out as c, d, a, b, which
// undoes the last swap.  N blocks are run side by side so that the table
// lookups of independent blocks overlap.

struct Tables {
    const uint32_t* s0;
    const uint32_t* s1;
    const uint32_t* s2;
    const uint32_t* s3;

    // g(x), and g of x rotated left by 8 bits.
    uint32_t G(uint32_t x) const { return s0[x & 0xFF] ^ s1[(x >> 8) & 0xFF] ^ s2[(x >> 16) & 0xFF] ^ s3[x >> 24]; }
    uint32_t GRotated(uint32_t x) const
    {
        return s0[x >> 24] ^ s1[x & 0xFF] ^ s2[(x >> 8) & 0xFF] ^ s3[(x >> 16) & 0xFF];
    }
};

template <unsigned N>
inline void EncryptCore(const Tables& t, const uint32_t* k, uint32_t (&a)[N], uint32_t (&b)[N], uint32_t (&c)[N],
                        uint32_t (&d)[N])
{
    for (unsigned n = 0; n < N; ++n) {
        a[n] ^= k[0];
        b[n] ^= k[1];
        c[n] ^= k[2];
        d[n] ^= k[3];
    }
    const uint32_t* rk = k + 8;
    for (unsigned pair = 0; pair < 8; ++pair, rk += 4) {
        for (unsigned n = 0; n < N; ++n) {
            const uint32_t t0 = t.G(a[n]);
            const uint32_t t1 = t.GRotated(b[n]);
            c[n] = Rotr32(c[n] ^ (t0 + t1 + rk[0]), 1);
            d[n] = Rotl32(d[n], 1) ^ (t0 + 2 * t1 + rk[1]);
        }
        for (unsigned n = 0; n < N; ++n) {
            const uint32_t t0 = t.G(c[n]);
            const uint32_t t1 = t.GRotated(d[n]);
            a[n] = Rotr32(a[n] ^ (t0 + t1 + rk[2]), 1);
            b[n] = Rotl32(b[n], 1) ^ (t0 + 2 * t1 + rk[3]);
        }
    }
    for (unsigned n = 0; n < N; ++n) {
        c[n] ^= k[4];
        d[n] ^= k[5];
        a[n] ^= k[6];
        b[n] ^= k[7];
    }
}

// The inverse: the state enters as c, d, a, b (the order the encryption
// leaves it in) and leaves as a, b, c, d.
template <unsigned N>
inline void DecryptCore(const Tables& t, const uint32_t* k, uint32_t (&a)[N], uint32_t (&b)[N], uint32_t (&c)[N],
                        uint32_t (&d)[N])
{
    for (unsigned n = 0; n < N; ++n) {
        c[n] ^= k[4];
        d[n] ^= k[5];
        a[n] ^= k[6];
        b[n] ^= k[7];
    }
    const uint32_t* rk = k + 36;
    for (unsigned pair = 0; pair < 8; ++pair, rk -= 4) {
        for (unsigned n = 0; n < N; ++n) {
            const uint32_t t0 = t.G(c[n]);
            const uint32_t t1 = t.GRotated(d[n]);
            a[n] = Rotl32(a[n], 1) ^ (t0 + t1 + rk[2]);
            b[n] = Rotr32(b[n] ^ (t0 + 2 * t1 + rk[3]), 1);
        }
        for (unsigned n = 0; n < N; ++n) {
            const uint32_t t0 = t.G(a[n]);
            const uint32_t t1 = t.GRotated(b[n]);
            c[n] = Rotl32(c[n], 1) ^ (t0 + t1 + rk[0]);
            d[n] = Rotr32(d[n] ^ (t0 + 2 * t1 + rk[1]), 1);
        }
    }
    for (unsigned n = 0; n < N; ++n) {
        a[n] ^= k[0];
        b[n] ^= k[1];
        c[n] ^= k[2];
        d[n] ^= k[3];
    }
}

template <unsigned N>
inline void EncryptN(const Tables& t, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    uint32_t a[N], b[N], c[N], d[N];
    for (unsigned n = 0; n < N; ++n) {
        a[n] = LoadLe32(in + 16 * n);
        b[n] = LoadLe32(in + 16 * n + 4);
        c[n] = LoadLe32(in + 16 * n + 8);
        d[n] = LoadLe32(in + 16 * n + 12);
    }
    EncryptCore<N>(t, k, a, b, c, d);
    for (unsigned n = 0; n < N; ++n) {
        StoreLe32(out + 16 * n, c[n]);
        StoreLe32(out + 16 * n + 4, d[n]);
        StoreLe32(out + 16 * n + 8, a[n]);
        StoreLe32(out + 16 * n + 12, b[n]);
    }
}

template <unsigned N>
inline void DecryptN(const Tables& t, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    uint32_t a[N], b[N], c[N], d[N];
    for (unsigned n = 0; n < N; ++n) {
        c[n] = LoadLe32(in + 16 * n);
        d[n] = LoadLe32(in + 16 * n + 4);
        a[n] = LoadLe32(in + 16 * n + 8);
        b[n] = LoadLe32(in + 16 * n + 12);
    }
    DecryptCore<N>(t, k, a, b, c, d);
    for (unsigned n = 0; n < N; ++n) {
        StoreLe32(out + 16 * n, a[n]);
        StoreLe32(out + 16 * n + 4, b[n]);
        StoreLe32(out + 16 * n + 8, c[n]);
        StoreLe32(out + 16 * n + 12, d[n]);
    }
}

// Blocks run side by side in the bulk paths.  Four hide most of the latency
// of the lookup chains; more only spill registers (measured on x86-64, and
// on 32-bit x86, where four still beat one or two despite the spills).
constexpr unsigned kLanes = 4;

} // namespace

XTwofish::~XTwofish()
{
    SecureWipe(key_, sizeof key_);
    SecureWipe(&keyWords_, sizeof keyWords_);
    SecureWipe(subkeys_, sizeof subkeys_);
    SecureWipe(sbox_, sizeof sbox_);
}

void XTwofish::Schedule()
{
    switch (keyWords_) {
    case 2:
        ExpandKey<2>(key_, subkeys_, sbox_);
        break;
    case 3:
        ExpandKey<3>(key_, subkeys_, sbox_);
        break;
    default:
        ExpandKey<4>(key_, subkeys_, sbox_);
        break;
    }
    MarkKeyReady();
}

void XTwofish::MakeKey(const XBlob& material, uint32_t length)
{
    const uint32_t keyBytes = length <= 16 ? 16 : length <= 24 ? 24 : 32;
    BuildKey(material, keyBytes, key_);
    std::memset(key_ + keyBytes, 0, sizeof key_ - keyBytes);
    keyWords_ = keyBytes / 8;
    Schedule();
}

void XTwofish::SetKey(const XBlob& record)
{
    if (record.Length() < 5)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    const uint32_t words = record.ReadLong(0);
    // Only 2, 3 or 4 words are Twofish keys; checking the range first also
    // keeps 8 * words from wrapping around.
    if (words < 2 || words > 4 || record.Length() != 8 * words + 4)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    keyWords_ = words;
    record.CopyOut(key_, 8 * words, 4);
    std::memset(key_ + 8 * words, 0, sizeof key_ - 8 * words);
    Schedule();
}

XBlob XTwofish::GetKey() const
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
    XBlob record(4 + 8 * keyWords_);
    record.AppendLong(keyWords_);
    record.AppendBytes(key_, 8 * keyWords_);
    return record;
}

void XTwofish::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Tables t{sbox_[0], sbox_[1], sbox_[2], sbox_[3]};
    EncryptN<1>(t, subkeys_, in, out);
}

void XTwofish::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    const Tables t{sbox_[0], sbox_[1], sbox_[2], sbox_[3]};
    DecryptN<1>(t, subkeys_, in, out);
}

void XTwofish::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const Tables t{sbox_[0], sbox_[1], sbox_[2], sbox_[3]};
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        EncryptN<kLanes>(t, subkeys_, in + 16 * i, out + 16 * i);
    for (; i < count; ++i)
        EncryptN<1>(t, subkeys_, in + 16 * i, out + 16 * i);
}

void XTwofish::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    const Tables t{sbox_[0], sbox_[1], sbox_[2], sbox_[3]};
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        DecryptN<kLanes>(t, subkeys_, in + 16 * i, out + 16 * i);
    for (; i < count; ++i)
        DecryptN<1>(t, subkeys_, in + 16 * i, out + 16 * i);
}

void XTwofish::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    if (count == 0)
        return;
    const Tables t{sbox_[0], sbox_[1], sbox_[2], sbox_[3]};
    // The chaining block stays in registers from block to block.
    uint32_t x0 = LoadLe32(chain), x1 = LoadLe32(chain + 4), x2 = LoadLe32(chain + 8), x3 = LoadLe32(chain + 12);
    for (size_t i = 0; i < count; ++i, in += 16, out += 16) {
        uint32_t a[1] = {x0 ^ LoadLe32(in)}, b[1] = {x1 ^ LoadLe32(in + 4)};
        uint32_t c[1] = {x2 ^ LoadLe32(in + 8)}, d[1] = {x3 ^ LoadLe32(in + 12)};
        EncryptCore<1>(t, subkeys_, a, b, c, d);
        x0 = c[0];
        x1 = d[0];
        x2 = a[0];
        x3 = b[0];
        StoreLe32(out, x0);
        StoreLe32(out + 4, x1);
        StoreLe32(out + 8, x2);
        StoreLe32(out + 12, x3);
    }
    StoreLe32(chain, x0);
    StoreLe32(chain + 4, x1);
    StoreLe32(chain + 8, x2);
    StoreLe32(chain + 12, x3);
}
