#include "cipher/triple_des.h"

#include "core/alarm.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <cstring>
#include <utility>

namespace {

// --- The FIPS 46-3 tables ----------------------------------------------------
// Bit numbers are 1-based with bit 1 the most significant, as in the standard.

constexpr uint8_t kPc1[56] = {
    57, 49, 41, 33, 25, 17, 9,  1,  58, 50, 42, 34, 26, 18, //
    10, 2,  59, 51, 43, 35, 27, 19, 11, 3,  60, 52, 44, 36, //
    63, 55, 47, 39, 31, 23, 15, 7,  62, 54, 46, 38, 30, 22, //
    14, 6,  61, 53, 45, 37, 29, 21, 13, 5,  28, 20, 12, 4,
};

constexpr uint8_t kPc2[48] = {
    14, 17, 11, 24, 1,  5,  3,  28, 15, 6,  21, 10, //
    23, 19, 12, 4,  26, 8,  16, 7,  27, 20, 13, 2,  //
    41, 52, 31, 37, 47, 55, 30, 40, 51, 45, 33, 48, //
    44, 49, 39, 56, 34, 53, 46, 42, 50, 36, 29, 32,
};

// Cumulative left rotations of C and D before each round.
constexpr uint8_t kShiftTotals[16] = {1, 2, 4, 6, 8, 10, 12, 14, 15, 17, 19, 21, 23, 25, 27, 28};

constexpr uint8_t kP[32] = {
    16, 7, 20, 21, 29, 12, 28, 17, 1,  15, 23, 26, 5,  18, 31, 10, //
    2,  8, 24, 14, 32, 27, 3,  9,  19, 13, 30, 6,  22, 11, 4,  25,
};

// S1 to S8, each four rows of sixteen.
constexpr uint8_t kS[8][64] = {
    {14, 4,  13, 1, 2,  15, 11, 8,  3,  10, 6,  12, 5,  9,  0, 7,  //
     0,  15, 7,  4, 14, 2,  13, 1,  10, 6,  12, 11, 9,  5,  3, 8,  //
     4,  1,  14, 8, 13, 6,  2,  11, 15, 12, 9,  7,  3,  10, 5, 0,  //
     15, 12, 8,  2, 4,  9,  1,  7,  5,  11, 3,  14, 10, 0,  6, 13},
    {15, 1,  8,  14, 6,  11, 3,  4,  9,  7, 2,  13, 12, 0, 5,  10, //
     3,  13, 4,  7,  15, 2,  8,  14, 12, 0, 1,  10, 6,  9, 11, 5,  //
     0,  14, 7,  11, 10, 4,  13, 1,  5,  8, 12, 6,  9,  3, 2,  15, //
     13, 8,  10, 1,  3,  15, 4,  2,  11, 6, 7,  12, 0,  5, 14, 9},
    {10, 0,  9,  14, 6, 3,  15, 5,  1,  13, 12, 7,  11, 4,  2,  8,  //
     13, 7,  0,  9,  3, 4,  6,  10, 2,  8,  5,  14, 12, 11, 15, 1,  //
     13, 6,  4,  9,  8, 15, 3,  0,  11, 1,  2,  12, 5,  10, 14, 7,  //
     1,  10, 13, 0,  6, 9,  8,  7,  4,  15, 14, 3,  11, 5,  2,  12},
    {7,  13, 14, 3, 0,  6,  9,  10, 1,  2, 8, 5,  11, 12, 4,  15, //
     13, 8,  11, 5, 6,  15, 0,  3,  4,  7, 2, 12, 1,  10, 14, 9,  //
     10, 6,  9,  0, 12, 11, 7,  13, 15, 1, 3, 14, 5,  2,  8,  4,  //
     3,  15, 0,  6, 10, 1,  13, 8,  9,  4, 5, 11, 12, 7,  2,  14},
    {2,  12, 4,  1,  7,  10, 11, 6,  8,  5,  3,  15, 13, 0, 14, 9,  //
     14, 11, 2,  12, 4,  7,  13, 1,  5,  0,  15, 10, 3,  9, 8,  6,  //
     4,  2,  1,  11, 10, 13, 7,  8,  15, 9,  12, 5,  6,  3, 0,  14, //
     11, 8,  12, 7,  1,  14, 2,  13, 6,  15, 0,  9,  10, 4, 5,  3},
    {12, 1,  10, 15, 9, 2,  6,  8,  0,  13, 3,  4,  14, 7,  5,  11, //
     10, 15, 4,  2,  7, 12, 9,  5,  6,  1,  13, 14, 0,  11, 3,  8,  //
     9,  14, 15, 5,  2, 8,  12, 3,  7,  0,  4,  10, 1,  13, 11, 6,  //
     4,  3,  2,  12, 9, 5,  15, 10, 11, 14, 1,  7,  6,  0,  8,  13},
    {4,  11, 2,  14, 15, 0, 8,  13, 3,  12, 9, 7,  5,  10, 6, 1,  //
     13, 0,  11, 7,  4,  9, 1,  10, 14, 3,  5, 12, 2,  15, 8, 6,  //
     1,  4,  11, 13, 12, 3, 7,  14, 10, 15, 6, 8,  0,  5,  9, 2,  //
     6,  11, 13, 8,  1,  4, 10, 7,  9,  5,  0, 15, 14, 2,  3, 12},
    {13, 2,  8,  4, 6,  15, 11, 1,  10, 9,  3,  14, 5,  0,  12, 7, //
     1,  15, 13, 8, 10, 3,  7,  4,  12, 5,  6,  11, 0,  14, 9,  2, //
     7,  11, 4,  1, 9,  12, 14, 2,  0,  6,  10, 13, 15, 3,  5,  8, //
     2,  1,  14, 7, 4,  10, 8,  13, 15, 12, 9,  0,  3,  5,  6,  11},
};

// A mistyped entry shows up here rather than as a wrong ciphertext.
constexpr bool IsPermutation(const uint8_t* table, int n, int first)
{
    bool seen[64] = {};
    for (int i = 0; i < n; ++i) {
        const int v = table[i] - first;
        if (v < 0 || v >= n || seen[v])
            return false;
        seen[v] = true;
    }
    return true;
}

constexpr bool SBoxRowsArePermutations()
{
    for (const auto& box : kS)
        for (int row = 0; row < 4; ++row)
            if (!IsPermutation(box + 16 * row, 16, 0))
                return false;
    return true;
}

constexpr bool Pc1Valid()
{
    // 56 distinct key bits, none of them a parity bit (multiples of 8).
    bool seen[65] = {};
    for (uint8_t b : kPc1) {
        if (b < 1 || b > 64 || b % 8 == 0 || seen[b])
            return false;
        seen[b] = true;
    }
    return true;
}

constexpr bool Pc2Valid()
{
    bool seen[57] = {};
    for (uint8_t b : kPc2) {
        if (b < 1 || b > 56 || seen[b])
            return false;
        seen[b] = true;
    }
    // Each half of the round key comes from its own register: C, then D.
    for (int i = 0; i < 48; ++i)
        if ((i < 24) != (kPc2[i] <= 28))
            return false;
    return true;
}

static_assert(SBoxRowsArePermutations(), "S-box table");
static_assert(IsPermutation(kP, 32, 1), "P table");
static_assert(Pc1Valid(), "PC-1 table");
static_assert(Pc2Valid(), "PC-2 table");

// --- Working representation ---------------------------------------------------
//
// After the initial permutation the halves L and R are 32-bit words with bit 1
// of the standard in the most significant position.  Both are kept rotated
// left by 3 during the rounds.  In X = rotl(R, 3) the expansion E of R lies
// byte-aligned: bits 7..2 of X's bytes 0, 1, 2, 3 are the 6-bit groups 8, 6,
// 4, 2, and in rotr(X, 4) the same places hold groups 7, 5, 3, 1.  A round key
// is stored the same way (two words, each 6-bit group in bits 7..2 of its
// byte), so that one XOR and one mask with 0xfcfcfcfc give four table offsets
// in bytes.  The S-P table entries carry the same rotation by 3, so L is
// updated without undoing it.

// Rotations by 1 to 31 places.
constexpr uint32_t Rotl32(uint32_t x, int n)
{
    return (x << n) | (x >> (32 - n));
}

constexpr uint32_t Rotr(uint32_t x, int n)
{
    return (x >> n) | (x << (32 - n));
}

constexpr uint32_t ApplyP(uint32_t w)
{
    uint32_t out = 0;
    for (int i = 0; i < 32; ++i)
        out |= ((w >> (32 - kP[i])) & 1u) << (31 - i);
    return out;
}

// kSp.t[s][v]: S-box s+1 for the 6-bit input v (v's most significant bit
// first), its four output bits at their place in f, through P, rotated by 3.
struct alignas(64) SpTables {
    uint32_t t[8][64];
};

constexpr SpTables BuildSp()
{
    SpTables sp{};
    for (int s = 0; s < 8; ++s)
        for (int v = 0; v < 64; ++v) {
            const int row = ((v >> 4) & 2) | (v & 1);
            const int column = (v >> 1) & 15;
            const uint32_t out = uint32_t(kS[s][16 * row + column]) << (28 - 4 * s);
            sp.t[s][v] = Rotl32(ApplyP(out), 3);
        }
    return sp;
}

// Evaluated by the compiler: read-only constants shared by every engine,
// nothing to rebuild when a key is set.
constexpr SpTables kSp = BuildSp();

// Where bit j (0..47, 0 = the first bit of group 1) of a round key goes in
// the two-word form: word target / 32, bit target % 32.
constexpr uint8_t RoundKeyTarget(int j)
{
    const int group = j / 6 + 1;  // 1..8
    const int bitInGroup = j % 6; // 0 = the group's most significant bit
    const int word = group % 2 == 0 ? 0 : 1;
    const int byte = word == 0 ? (8 - group) / 2 : (7 - group) / 2;
    return uint8_t(32 * word + 8 * byte + 7 - bitInGroup);
}

// Lookup tables for the key schedule, derived from PC-1 and PC-2.
//
// pc1[q][v]: the bits of C0||D0 (C0 bit 1 at bit 55, D0 bit 28 at bit 0) that
// key nibble q (key bits 4q+1 .. 4q+4) contributes when its value is v.
// pc2[k][v]: the round-key words that PC-2 makes from 7-bit chunk k of C||D
// (k = 0..3 in C, 4..7 in D, each its 7 bits in order) when its value is v.
// Rotating C and D before each round and eight PC-2 lookups give the round key.
struct KeyTables {
    uint64_t pc1[16][16];
    uint32_t pc2[8][128][2];
};

constexpr KeyTables BuildKeyTables()
{
    KeyTables t{};
    for (int q = 0; q < 16; ++q)
        for (int v = 0; v < 16; ++v)
            for (int i = 0; i < 56; ++i) {
                const int bit = kPc1[i] - 1 - 4 * q; // 0..3 when in this nibble
                if (bit >= 0 && bit < 4 && ((v >> (3 - bit)) & 1))
                    t.pc1[q][v] |= uint64_t(1) << (55 - i);
            }
    for (int k = 0; k < 8; ++k)
        for (int v = 0; v < 128; ++v)
            for (int j = 0; j < 48; ++j) {
                const int bit = kPc2[j] - 1 - 7 * k; // 0..6 when in this chunk
                if (bit >= 0 && bit < 7 && ((v >> (6 - bit)) & 1)) {
                    const int target = RoundKeyTarget(j);
                    t.pc2[k][v][target / 32] |= uint32_t(1) << (target % 32);
                }
            }
    return t;
}

constexpr KeyTables kKeyTables = BuildKeyTables();

constexpr uint32_t Rotl28(uint32_t x, int n)
{
    return ((x << n) | (x >> (28 - n))) & 0x0fffffffu;
}

// One DES key schedule: 16 rounds, two words each, in encryption order.
void DesSchedule(const uint8_t* key, uint32_t* rounds)
{
    uint64_t cd = 0;
    for (int i = 0; i < 8; ++i)
        cd |= kKeyTables.pc1[2 * i][key[i] >> 4] | kKeyTables.pc1[2 * i + 1][key[i] & 15];
    const uint32_t c0 = uint32_t(cd >> 28), d0 = uint32_t(cd) & 0x0fffffffu;
    for (int r = 0; r < 16; ++r) {
        const uint32_t c = Rotl28(c0, kShiftTotals[r]);
        const uint32_t d = Rotl28(d0, kShiftTotals[r]);
        uint32_t w0 = 0, w1 = 0;
        for (int k = 0; k < 4; ++k) {
            const uint32_t* fromC = kKeyTables.pc2[k][(c >> (21 - 7 * k)) & 0x7f];
            const uint32_t* fromD = kKeyTables.pc2[4 + k][(d >> (21 - 7 * k)) & 0x7f];
            w0 |= fromC[0] | fromD[0];
            w1 |= fromC[1] | fromD[1];
        }
        rounds[2 * r] = w0;
        rounds[2 * r + 1] = w1;
    }
    SecureWipe(&cd, sizeof cd);
}

// --- The block function ----------------------------------------------------------

// Exchanges the bits of b selected by mask with those of a selected by
// mask << n.  Its own inverse.
inline void SwapMove(uint32_t& a, uint32_t& b, int n, uint32_t mask)
{
    const uint32_t t = ((a >> n) ^ b) & mask;
    b ^= t;
    a ^= t << n;
}

// IP on the block (l, r), leaving both halves rotated left by 3.
inline void InitialPermutation(uint32_t& l, uint32_t& r)
{
    SwapMove(l, r, 4, 0x0f0f0f0fu);
    SwapMove(l, r, 16, 0x0000ffffu);
    SwapMove(r, l, 2, 0x33333333u);
    SwapMove(r, l, 8, 0x00ff00ffu);
    SwapMove(l, r, 1, 0x55555555u);
    l = Rotl32(l, 3);
    r = Rotl32(r, 3);
}

// IP^-1: undoes the rotation and the swaps of InitialPermutation in reverse.
inline void FinalPermutation(uint32_t& l, uint32_t& r)
{
    l = Rotr(l, 3);
    r = Rotr(r, 3);
    SwapMove(l, r, 1, 0x55555555u);
    SwapMove(r, l, 8, 0x00ff00ffu);
    SwapMove(r, l, 2, 0x33333333u);
    SwapMove(l, r, 16, 0x0000ffffu);
    SwapMove(l, r, 4, 0x0f0f0f0fu);
}

// The entry of S-P table s at a byte offset (a multiple of 4 below 256).
inline uint32_t Sp(int s, uint32_t offset)
{
    return *reinterpret_cast<const uint32_t*>(reinterpret_cast<const uint8_t*>(kSp.t[s]) + offset);
}

// The DES function f(R, K) in the rotated representation.
inline uint32_t F(uint32_t x, const uint32_t* k)
{
    const uint32_t u = (x ^ k[0]) & 0xfcfcfcfcu;
    const uint32_t t = (Rotr(x, 4) ^ k[1]) & 0xfcfcfcfcu;
    return Sp(7, u & 0xff) ^ Sp(5, (u >> 8) & 0xff) ^ Sp(3, (u >> 16) & 0xff) ^ Sp(1, u >> 24) //
           ^ Sp(6, t & 0xff) ^ Sp(4, (t >> 8) & 0xff) ^ Sp(2, (t >> 16) & 0xff) ^ Sp(0, t >> 24);
}

// One round on N blocks side by side: a[n] ^= f(b[n], k).  Independent
// blocks keep more of the processor busy than one dependent chain of
// lookups; the expansion over n is spelt out so that the halves of all N
// blocks stay in registers whatever the optimiser's unrolling heuristics.
template <size_t N, size_t... I>
inline void Round(uint32_t (&a)[N], const uint32_t (&b)[N], const uint32_t* k, std::index_sequence<I...>)
{
    ((a[I] ^= F(b[I], k)), ...);
}

// Sixteen rounds of one DES pass.
template <size_t N>
inline void Pass(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* k)
{
    constexpr auto blocks = std::make_index_sequence<N>();
#if defined(__GNUC__)
#pragma GCC unroll 8
#endif
    for (int i = 0; i < 8; ++i, k += 4) {
        Round(l, r, k, blocks);
        Round(r, l, k + 2, blocks);
    }
}

// The 48 rounds between IP and IP^-1.  The rounds update l and r in turn
// without moving them, so after a pass (an even number of rounds) the block
// that DES hands on, its halves exchanged, is (r, l).  The next pass starts
// from exactly that block and so runs with the roles of the words exchanged;
// after the third the output block for IP^-1 is (r, l).
template <size_t N>
inline void Rounds(uint32_t (&l)[N], uint32_t (&r)[N], const uint32_t* k)
{
    Pass(l, r, k);
    Pass(r, l, k + 32);
    Pass(l, r, k + 64);
}

template <size_t N>
inline void CryptBlocks(const uint32_t* k, const uint8_t* in, uint8_t* out)
{
    uint32_t l[N], r[N];
    for (size_t n = 0; n < N; ++n) {
        l[n] = LoadBe32(in + 8 * n);
        r[n] = LoadBe32(in + 8 * n + 4);
        InitialPermutation(l[n], r[n]);
    }
    Rounds(l, r, k);
    for (size_t n = 0; n < N; ++n) {
        FinalPermutation(r[n], l[n]);
        StoreBe32(out + 8 * n, r[n]);
        StoreBe32(out + 8 * n + 4, l[n]);
    }
}

// Blocks enciphered side by side in ECB and in CBC decryption.  Four keeps
// the eight halves in x86-64 registers; wider spills and gets slower.
constexpr size_t kWidth = 4;

// Many blocks with one schedule: kWidth at a time, then one by one.
void CryptMany(const uint32_t* k, const uint8_t* in, uint8_t* out, size_t count)
{
    for (; count >= kWidth; count -= kWidth, in += 8 * kWidth, out += 8 * kWidth)
        CryptBlocks<kWidth>(k, in, out);
    for (; count; --count, in += 8, out += 8)
        CryptBlocks<1>(k, in, out);
}

} // namespace

