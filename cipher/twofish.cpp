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
// undoes the last swap.
//
// The bulk paths run several blocks side by side so that the table lookups
// of independent blocks overlap.  The blocks are separate arguments of a
// parameter pack expanded with fold expressions, each step written out once
// per block at compile time: the interleave does not depend on the compiler
// choosing to unroll a loop over lanes or keep an array of state words in
// registers (at -O2, or with wider vector instructions enabled, GCC kept
// such arrays in memory and ran at half the speed).

#if defined(__GNUC__)
#define ZEL_TWOFISH_INLINE inline __attribute__((always_inline))
#define ZEL_TWOFISH_ENTRY __attribute__((noinline))
#else
#define ZEL_TWOFISH_INLINE inline
#define ZEL_TWOFISH_ENTRY
#endif

// With AVX-512 enabled (-march=native on a CPU that has it) GCC 12 moves
// state words through the 32 vector registers instead of spilling them to
// the stack, and the rounds ran at half the speed.  The block functions are
// compiled without it; they are entered through calls (never inlined into
// code compiled with it) and use nothing defined outside this section.
#if defined(__GNUC__) && !defined(__clang__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_TWOFISH_TARGET_PRAGMA 1
#pragma GCC push_options
#pragma GCC target("no-avx512f")
#endif

// Rotations by 1 to 31 bits.
ZEL_TWOFISH_INLINE uint32_t RotateLeft(uint32_t x, unsigned n)
{
    return (x << n) | (x >> (32 - n));
}

ZEL_TWOFISH_INLINE uint32_t RotateRight(uint32_t x, unsigned n)
{
    return (x >> n) | (x << (32 - n));
}

struct State {
    uint32_t a, b, c, d;
};

// Little-endian words of a block.  On a little-endian host a plain 32-bit
// load or store: GCC otherwise merges the byte-wise stores of several
// blocks into vector byte inserts when AVX-512 is enabled, which costs more
// than the rounds.
ZEL_TWOFISH_INLINE uint32_t LoadWord(const uint8_t* p)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
#else
    return LoadLe32(p);
#endif
}

ZEL_TWOFISH_INLINE void StoreWord(uint8_t* p, uint32_t v)
{
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(p, &v, 4);
#else
    StoreLe32(p, v);
#endif
}

// The four keyed tables, 256 words each, one after the other: one base
// register serves all four lookups, the table number an address
// displacement.  It is written as the first of two indexes: clang turned
// base[256 + byte] into an OR of 256 into the byte before each load.
using Sboxes = const uint32_t (*)[256];

// g(x), and g of x rotated left by 8 bits.
ZEL_TWOFISH_INLINE uint32_t G(Sboxes s, uint32_t x)
{
    return s[0][x & 0xFF] ^ s[1][(x >> 8) & 0xFF] ^ s[2][(x >> 16) & 0xFF] ^ s[3][x >> 24];
}

ZEL_TWOFISH_INLINE uint32_t GRotated(Sboxes s, uint32_t x)
{
    return s[0][x >> 24] ^ s[1][x & 0xFF] ^ s[2][(x >> 8) & 0xFF] ^ s[3][(x >> 16) & 0xFF];
}

// Encryption: round 2r updates c and d, round 2r + 1 updates a and b.
ZEL_TWOFISH_INLINE void EncryptEven(Sboxes s, const uint32_t* rk, State& x)
{
    const uint32_t t0 = G(s, x.a);
    const uint32_t t1 = GRotated(s, x.b);
    x.c = RotateRight(x.c ^ (t0 + t1 + rk[0]), 1);
    x.d = RotateLeft(x.d, 1) ^ (t0 + 2 * t1 + rk[1]);
}

ZEL_TWOFISH_INLINE void EncryptOdd(Sboxes s, const uint32_t* rk, State& x)
{
    const uint32_t t0 = G(s, x.c);
    const uint32_t t1 = GRotated(s, x.d);
    x.a = RotateRight(x.a ^ (t0 + t1 + rk[2]), 1);
    x.b = RotateLeft(x.b, 1) ^ (t0 + 2 * t1 + rk[3]);
}

// Decryption undoes them in the opposite order.
ZEL_TWOFISH_INLINE void DecryptOdd(Sboxes s, const uint32_t* rk, State& x)
{
    const uint32_t t0 = G(s, x.c);
    const uint32_t t1 = GRotated(s, x.d);
    x.a = RotateLeft(x.a, 1) ^ (t0 + t1 + rk[2]);
    x.b = RotateRight(x.b ^ (t0 + 2 * t1 + rk[3]), 1);
}

ZEL_TWOFISH_INLINE void DecryptEven(Sboxes s, const uint32_t* rk, State& x)
{
    const uint32_t t0 = G(s, x.a);
    const uint32_t t1 = GRotated(s, x.b);
    x.c = RotateLeft(x.c, 1) ^ (t0 + t1 + rk[0]);
    x.d = RotateRight(x.d ^ (t0 + 2 * t1 + rk[1]), 1);
}

// Whitening of a, b, c, d with k[0..3].
ZEL_TWOFISH_INLINE void Whiten(const uint32_t* k, State& x)
{
    x.a ^= k[0];
    x.b ^= k[1];
    x.c ^= k[2];
    x.d ^= k[3];
}

// The same for the state as it leaves the rounds (c, d, a, b).
ZEL_TWOFISH_INLINE void WhitenSwapped(const uint32_t* k, State& x)
{
    x.c ^= k[0];
    x.d ^= k[1];
    x.a ^= k[2];
    x.b ^= k[3];
}

