#include "rsa/primes.h"

#include <algorithm>
#include <array>

namespace {

constexpr uint32_t kSmallPrimeLimit = 20393;

// The primes up to kSmallPrimeLimit by the sieve of Eratosthenes, evaluated
// by the compiler.
constexpr std::array<uint16_t, kSmallPrimeCount> MakeSmallPrimes()
{
    std::array<bool, kSmallPrimeLimit + 1> composite{};
    std::array<uint16_t, kSmallPrimeCount> primes{};
    size_t count = 0;
    for (uint32_t i = 2; i <= kSmallPrimeLimit; ++i) {
        if (composite[i])
            continue;
        if (count < kSmallPrimeCount)
            primes[count] = uint16_t(i);
        ++count;
        for (uint32_t j = i * i; j <= kSmallPrimeLimit; j += i)
            composite[j] = true;
    }
    // A wrong count leaves a zero in the table, which the checks below catch.
    return count == kSmallPrimeCount ? primes : std::array<uint16_t, kSmallPrimeCount>{};
}

constexpr std::array<uint16_t, kSmallPrimeCount> kTable = MakeSmallPrimes();

static_assert(kTable[0] == 2 && kTable[1] == 3 && kTable[2] == 5, "the table starts 2, 3, 5");
static_assert(kTable[kSmallPrimeCount - 1] == kSmallPrimeLimit, "the 2304th prime is 20393");

// Candidates per sieve window: wider than the typical distance between
// primes at RSA sizes (about 355 odd numbers at 1024 bits), so one window
// usually suffices, yet cheap to cross out.
constexpr uint32_t kWindow = 4096;

// The table primes 3 ... 20393 gathered into groups whose product stays
// below 2^32, so that the residues of a large number need one pass over its
// limbs per group rather than per prime.
struct PrimeGroup {
    uint32_t product;
    uint16_t first; // index of the group's first prime in the table
    uint16_t count;
};

const std::vector<PrimeGroup>& PrimeGroups()
{
    static const std::vector<PrimeGroup> groups = [] {
        std::vector<PrimeGroup> result;
        for (size_t i = 1; i < kSmallPrimeCount;) {
            PrimeGroup g{1, uint16_t(i), 0};
            while (i < kSmallPrimeCount && uint64_t(g.product) * kTable[i] <= UINT32_MAX) {
                g.product *= kTable[i];
                ++g.count;
                ++i;
            }
            result.push_back(g);
        }
        return result;
    }();
    return groups;
}

bool PassesFermatBase2(const XBigInt& c)
{
    XBigInt exponent(c);
    exponent.SubtractSmall(1);
    XBigInt power(2);
    power.PowMod(exponent, c);
    return power.IsOne();
}

} // namespace

const std::array<uint16_t, kSmallPrimeCount> SmallPrimes = kTable;

XPrimeSieve::XPrimeSieve(const XBigInt& start)
    : base_(start), offset_(kSmallPrimeCount), crossed_(kWindow)
{
    if (base_.IsEven())
        base_.AddSmall(1);
    // The candidates are odd, so 2 never divides one: offset_[0] is unused.
    for (const PrimeGroup& g : PrimeGroups()) {
        const uint32_t residue = base_.ModSmall(g.product);
        for (uint32_t j = g.first; j < uint32_t(g.first) + g.count; ++j) {
            const uint32_t s = kTable[j];
            const uint32_t r = residue % s;
            // base + 2i = 0 (mod s) for i = -r / 2 = (s - r) * (s + 1) / 2.
            offset_[j] = uint16_t(((s - r) * ((s + 1) / 2)) % s);
        }
    }
    Fill();
}

void XPrimeSieve::Fill()
{
    std::fill(crossed_.begin(), crossed_.end(), uint8_t(0));
    for (size_t j = 1; j < kSmallPrimeCount; ++j) {
        const uint32_t s = kTable[j];
        uint32_t i = offset_[j];
        for (; i < kWindow; i += s)
            crossed_[i] = 1;
        // The next window starts kWindow candidates further on.
        offset_[j] = uint16_t(i - kWindow);
    }
    next_ = 0;
}

const XBigInt& XPrimeSieve::Next()
{
    for (;;) {
        while (next_ < kWindow && crossed_[next_])
            ++next_;
        if (next_ < kWindow)
            break;
        base_.AddSmall(2 * kWindow);
        Fill();
    }
    candidate_ = base_;
    candidate_.AddSmall(uint32_t(2 * next_));
    ++next_;
    return candidate_;
}