XTripleDes::~XTripleDes()
{
    SecureWipe(key_, sizeof key_);
    SecureWipe(encryptKeys_, sizeof encryptKeys_);
    SecureWipe(decryptKeys_, sizeof decryptKeys_);
}

void XTripleDes::Schedule()
{
    // K1 forward, K2 backward (decryption), K3 forward.
    uint32_t single[3][32];
    for (int i = 0; i < 3; ++i)
        DesSchedule(key_ + 8 * i, single[i]);
    for (int r = 0; r < 16; ++r) {
        for (int w = 0; w < 2; ++w) {
            encryptKeys_[2 * r + w] = single[0][2 * r + w];
            encryptKeys_[32 + 2 * r + w] = single[1][2 * (15 - r) + w];
            encryptKeys_[64 + 2 * r + w] = single[2][2 * r + w];
        }
    }
    // Decryption runs the same 48 rounds backwards.
    for (int r = 0; r < 48; ++r) {
        decryptKeys_[2 * r] = encryptKeys_[2 * (47 - r)];
        decryptKeys_[2 * r + 1] = encryptKeys_[2 * (47 - r) + 1];
    }
    SecureWipe(single, sizeof single);
    MarkKeyReady();
}

void XTripleDes::EncryptBlock(const uint8_t* in, uint8_t* out) const
{
    CryptBlocks<1>(encryptKeys_, in, out);
}

