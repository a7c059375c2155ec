// Helpers shared by the key generation and RSA engine tests: conversions
// between XBigInt and GMP, and key blobs written by hand from GMP numbers
// (the byte, hex and alarm helpers are test_support.h's).
#pragma once

#include "core/alarm.h"
#include "core/xblob.h"
#include "rsa/bigint.h"
#include "rsa/rsa.h"
#include "tests/native/rsa_gmp_reference.h"
#include "tests/native/test_support.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

namespace rsa_test {

using namespace test_support;
using rsa_gmp::Mpz;

inline Mpz ToMpz(const XBigInt& x)
{
    return Mpz(x.ToBytes(0));
}

inline XBigInt ToBig(const Mpz& z)
{
    XBigInt x;
    x.FromBytes(BlobOf(z.ToBytes()));
    return x;
}

inline bool Equal(const XBigInt& a, const Mpz& b)
{
    return mpz_cmp(ToMpz(a).get(), b.get()) == 0;
}

inline std::string Hex(const Mpz& z)
{
    return ToHex(z.ToBytes());
}

// Length-prefixed item as the key blobs hold it.
inline void AppendItem(Bytes& out, const Bytes& item)
{
    const uint32_t n = uint32_t(item.size());
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(uint8_t(n >> shift));
    out.insert(out.end(), item.begin(), item.end());
}

inline Bytes Long(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// Key blobs written from GMP numbers (minimal big-endian items).
inline XBlob PublicBlob(uint32_t k, const Mpz& n, const Mpz& e)
{
    Bytes b = Long(k);
    AppendItem(b, n.ToBytes());
    AppendItem(b, e.ToBytes());
    return BlobOf(b);
}

inline XBlob PrivateBlob(const rsa_gmp::Key& key)
{
    Bytes b = Long(key.k);
    for (const Mpz* x : {&key.n, &key.d, &key.p, &key.q, &key.dP, &key.dQ, &key.qInv})
        AppendItem(b, x->ToBytes());
    return BlobOf(b);
}

// The items of a key blob after its 4-byte size; false when malformed.
inline bool ParseItems(const Bytes& blob, uint32_t& k, std::vector<Bytes>& items)
{
    if (blob.size() < 4)
        return false;
    k = uint32_t(blob[0]) << 24 | uint32_t(blob[1]) << 16 | uint32_t(blob[2]) << 8 | blob[3];
    items.clear();
    size_t pos = 4;
    while (pos < blob.size()) {
        if (blob.size() - pos < 4)
            return false;
        const size_t n = size_t(blob[pos]) << 24 | size_t(blob[pos + 1]) << 16 | size_t(blob[pos + 2]) << 8 |
                         blob[pos + 3];
        pos += 4;
        if (blob.size() - pos < n)
            return false;
        items.emplace_back(blob.begin() + long(pos), blob.begin() + long(pos + n));
        pos += n;
    }
    return true;
}

// A key of the same shape from any two distinct primes p > q (or q > p when
// the caller wants them the other way round) and e coprime to both p - 1 and
// q - 1.  d is the inverse of e modulo lcm(p - 1, q - 1) when `lcm`, else
// modulo (p - 1)(q - 1).
inline rsa_gmp::Key KeyFromPrimes(uint32_t k, const Mpz& p, const Mpz& q, unsigned long e, bool lcm = false)
{
    rsa_gmp::Key key;
    key.k = k;
    key.p = p;
    key.q = q;
    mpz_mul(key.n.get(), p.get(), q.get());
    mpz_set_ui(key.e.get(), e);
    Mpz pm1, qm1, phi;
    mpz_sub_ui(pm1.get(), p.get(), 1);
    mpz_sub_ui(qm1.get(), q.get(), 1);
    if (lcm)
        mpz_lcm(phi.get(), pm1.get(), qm1.get());
    else
        mpz_mul(phi.get(), pm1.get(), qm1.get());
    EXPECT_NE(mpz_invert(key.d.get(), key.e.get(), phi.get()), 0);
    mpz_mod(key.dP.get(), key.d.get(), pm1.get());
    mpz_mod(key.dQ.get(), key.d.get(), qm1.get());
    EXPECT_NE(mpz_invert(key.qInv.get(), q.get(), p.get()), 0);
    return key;
}

// The first prime at or above 2^bits + offset.
inline Mpz PrimeAbove(unsigned long bits, unsigned long offset)
{
    Mpz z;
    mpz_setbit(z.get(), bits);
    mpz_add_ui(z.get(), z.get(), offset);
    mpz_nextprime(z.get(), z.get());
    return z;
}

} // namespace rsa_test
