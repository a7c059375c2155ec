// The key generation procedure and the RSA block operations written again
// over GMP, as the yardstick of the RSA tests and benchmarks: its own table
// of small primes (from mpz_nextprime), candidate-by-candidate trial
// division with mpz_divisible_ui_p, the Fermat test with mpz_powm, and the
// private operation through the CRT.  Only ExpandSeed, the seed stretcher,
// comes from the engine.
#pragma once

#include "core/xblob.h"
#include "hash/s2k.h"

#include <gmp.h>

#include <algorithm>
#include <cstdint>
#include <utility>
#include <vector>

namespace rsa_gmp {

using Bytes = std::vector<uint8_t>;

class Mpz {
public:
    Mpz() { mpz_init(z_); }
    explicit Mpz(unsigned long v) { mpz_init_set_ui(z_, v); }
    explicit Mpz(const Bytes& b)
    {
        mpz_init(z_);
        if (!b.empty())
            mpz_import(z_, b.size(), 1, 1, 1, 0, b.data());
    }
    explicit Mpz(const XBlob& b)
    {
        mpz_init(z_);
        if (b.Length())
            mpz_import(z_, b.Length(), 1, 1, 1, 0, b.Data());
    }
    Mpz(const Mpz& o) { mpz_init_set(z_, o.z_); }
    Mpz& operator=(const Mpz& o)
    {
        mpz_set(z_, o.z_);
        return *this;
    }
    ~Mpz() { mpz_clear(z_); }

    mpz_ptr get() { return z_; }
    mpz_srcptr get() const { return z_; }

    // Minimal big-endian bytes (zero: the one byte 00), or exactly `length`
    // bytes: the value modulo 256^length, with zeros in front.
    Bytes ToBytes(size_t length = 0) const
    {
        const size_t size = (mpz_sizeinbase(z_, 2) + 7) / 8;
        Bytes raw(size ? size : 1);
        size_t count = 0;
        mpz_export(raw.data(), &count, 1, 1, 1, 0, z_);
        raw.resize(count ? count : 1);
        if (count == 0)
            raw[0] = 0;
        if (length == 0)
            return raw;
        if (count >= length)
            return Bytes(raw.end() - long(length), raw.end());
        Bytes out(length, 0);
        if (count)
            std::copy(raw.begin(), raw.end(), out.end() - long(count));
        return out;
    }

private:
    mpz_t z_;
};

// The first 2304 primes.
inline const std::vector<unsigned long>& TablePrimes()
{
    static const std::vector<unsigned long> primes = [] {
        std::vector<unsigned long> v;
        Mpz p(1);
        while (v.size() < 2304) {
            mpz_nextprime(p.get(), p.get());
            v.push_back(mpz_get_ui(p.get()));
        }
        return v;
    }();
    return primes;
}

inline bool DividedByTablePrime(const Mpz& c)
{
    for (unsigned long s : TablePrimes()) {
        if (mpz_divisible_ui_p(c.get(), s))
            return true;
    }
    return false;
}

// The scan: odd candidates from x, trial division, Fermat to base 2.
inline Mpz NextPrime(const Mpz& x)
{
    Mpz c(x), minusOne, two(2), power;
    if (mpz_even_p(c.get()))
        mpz_add_ui(c.get(), c.get(), 1);
    for (;; mpz_add_ui(c.get(), c.get(), 2)) {
        if (DividedByTablePrime(c))
            continue;
        // 2^(c-1) mod c; for c = 1 the exponent is 0 and the power 1.
        mpz_sub_ui(minusOne.get(), c.get(), 1);
        mpz_powm(power.get(), two.get(), minusOne.get(), c.get());
        if (mpz_cmp_ui(minusOne.get(), 0) == 0 || mpz_cmp_ui(power.get(), 1) == 0)
            return c;
    }
}

struct Key {
    uint32_t k = 0;
    Mpz p, q, n, e, d, dP, dQ, qInv;
};

inline Mpz FromSeed(const XBlob& seed, uint32_t length)
{
    return Mpz(ExpandSeed(seed, length));
}

inline Key Keygen(const XBlob& seed1, const XBlob& seed2, uint32_t size)
{
    Key key;
    key.k = size <= 64 ? 64 : size <= 128 ? 128 : 256;
    key.p = NextPrime(FromSeed(seed1, key.k / 2));
    key.q = NextPrime(FromSeed(seed2, key.k / 2));
    const int order = mpz_cmp(key.p.get(), key.q.get());
    if (order < 0) {
        mpz_swap(key.p.get(), key.q.get());
    } else if (order == 0) {
        Mpz next(key.p);
        mpz_add_ui(next.get(), next.get(), 1);
        key.p = NextPrime(next);
    }
    mpz_mul(key.n.get(), key.p.get(), key.q.get());
    Mpz pm1, qm1, phi, g;
    mpz_sub_ui(pm1.get(), key.p.get(), 1);
    mpz_sub_ui(qm1.get(), key.q.get(), 1);
    mpz_mul(phi.get(), pm1.get(), qm1.get());
    mpz_set_ui(key.e.get(), 65537);
    for (;;) {
        mpz_gcd(g.get(), key.e.get(), phi.get());
        if (mpz_cmp_ui(g.get(), 1) == 0)
            break;
        mpz_add_ui(key.e.get(), key.e.get(), 1);
        key.e = NextPrime(key.e);
    }
    mpz_invert(key.d.get(), key.e.get(), phi.get());
    mpz_mod(key.dP.get(), key.d.get(), pm1.get());
    mpz_mod(key.dQ.get(), key.d.get(), qm1.get());
    mpz_invert(key.qInv.get(), key.q.get(), key.p.get());
    return key;
}

// x^d mod n through the CRT: m2 = x^dQ mod q, m1 = x^dP mod p,
// s = m2 + q ((m1 - m2) qInv mod p).
inline void CrtPower(Mpz& s, const Mpz& x, const Key& key)
{
    Mpz m1, m2, h;
    mpz_powm(m2.get(), x.get(), key.dQ.get(), key.q.get());
    mpz_powm(m1.get(), x.get(), key.dP.get(), key.p.get());
    mpz_sub(h.get(), m1.get(), m2.get());
    mpz_mul(h.get(), h.get(), key.qInv.get());
    mpz_mod(h.get(), h.get(), key.p.get());
    mpz_mul(h.get(), h.get(), key.q.get());
    mpz_add(s.get(), h.get(), m2.get());
}

} // namespace rsa_gmp