void XTripleDes::DecryptBlock(const uint8_t* in, uint8_t* out) const
{
    CryptBlocks<1>(decryptKeys_, in, out);
}

void XTripleDes::EncryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    CryptMany(encryptKeys_, in, out, count);
}

void XTripleDes::DecryptBlocks(const uint8_t* in, uint8_t* out, size_t count) const
{
    CryptMany(decryptKeys_, in, out, count);
}

void XTripleDes::EncryptBlocksChained(const uint8_t* in, uint8_t* out, size_t count, uint8_t* chain) const
{
    // The chaining value stays in two words from block to block.
    uint32_t cl = LoadBe32(chain), cr = LoadBe32(chain + 4);
    for (size_t i = 0; i < count; ++i, in += 8, out += 8) {
        uint32_t l[1] = {cl ^ LoadBe32(in)};
        uint32_t r[1] = {cr ^ LoadBe32(in + 4)};
        InitialPermutation(l[0], r[0]);
        Rounds(l, r, encryptKeys_);
        FinalPermutation(r[0], l[0]);
        cl = r[0];
        cr = l[0];
        StoreBe32(out, cl);
        StoreBe32(out + 4, cr);
    }
    StoreBe32(chain, cl);
    StoreBe32(chain + 4, cr);
}

void XTripleDes::MakeKey(const XBlob& material, uint32_t /*length: always 24 key bytes*/)
{
    BuildKey(material, kKeyBytes, key_);
    Schedule();
}

void XTripleDes::SetKey(const XBlob& record)
{
    if (record.Length() < kKeyBytes)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSourceName);
    record.CopyOut(key_, kKeyBytes, 0);
    Schedule();
}

XBlob XTripleDes::GetKey() const
{
    if (!KeyReady())
        throw XCryptoAlarm(XMessage::kInvalidKey, kSourceName);
    XBlob record(kKeyBytes);
    record.AppendBytes(key_, kKeyBytes);
    return record;
}
