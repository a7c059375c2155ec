// Prime search for RSA key generation.
//
// NextPrime scans upwards from a starting number in steps of 2.  A candidate
// is rejected when one of the 2304 table primes (2 ... 20393) divides it, and
// a candidate that survives is accepted when it passes the Fermat test to
// base 2 (2^(c-1) mod c = 1).  There is no second base and no Miller-Rabin
// round: the scan is deterministic, so that the same seeds always give the
// same key.  A candidate equal to a table prime is divisible by itself and is
// rejected like any other; the search is meant for numbers above the table.
//
// The trial division is done by a sieve: the residues of the first candidate
// modulo the table primes are computed once, and every table prime crosses
// out its multiples in a window of upcoming candidates.  The candidates the
// sieve lets through are exactly those that candidate-by-candidate trial
// division would let through, in the same order, so the result is the same.
#pragma once

#include "rsa/bigint.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <vector>

constexpr size_t kSmallPrimeCount = 2304;

// The first 2304 primes in increasing order: 2, 3, 5, ..., 20393.
extern const std::array<uint16_t, kSmallPrimeCount> SmallPrimes;

// The first number counting up from x in odd steps (x itself when odd, else
// x + 1) that no table prime divides and that passes the Fermat test to
// base 2.  Numbers below the table are no exception: NextPrime(3) is 20399.
// (0 and 1 give 1: no table prime divides 1, and 2^0 mod 1 is taken as 1.)
XBigInt NextPrime(const XBigInt& x);

// The candidates of the scan that survive the trial division by the table
// primes, one after the other.
class XPrimeSieve {
public:
    // Candidates start, start + 2, ...; an even start is first made odd (+1).
    explicit XPrimeSieve(const XBigInt& start);

    // The next candidate that no table prime divides.
    const XBigInt& Next();

private:
    // Crosses out the multiples of the table primes among the window's
    // candidates base_, base_ + 2, ..., base_ + 2 (window size - 1).
    void Fill();

    XBigInt base_;                 // the window's first candidate
    XBigInt candidate_;            // the last candidate handed out
    std::vector<uint16_t> offset_; // per table prime s: the first window index i with s | base_ + 2i
    std::vector<uint8_t> crossed_; // per window index: some table prime divides the candidate
    size_t next_ = 0;              // the window index to look at next
};

// The strong probable-prime test (one Miller-Rabin round) to base 2 for an
// odd c > 2; false for anything else.
bool IsStrongProbablePrimeBase2(const XBigInt& c);

// Miller-Rabin with `rounds` bases drawn from `entropy` (uniform in
// [2, c - 2]), after one round to base 2 that turns most composites away
// cheaply.  False for c < 5 and for even c.
bool IsProbablePrime(const XBigInt& c, int rounds, void (*entropy)(uint8_t* out, size_t length));

// The Miller-Rabin rounds key generation runs on a prime of `bits` bits,
// for an error probability below 2^-100 at 512 bits and the rounds of the
// federal signature standard's table for RSA primes above (5 at 1024 bits,
// 4 at 1536 and 2048 bits, where the error falls below 2^-112, 2^-128 and
// 2^-144).
int MillerRabinRounds(uint32_t bits);

// A random probable prime of exactly `bits` bits (bits >= 64) with its top
// two bits set, such that p - 1 is not divisible by the odd prime e: a
// random odd start from `entropy` with those bits set, then the sieve's
// candidates upwards from it, each tested by IsProbablePrime; a search that
// would run past `bits` bits, or runs long, starts again from a new number.
XBigInt RandomPrime(uint32_t bits, uint32_t e, void (*entropy)(uint8_t* out, size_t length));
