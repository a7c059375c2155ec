#include "hash/sha3.h"

#include "core/bytes.h"

namespace {

const uint64_t kRoundConstants[24] = {
    0x0000000000000001, 0x0000000000008082, 0x800000000000808a, 0x8000000080008000, 0x000000000000808b,
    0x0000000080000001, 0x8000000080008081, 0x8000000000008009, 0x000000000000008a, 0x0000000000000088,
    0x0000000080008009, 0x000000008000000a, 0x000000008000808b, 0x800000000000008b, 0x8000000000008089,
    0x8000000000008003, 0x8000000000008002, 0x8000000000000080, 0x000000000000800a, 0x800000008000000a,
    0x8000000080008081, 0x8000000000008080, 0x0000000080000001, 0x8000000080008008,
};

} // namespace

// The lanes are named by row (b g k m s for y = 0..4) and column (a e i o u
// for x = 0..4): Abe is x = 1, y = 0.  One round is theta (each lane takes
// the parities of the two neighbouring columns), rho and pi (each lane is
// rotated by its offset and moved: B[y][2x + 3y] = A[x][y]), chi along each
// row and iota; the rounds go from the A lanes to the E lanes and back, two
// per pass of the loop.
//
// Chi (a ^= ~b & c along each row) costs a NOT per lane.  Six lanes (be,
// bi, go, ki, mi, sa) are kept complemented during the permutation instead:
// with those, each row's chi becomes ANDs and ORs with at most one NOT, and
// the complemented lanes come out of chi complemented again.  Theta, rho,
// pi and iota are linear and carry the complements along.
//
// KECCAK_GATHER: theta's D added to the five lanes that land in one output
// row, rotated into b0..b4 (given in output column order).
#define KECCAK_GATHER(A0, D0, R0, A1, D1, R1, A2, D2, R2, A3, D3, R3, A4, D4, R4) \
    A0 ^= D0;                                                               \
    b0 = Rotl64(A0, R0);                                                    \
    A1 ^= D1;                                                               \
    b1 = Rotl64(A1, R1);                                                    \
    A2 ^= D2;                                                               \
    b2 = Rotl64(A2, R2);                                                    \
    A3 ^= D3;                                                               \
    b3 = Rotl64(A3, R3);                                                    \
    A4 ^= D4;                                                               \
    b4 = Rotl64(A4, R4)