// Every block of the pack through the sixteen rounds, whitening included.
template <typename... S>
ZEL_TWOFISH_INLINE void EncryptStates(Sboxes s, const uint32_t* k, S&... x)
{
    (Whiten(k, x), ...);
    const uint32_t* rk = k + 8;
    for (unsigned pair = 0; pair < 8; ++pair, rk += 4) {
        (EncryptEven(s, rk, x), ...);
        (EncryptOdd(s, rk, x), ...);
    }
    (WhitenSwapped(k + 4, x), ...);
}

// The inverse: the state enters as c, d, a, b (the order the encryption
// leaves it in) and leaves as a, b, c, d.
template <typename... S>
ZEL_TWOFISH_INLINE void DecryptStates(Sboxes s, const uint32_t* k, S&... x)
{
    (WhitenSwapped(k + 4, x), ...);
    const uint32_t* rk = k + 36;
    for (unsigned pair = 0; pair < 8; ++pair, rk -= 4) {
        (DecryptOdd(s, rk, x), ...);
        (DecryptEven(s, rk, x), ...);
    }
    (Whiten(k, x), ...);
}

ZEL_TWOFISH_INLINE void LoadPlain(State& x, const uint8_t* p)
{
    x.a = LoadWord(p);
    x.b = LoadWord(p + 4);
    x.c = LoadWord(p + 8);
    x.d = LoadWord(p + 12);
}

ZEL_TWOFISH_INLINE void LoadCipher(State& x, const uint8_t* p)
{
    x.c = LoadWord(p);
    x.d = LoadWord(p + 4);
    x.a = LoadWord(p + 8);
    x.b = LoadWord(p + 12);
}

ZEL_TWOFISH_INLINE void StorePlain(uint8_t* p, const State& x)
{
    StoreWord(p, x.a);
    StoreWord(p + 4, x.b);
    StoreWord(p + 8, x.c);
    StoreWord(p + 12, x.d);
}

ZEL_TWOFISH_INLINE void StoreCipher(uint8_t* p, const State& x)
{
    StoreWord(p, x.c);
    StoreWord(p + 4, x.d);
    StoreWord(p + 8, x.a);
    StoreWord(p + 12, x.b);
}

ZEL_TWOFISH_ENTRY void Encrypt1(Sboxes s, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    State x;
    LoadPlain(x, in);
    EncryptStates(s, k, x);
    StoreCipher(out, x);
}

ZEL_TWOFISH_ENTRY void Decrypt1(Sboxes s, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    State x;
    LoadCipher(x, in);
    DecryptStates(s, k, x);
    StorePlain(out, x);
}

// Four blocks side by side; every block is read before any is written, so
// in and out may be the same.  Four measured best on x86-64 with GCC (three,
// whose state fits in registers, ran about 5% slower; with clang the two are
// even; five or more spilled too much), and on 32-bit x86 four still beat
// one or two.
constexpr unsigned kLanes = 4;

ZEL_TWOFISH_ENTRY void EncryptLanes(Sboxes s, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    State x0, x1, x2, x3;
    LoadPlain(x0, in);
    LoadPlain(x1, in + 16);
    LoadPlain(x2, in + 32);
    LoadPlain(x3, in + 48);
    EncryptStates(s, k, x0, x1, x2, x3);
    StoreCipher(out, x0);
    StoreCipher(out + 16, x1);
    StoreCipher(out + 32, x2);
    StoreCipher(out + 48, x3);
}

ZEL_TWOFISH_ENTRY void DecryptLanes(Sboxes s, const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    State x0, x1, x2, x3;
    LoadCipher(x0, in);
    LoadCipher(x1, in + 16);
    LoadCipher(x2, in + 32);
    LoadCipher(x3, in + 48);
    DecryptStates(s, k, x0, x1, x2, x3);
    StorePlain(out, x0);
    StorePlain(out + 16, x1);
    StorePlain(out + 32, x2);
    StorePlain(out + 48, x3);
}

// Cipher block chaining, one block after the other; the chaining block stays
// in registers from block to block.
ZEL_TWOFISH_ENTRY void EncryptChained(Sboxes s, const uint32_t* k, const uint8_t* in, uint8_t* out,
                                      size_t count, uint8_t* chain)
{
    // x holds the previous ciphertext as the rounds leave it (c, d, a, b).
    State x, p;
    LoadCipher(x, chain);
    for (size_t i = 0; i < count; ++i, in += 16, out += 16) {
        LoadPlain(p, in);
        x = State{x.c ^ p.a, x.d ^ p.b, x.a ^ p.c, x.b ^ p.d};
        EncryptStates(s, k, x);
        StoreCipher(out, x);
    }
    StoreCipher(chain, x);
}

#if ZEL_TWOFISH_TARGET_PRAGMA
#pragma GCC pop_options
#endif

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
    Encrypt1(sbox_, subkeys_, in, out);
}

void XTwofish::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    Decrypt1(sbox_, subkeys_, in, out);
}

void XTwofish::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        EncryptLanes(sbox_, subkeys_, in + 16 * i, out + 16 * i);
    for (; i < count; ++i)
        Encrypt1(sbox_, subkeys_, in + 16 * i, out + 16 * i);
}

void XTwofish::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    size_t i = 0;
    for (; i + kLanes <= count; i += kLanes)
        DecryptLanes(sbox_, subkeys_, in + 16 * i, out + 16 * i);
    for (; i < count; ++i)
        Decrypt1(sbox_, subkeys_, in + 16 * i, out + 16 * i);
}

void XTwofish::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    if (count)
        EncryptChained(sbox_, subkeys_, in, out, count, chain);
}