XBigInt NextPrime(const XBigInt& x)
{
    XPrimeSieve sieve(x);
    for (;;) {
        const XBigInt& c = sieve.Next();
        if (PassesFermatBase2(c))
            return c;
    }
}

bool IsStrongProbablePrimeBase2(const XBigInt& c)
{
    if (c.IsEven() || c.BitLength() < 2)
        return false;
    XBigInt minusOne(c);
    minusOne.SubtractSmall(1);
    // c - 1 = t * 2^s with t odd.
    uint64_t s = 0;
    while (!minusOne.TestBit(s))
        ++s;
    XBigInt t(minusOne);
    t.ShiftRight(s);
    XBigInt y(2);
    y.PowMod(t, c);
    if (y.IsOne() || y == minusOne)
        return true;
    for (uint64_t i = 1; i < s; ++i) {
        y.MulMod(y, c);
        if (y == minusOne)
            return true;
        if (y.IsOne())
            return false;
    }
    return false;
}

namespace {

// A number uniformly distributed in [2, c - 2] for c >= 5: twice c's length
// of random bytes, reduced modulo c - 3 (the bias is below 2^-bits of c).
XBigInt RandomBase(const XBigInt& c, void (*entropy)(uint8_t*, size_t))
{
    const uint32_t size = uint32_t(2 * ((c.BitLength() + 7) / 8));
    XBlob raw(size);
    raw.SetLength(size);
    entropy(raw.Data(), size);
    XBigInt a;
    a.FromBytes(raw);
    XBigInt range(c);
    range.SubtractSmall(3);
    a.Modulo(range);
    a.AddSmall(2);
    return a;
}

// One round: c - 1 = t 2^s with t odd, a^t = 1 or some a^(t 2^i) = c - 1.
bool MillerRabinRound(const XBigInt& c, const XBigInt& minusOne, const XBigInt& t, uint64_t s, const XBigInt& a)
{
    XBigInt y(a);
    y.PowMod(t, c);
    if (y.IsOne() || y == minusOne)
        return true;
    for (uint64_t i = 1; i < s; ++i) {
        y.MulMod(y, c);
        if (y == minusOne)
            return true;
        if (y.IsOne())
            return false;
    }
    return false;
}

} // namespace

int MillerRabinRounds(uint32_t bits)
{
    return bits >= 1536 ? 4 : bits >= 1024 ? 5 : 7;
}

bool IsProbablePrime(const XBigInt& c, int rounds, void (*entropy)(uint8_t* out, size_t length))
{
    if (c.IsEven() || c.BitLength() < 3 || (c.BitLength() == 3 && c.ModSmall(8) < 5))
        return false;
    if (!IsStrongProbablePrimeBase2(c))
        return false;
    XBigInt minusOne(c);
    minusOne.SubtractSmall(1);
    uint64_t s = 0;
    while (!minusOne.TestBit(s))
        ++s;
    XBigInt t(minusOne);
    t.ShiftRight(s);
    for (int i = 0; i < rounds; ++i) {
        if (!MillerRabinRound(c, minusOne, t, s, RandomBase(c, entropy)))
            return false;
    }
    return true;
}

XBigInt RandomPrime(uint32_t bits, uint32_t e, void (*entropy)(uint8_t* out, size_t length))
{
    const uint32_t bytes = (bits + 7) / 8;
    const int rounds = MillerRabinRounds(bits);
    XBlob raw(bytes);
    for (;;) {
        raw.SetLength(bytes);
        entropy(raw.Data(), bytes);
        // Exactly `bits` bits, the top two set, odd.
        const uint32_t topBits = bits - 8 * (bytes - 1); // 1 ... 8 bits in the first byte
        raw.At(0) &= uint8_t((1u << topBits) - 1);
        for (uint32_t b : {bits - 1, bits - 2})
            raw.At(bytes - 1 - b / 8) |= uint8_t(1u << (b % 8));
        raw.At(bytes - 1) |= 1;
        XBigInt start;
        start.FromBytes(raw);
        // A prime turns up every ln(2^bits) / 2 odd numbers on average; the
        // sieve passes about a tenth of them.  After 8 times that many the
        // start is drawn again rather than walking on.
        XPrimeSieve sieve(start);
        const uint32_t limit = 8 * bits;
        for (uint32_t tried = 0; tried < limit; ++tried) {
            const XBigInt& c = sieve.Next();
            if (c.BitLength() != bits)
                break;
            if (e > 1 && c.ModSmall(e) == 1)
                continue;
            if (IsProbablePrime(c, rounds, entropy))
                return c;
        }
    }
}