// One round from the lanes prefixed A to those prefixed E.
#define KECCAK_ROUND(A, E, rc)                                                                       \
    {                                                                                                \
        const uint64_t ca = A##ba ^ A##ga ^ A##ka ^ A##ma ^ A##sa;                                  \
        const uint64_t ce = A##be ^ A##ge ^ A##ke ^ A##me ^ A##se;                                  \
        const uint64_t ci = A##bi ^ A##gi ^ A##ki ^ A##mi ^ A##si;                                  \
        const uint64_t co = A##bo ^ A##go ^ A##ko ^ A##mo ^ A##so;                                  \
        const uint64_t cu = A##bu ^ A##gu ^ A##ku ^ A##mu ^ A##su;                                  \
        const uint64_t da = cu ^ Rotl64(ce, 1);                                                     \
        const uint64_t de = ca ^ Rotl64(ci, 1);                                                     \
        const uint64_t di = ce ^ Rotl64(co, 1);                                                     \
        const uint64_t dd = ci ^ Rotl64(cu, 1);                                                     \
        const uint64_t du = co ^ Rotl64(ca, 1);                                                     \
        uint64_t b0, b1, b2, b3, b4;                                                                \
        KECCAK_GATHER(A##ba, da, 0, A##ge, de, 44, A##ki, di, 43, A##mo, dd, 21, A##su, du, 14);    \
        E##ba = b0 ^ (b1 | b2) ^ (rc);                                                              \
        E##be = b1 ^ (~b2 | b3);                                                                    \
        E##bi = b2 ^ (b3 & b4);                                                                     \
        E##bo = b3 ^ (b4 | b0);                                                                     \
        E##bu = b4 ^ (b0 & b1);                                                                     \
        KECCAK_GATHER(A##bo, dd, 28, A##gu, du, 20, A##ka, da, 3, A##me, de, 45, A##si, di, 61);    \
        E##ga = b0 ^ (b1 | b2);                                                                     \
        E##ge = b1 ^ (b2 & b3);                                                                     \
        E##gi = b2 ^ (b3 | ~b4);                                                                    \
        E##go = b3 ^ (b4 | b0);                                                                     \
        E##gu = b4 ^ (b0 & b1);                                                                     \
        KECCAK_GATHER(A##be, de, 1, A##gi, di, 6, A##ko, dd, 25, A##mu, du, 8, A##sa, da, 18);      \
        E##ka = b0 ^ (b1 | b2);                                                                     \
        E##ke = b1 ^ (b2 & b3);                                                                     \
        b3 = ~b3;                                                                                   \
        E##ki = b2 ^ (b3 & b4);                                                                     \
        E##ko = b3 ^ (b4 | b0);                                                                     \
        E##ku = b4 ^ (b0 & b1);                                                                     \
        KECCAK_GATHER(A##bu, du, 27, A##ga, da, 36, A##ke, de, 10, A##mi, di, 15, A##so, dd, 56);   \
        E##ma = b0 ^ (b1 & b2);                                                                     \
        E##me = b1 ^ (b2 | b3);                                                                     \
        b3 = ~b3;                                                                                   \
        E##mi = b2 ^ (b3 | b4);                                                                     \
        E##mo = b3 ^ (b4 & b0);                                                                     \
        E##mu = b4 ^ (b0 | b1);                                                                     \
        KECCAK_GATHER(A##bi, di, 62, A##go, dd, 55, A##ku, du, 39, A##ma, da, 41, A##se, de, 2);    \
        E##su = b4 ^ (b0 & b1);                                                                     \
        E##si = b2 ^ (b3 & b4);                                                                     \
        E##so = b3 ^ (b4 | b0);                                                                     \
        b1 = ~b1;                                                                                   \
        E##sa = b0 ^ (b1 & b2);                                                                     \
        E##se = b1 ^ (b2 | b3);                                                                     \
    }

#define KECCAK_LANES(P)                                                                                    \
    P##ba, P##be, P##bi, P##bo, P##bu, P##ga, P##ge, P##gi, P##go, P##gu, P##ka, P##ke, P##ki, P##ko, P##ku, \
        P##ma, P##me, P##mi, P##mo, P##mu, P##sa, P##se, P##si, P##so, P##su

void XSha3Base::Permute(uint64_t s[25])
{
    // Complemented on the way in and out: be, bi, go, ki, mi, sa.
    uint64_t Aba = s[0], Abe = ~s[1], Abi = ~s[2], Abo = s[3], Abu = s[4];
    uint64_t Aga = s[5], Age = s[6], Agi = s[7], Ago = ~s[8], Agu = s[9];
    uint64_t Aka = s[10], Ake = s[11], Aki = ~s[12], Ako = s[13], Aku = s[14];
    uint64_t Ama = s[15], Ame = s[16], Ami = ~s[17], Amo = s[18], Amu = s[19];
    uint64_t Asa = ~s[20], Ase = s[21], Asi = s[22], Aso = s[23], Asu = s[24];
    uint64_t KECCAK_LANES(E);

    for (int round = 0; round < 24; round += 2) {
        KECCAK_ROUND(A, E, kRoundConstants[round]);
        KECCAK_ROUND(E, A, kRoundConstants[round + 1]);
    }

    s[0] = Aba, s[1] = ~Abe, s[2] = ~Abi, s[3] = Abo, s[4] = Abu;
    s[5] = Aga, s[6] = Age, s[7] = Agi, s[8] = ~Ago, s[9] = Agu;
    s[10] = Aka, s[11] = Ake, s[12] = ~Aki, s[13] = Ako, s[14] = Aku;
    s[15] = Ama, s[16] = Ame, s[17] = ~Ami, s[18] = Amo, s[19] = Amu;
    s[20] = ~Asa, s[21] = Ase, s[22] = Asi, s[23] = Aso, s[24] = Asu;
}

#undef KECCAK_GATHER
#undef KECCAK_ROUND
#undef KECCAK_LANES

void XSha3Base::Start()
{
    for (uint64_t& lane : state_)
        lane = 0;
    absorbed_ = 0;
}

void XSha3Base::Update(const uint8_t* data, size_t length)
{
    while (length > 0) {
        if (absorbed_ == 0 && length >= rate_) {
            // Whole blocks straight from the input, a lane at a time.
            const uint32_t lanes = rate_ / 8;
            do {
                for (uint32_t i = 0; i < lanes; ++i)
                    state_[i] ^= LoadLe64(data + 8 * i);
                Permute(state_);
                data += rate_;
                length -= rate_;
            } while (length >= rate_);
            continue;
        }
        const size_t take = length < rate_ - absorbed_ ? length : rate_ - absorbed_;
        for (size_t i = 0; i < take; ++i, ++absorbed_)
            state_[absorbed_ / 8] ^= uint64_t(data[i]) << (8 * (absorbed_ % 8));
        data += take;
        length -= take;
        if (absorbed_ == rate_) {
            Permute(state_);
            absorbed_ = 0;
        }
    }
}

void XSha3Base::Output(uint8_t* out, uint32_t bytes)
{
    state_[absorbed_ / 8] ^= uint64_t(0x06) << (8 * (absorbed_ % 8));
    state_[(rate_ - 1) / 8] ^= uint64_t(0x80) << (8 * ((rate_ - 1) % 8));
    Permute(state_);
    for (uint32_t i = 0; i < bytes; ++i)
        out[i] = uint8_t(state_[i / 8] >> (8 * (i % 8)));
}

void XSha3_256::FinishInto(uint8_t* out)
{
    Output(out, kSize);
    Reset();
}

void XSha3_512::FinishInto(uint8_t* out)
{
    Output(out, kSize);
    Reset();
}
