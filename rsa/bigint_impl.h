// The members of XBigIntT, included by the files that instantiate it
// (bigint.cpp for XBigInt's limb width, bigint_narrow.cpp for the other).
#pragma once

#include "rsa/bigint.h"
#include "rsa/bigint_ifma.h"
#include "rsa/bigint_limbs.h"
#include "rsa/bigint_sse2.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <tuple>
#include <utility>

namespace zel_bigint {

// Every number without an array of its own (the value zero from the
// constructor, or a number moved from) points here with capacity 0.  It is
// only ever read: every write goes through Reserve, which gives the number an
// array first.
template <typename Limb>
struct SharedZero {
    static constexpr Limb kLimb = 0;
    static Limb* Get() { return const_cast<Limb*>(&kLimb); }
};

template <typename Limb>
inline uint32_t CheckedCount(size_t count)
{
    if (count > UINT32_MAX)
        throw std::bad_alloc();
    return uint32_t(count);
}

// Bit i of the n-limb number a (i below n * kBits).
template <typename Limb>
inline unsigned Bit(const Limb* a, uint64_t i)
{
    return unsigned(a[i / kBits<Limb>] >> (i % kBits<Limb>)) & 1;
}

// Values modulo an even modulus: products are reduced by long division with
// the divisor scaled once in advance.
template <typename Limb>
class PlainModulus {
public:
    // m has n limbs, m[n - 1] != 0.
    PlainModulus(const Limb* m, size_t n)
        : n_(n), m0_(m[0]), shift_(CountLeadingZeros(m[n - 1])), scratch_(n + 2 * n + 1 + 2 * n)
    {
        divisor_ = scratch_.Get();
        product_ = divisor_ + n;
        shifted_ = product_ + 2 * n;
        ShiftLeftN(divisor_, m, n, shift_);
    }

    // r = a * b mod m; a, b < m with n limbs; r (n limbs) may alias a or b.
    void Multiply(Limb* r, const Limb* a, const Limb* b)
    {
        if (a == b)
            SqrBasecase(product_, a, n_);
        else
            MulBasecase(product_, a, n_, b, n_);
        Reduce(r, product_);
    }

private:
    // r = t mod m for t < m^2 held in 2n limbs.
    void Reduce(Limb* r, const Limb* t)
    {
        if (n_ == 1) {
            // t < m^2: t[1] < m, and the remainder is one wide division.
            r[0] = Limb(((Wide<Limb>(t[1]) << kBits<Limb>) | t[0]) % m0_);
            return;
        }
        shifted_[2 * n_] = ShiftLeftN(shifted_, t, 2 * n_, shift_);
        DivRemNormalized<Limb>(nullptr, shifted_, 2 * n_, divisor_, n_);
        ShiftRightN(r, shifted_, n_, shift_);
    }

    size_t n_;
    Limb m0_;
    unsigned shift_;
    LimbBuffer<Limb> scratch_;
    Limb* divisor_;  // m << shift_ (n limbs)
    Limb* product_;  // 2n limbs
    Limb* shifted_;  // 2n + 1 limbs
};

template <typename Limb>
class MontgomeryModulus {
public:
    // m odd with n limbs.
    MontgomeryModulus(const Limb* m, size_t n) : scratch_(3 * n)
    {
        Limb* copy = scratch_.Get();
        std::memcpy(copy, m, n * sizeof(Limb));
        product_ = copy + n;
        mont_.m = copy;
        mont_.n = n;
        mont_.minv = Montgomery<Limb>::NegInverse(m[0]);
        // 32-bit limbs: the vector kernel when the process runs one (its
        // radix R differs from B^n; ToMontgomery and FromMontgomery follow).
        if constexpr (sizeof(Limb) == 4) {
            const XBigIntNarrowKernel kernel = XBigIntActiveNarrowKernel();
            if (kernel != XBigIntNarrowKernel::kPortable && VectorMontgomery32::Fits(n))
                vector_ = std::make_unique<VectorMontgomery32>(copy, n, kernel);
        }
    }

    void Multiply(Limb* r, const Limb* a, const Limb* b)
    {
        if constexpr (sizeof(Limb) == 4) {
            if (vector_) {
                vector_->Multiply(r, a, b);
                return;
            }
        }
        mont_.Multiply(r, a, b, product_);
    }
    // The same with the masked final subtraction (no value-dependent
    // branch); the vector kernel always masks it.
    void MultiplyMasked(Limb* r, const Limb* a, const Limb* b)
    {
        if constexpr (sizeof(Limb) == 4) {
            if (vector_) {
                vector_->Multiply(r, a, b);
                return;
            }
        }
        mont_.MultiplyMasked(r, a, b, product_);
    }

    // r = 2 r mod m for r < m (n limbs); the same in the Montgomery domain.
    void Double(Limb* r) const
    {
        const Limb out = ShiftLeftN(r, r, mont_.n, 1);
        if (out || CompareN(r, mont_.m, mont_.n) >= 0)
            SubN(r, r, mont_.m, mont_.n);
    }

    // r = a * R mod m for a < m (n limbs); r must not overlap a.
    void ToMontgomery(Limb* r, const Limb* a)
    {
        const size_t n = mont_.n;
        // a * R: a shifted up by the whole limbs and bits of log2 R (at
        // least n limbs, so a non-zero a gives more limbs than m).
        const uint64_t rBits = RBits();
        const size_t words = size_t(rBits / kBits<Limb>);
        const size_t length = words + n + 1;
        LimbBuffer<Limb> shifted(length);
        std::memset(shifted.Get(), 0, words * sizeof(Limb));
        shifted[length - 1] = ShiftLeftN(shifted.Get() + words, a, n, unsigned(rBits % kBits<Limb>));
        const size_t top = Significant(shifted.Get(), length);
        if (top == 0) {
            for (size_t i = 0; i < n; ++i)
                r[i] = 0;
        } else {
            DivRem<Limb>(nullptr, r, shifted.Get(), top, mont_.m, n);
        }
    }

    // r = a / R mod m (n limbs); r may alias a.
    void FromMontgomery(Limb* r, const Limb* a, bool masked = false)
    {
        const size_t n = mont_.n;
        if constexpr (sizeof(Limb) == 4) {
            if (vector_) {
                // A product by 1 divides by R.
                std::memset(product_, 0, n * sizeof(Limb));
                product_[0] = 1;
                vector_->Multiply(r, a, product_);
                return;
            }
        }
        std::memcpy(product_, a, n * sizeof(Limb));
        std::memset(product_ + n, 0, n * sizeof(Limb));
        if (masked)
            mont_.ReduceMasked(r, product_);
        else
            mont_.Reduce(r, product_);
    }

private:
    uint64_t RBits() const
    {
        if constexpr (sizeof(Limb) == 4) {
            if (vector_)
                return vector_->RBits();
        }
        return uint64_t(mont_.n) * kBits<Limb>;
    }

    LimbBuffer<Limb> scratch_;
    Limb* product_; // 2n limbs
    Montgomery<Limb> mont_;
    std::unique_ptr<VectorMontgomery32> vector_; // 32-bit limbs only
};

// result = g^e in the modular domain `mod` (g and result: n limbs, reduced;
// result must not overlap g).  e has `ebits` >= 1 significant bits.
// Left-to-right sliding window: each window of at most w bits that starts
// and ends with a one bit costs its squarings and one multiply by a table
// entry g^odd.
template <typename Limb, typename Modulus>
void WindowPower(Modulus& mod, Limb* result, const Limb* g, const Limb* e, uint64_t ebits, size_t n)
{
    const unsigned w = WindowWidth(ebits);
    const size_t entries = size_t(1) << (w - 1);
    LimbBuffer<Limb> table(entries * n + n);
    // table[k] = g^(2k + 1)
    std::memcpy(table.Get(), g, n * sizeof(Limb));
    if (entries > 1) {
        Limb* g2 = table.Get() + entries * n;
        mod.Multiply(g2, g, g);
        for (size_t k = 1; k < entries; ++k)
            mod.Multiply(table.Get() + k * n, table.Get() + (k - 1) * n, g2);
    }

    bool started = false;
    uint64_t i = ebits; // bits i-1 down to 0 remain
    while (i > 0) {
        const uint64_t top = i - 1;
        if (!Bit(e, top)) {
            mod.Multiply(result, result, result); // started: the top bit is 1
            i = top;
            continue;
        }
        // The window: bits top down to low, low the lowest one bit within w.
        uint64_t low = top + 1 >= w ? top + 1 - w : 0;
        while (!Bit(e, low))
            ++low;
        size_t value = 0;
        for (uint64_t b = top + 1; b-- > low;)
            value = (value << 1) | Bit(e, b);
        const Limb* entry = table.Get() + (value >> 1) * n;
        if (!started) {
            std::memcpy(result, entry, n * sizeof(Limb));
            started = true;
        } else {
            for (uint64_t s = low; s <= top; ++s)
                mod.Multiply(result, result, result);
            mod.Multiply(result, result, entry);
        }
        i = low;
    }
}

// result = g^e in the Montgomery domain `mod` for a secret exponent (g and
// result: n limbs, reduced, Montgomery form; result must not overlap g).
// `one` is R mod m.  Fixed 5-bit windows over `bits` bits of e (e padded with
// zero limbs to at least ceil(bits / limb bits) + 1): every window costs five
// squarings and one product, and its table entry is gathered by reading all
// 32 entries under masks, so neither the operations nor the addresses follow
// the exponent's bits.
template <typename Limb>
void MaskedWindowPower(MontgomeryModulus<Limb>& mod, Limb* result, const Limb* g, const Limb* one, const Limb* e,
                       uint64_t bits, size_t n)
{
    constexpr unsigned kWidth = 5;
    constexpr size_t kEntries = size_t(1) << kWidth;
    LimbBuffer<Limb> space(kEntries * n + n);
    Limb* table = space.Get();
    Limb* entry = table + kEntries * n;
    std::memcpy(table, one, n * sizeof(Limb));
    std::memcpy(table + n, g, n * sizeof(Limb));
    for (size_t k = 2; k < kEntries; ++k)
        mod.MultiplyMasked(table + k * n, table + (k - 1) * n, g);

    std::memcpy(result, one, n * sizeof(Limb));
    const uint64_t windows = (bits + kWidth - 1) / kWidth;
    for (uint64_t w = windows; w-- > 0;) {
        for (unsigned s = 0; s < kWidth; ++s)
            mod.MultiplyMasked(result, result, result);
        // The window's bits, which may straddle two limbs (e is padded).
        const uint64_t low = w * kWidth;
        const size_t limb = size_t(low / kBits<Limb>);
        const unsigned shift = unsigned(low % kBits<Limb>);
        Limb bitsHere = e[limb] >> shift;
        if (shift > kBits<Limb> - kWidth)
            bitsHere |= e[limb + 1] << (kBits<Limb> - shift);
        const unsigned value = unsigned(bitsHere) & (kEntries - 1);
        std::memset(entry, 0, n * sizeof(Limb));
        for (unsigned k = 0; k < kEntries; ++k) {
            // All ones when k == value, else zero, without a comparison branch.
            const Limb mask = Limb(0) - Limb(((k ^ value) - 1u) >> 31);
            const Limb* source = table + k * n;
            for (size_t i = 0; i < n; ++i)
                entry[i] |= source[i] & mask;
        }
        mod.MultiplyMasked(result, result, entry);
    }
}

// result = 2^e in the Montgomery domain `mod`, given two = 2R mod m (n
// limbs; result must not overlap it).  e has `ebits` >= 1 significant bits.
// Left-to-right binary: a multiplication by the base 2 is a doubling, so
// the power costs one squaring per bit and no products (the Fermat test of
// the prime search).
template <typename Limb>
void TwoPower(MontgomeryModulus<Limb>& mod, Limb* result, const Limb* two, const Limb* e, uint64_t ebits,
              size_t n)
{
    std::memcpy(result, two, n * sizeof(Limb)); // the top bit of e
    for (uint64_t i = ebits - 1; i-- > 0;) {
        mod.Multiply(result, result, result);
        if (Bit(e, i))
            mod.Double(result);
    }
}

} // namespace zel_bigint

template <typename Limb>
XBigIntT<Limb>::XBigIntT(uint32_t value)
    : limbs_(zel_bigint::SharedZero<Limb>::Get()), capacity_(0), length_(1)
{
    if (value != 0) {
        Reserve(1, 0);
        limbs_[0] = Limb(value);
    }
}

template <typename Limb>
XBigIntT<Limb>::XBigIntT(const XBigIntT& other)
    : limbs_(zel_bigint::SharedZero<Limb>::Get()), capacity_(0), length_(1)
{
    Assign(other.limbs_, other.length_);
}

template <typename Limb>
XBigIntT<Limb>::XBigIntT(XBigIntT&& other) noexcept
    : limbs_(other.limbs_), capacity_(other.capacity_), length_(other.length_)
{
    other.limbs_ = zel_bigint::SharedZero<Limb>::Get();
    other.capacity_ = 0;
    other.length_ = 1;
}

template <typename Limb>
XBigIntT<Limb>::~XBigIntT()
{
    if (capacity_) {
        SecureWipe(limbs_, size_t(capacity_) * sizeof(Limb));
        delete[] limbs_;
    }
}

template <typename Limb>
XBigIntT<Limb>& XBigIntT<Limb>::operator=(const XBigIntT& other)
{
    if (this != &other)
        Assign(other.limbs_, other.length_);
    return *this;
}

template <typename Limb>
XBigIntT<Limb>& XBigIntT<Limb>::operator=(XBigIntT&& other) noexcept
{
    // The other number takes this one's array and frees (and wipes) it.
    std::swap(limbs_, other.limbs_);
    std::swap(capacity_, other.capacity_);
    std::swap(length_, other.length_);
    return *this;
}

template <typename Limb>
void XBigIntT<Limb>::Reserve(uint32_t count, uint32_t keep)
{
    if (count <= capacity_)
        return;
    const uint32_t grown = capacity_ > UINT32_MAX / 2 ? UINT32_MAX : 2 * capacity_;
    const uint32_t capacity = std::max(count, grown);
    Limb* limbs = new Limb[capacity];
    std::memcpy(limbs, limbs_, size_t(keep) * sizeof(Limb));
    if (capacity_) {
        SecureWipe(limbs_, size_t(capacity_) * sizeof(Limb));
        delete[] limbs_;
    }
    limbs_ = limbs;
    capacity_ = capacity;
}

template <typename Limb>
void XBigIntT<Limb>::Assign(const Limb* limbs, size_t count)
{
    const size_t n = zel_bigint::Significant(limbs, count);
    if (n == 0) {
        if (capacity_)
            limbs_[0] = 0;
        length_ = 1;
        return;
    }
    // A source inside this number's own array is never longer than the
    // capacity, so Reserve leaves it in place.
    Reserve(zel_bigint::CheckedCount<Limb>(n), 0);
    std::memmove(limbs_, limbs, n * sizeof(Limb));
    length_ = uint32_t(n);
}

template <typename Limb>
void XBigIntT<Limb>::Normalize()
{
    while (length_ > 1 && limbs_[length_ - 1] == 0)
        --length_;
}

template <typename Limb>
void XBigIntT<Limb>::FromBytes(const XBlob& bytes)
{
    const uint8_t* p = bytes.Data();
    uint32_t count = bytes.Length();
    while (count > 0 && *p == 0) {
        ++p;
        --count;
    }
    if (count == 0) {
        Assign(nullptr, 0);
        return;
    }
    constexpr uint32_t kBytes = sizeof(Limb);
    const uint32_t n = count / kBytes + (count % kBytes != 0);
    Reserve(n, 0);
    // Limb i holds the bytes count-1-kBytes*i (lowest) up to kBytes earlier.
    for (uint32_t i = 0; i < n; ++i) {
        Limb limb = 0;
        const uint32_t end = count - kBytes * i; // one past this limb's last byte
        const uint32_t begin = end > kBytes ? end - kBytes : 0;
        for (uint32_t k = begin; k < end; ++k)
            limb = Limb(limb << 8) | p[k];
        limbs_[i] = limb;
    }
    length_ = n;
}

template <typename Limb>
XBlob XBigIntT<Limb>::ToBytes(uint32_t length) const
{
    constexpr uint32_t kBytes = sizeof(Limb);
    const uint64_t available = uint64_t(length_) * kBytes; // bytes the limbs hold
    if (length == 0)
        length = IsZero() ? 1 : uint32_t((BitLength() + 7) / 8);
    XBlob out;
    out.SetLength(length);
    uint8_t* p = out.Data();
    // Byte k from the end is byte k of the value (zero above the limbs); a
    // shorter length keeps only the low bytes.
    for (uint32_t k = 0; k < length; ++k) {
        uint8_t b = 0;
        if (k < available)
            b = uint8_t(limbs_[k / kBytes] >> (8 * (k % kBytes)));
        p[length - 1 - k] = b;
    }
    return out;
}

template <typename Limb>
int XBigIntT<Limb>::Compare(const XBigIntT& b) const
{
    if (length_ != b.length_)
        return length_ < b.length_ ? -1 : 1;
    return zel_bigint::CompareN(limbs_, b.limbs_, length_);
}

template <typename Limb>
void XBigIntT<Limb>::Add(const XBigIntT& b)
{
    using namespace zel_bigint;
    const uint32_t la = length_, lb = b.length_;
    const uint32_t n = std::max(la, lb);
    Reserve(CheckedCount<Limb>(size_t(n) + 1), la);
    // b's limbs are read only now: b may be this number, moved by Reserve.
    for (uint32_t i = la; i < n; ++i)
        limbs_[i] = 0;
    Limb carry = AddN(limbs_, limbs_, b.limbs_, lb);
    carry = AddLimb(limbs_ + lb, n - lb, carry);
    limbs_[n] = carry;
    length_ = n + (carry != 0);
}

template <typename Limb>
void XBigIntT<Limb>::Subtract(const XBigIntT& b)
{
    using namespace zel_bigint;
    if (IsZero())
        return; // 0 - 0, or below zero, which also gives 0
    const uint32_t la = length_, lb = b.length_;
    if (la < lb) {
        Assign(nullptr, 0);
        return;
    }
    Limb borrow = SubN(limbs_, limbs_, b.limbs_, lb);
    borrow = SubLimb(limbs_ + lb, la - lb, borrow);
    if (borrow) {
        Assign(nullptr, 0);
        return;
    }
    Normalize();
}

template <typename Limb>
void XBigIntT<Limb>::Multiply(const XBigIntT& b)
{
    using namespace zel_bigint;
    if (IsZero() || b.IsZero()) {
        Assign(nullptr, 0);
        return;
    }
    const size_t n = size_t(length_) + b.length_;
    LimbBuffer<Limb> product(n);
    Mul(product.Get(), limbs_, length_, b.limbs_, b.length_);
    Assign(product.Get(), n);
}

template <typename Limb>
void XBigIntT<Limb>::DivMod(const XBigIntT& v, XBigIntT* remainder)
{
    using namespace zel_bigint;
    if (v.IsZero()) {
        // Outside the contract: quotient 0, remainder 0.
        Assign(nullptr, 0);
        if (remainder)
            remainder->Assign(nullptr, 0);
        return;
    }
    if (Compare(v) < 0) {
        if (remainder && remainder != this)
            remainder->Assign(limbs_, length_);
        if (remainder != this)
            Assign(nullptr, 0);
        return;
    }
    const size_t un = length_, vn = v.length_;
    LimbBuffer<Limb> result(un - vn + 1 + vn);
    Limb* q = result.Get();
    Limb* r = q + (un - vn + 1);
    DivRem(q, r, limbs_, un, v.limbs_, vn);
    // The quotient first: a remainder target that is this number wins.
    Assign(q, un - vn + 1);
    if (remainder)
        remainder->Assign(r, vn);
}

template <typename Limb>
void XBigIntT<Limb>::Modulo(const XBigIntT& v)
{
    using namespace zel_bigint;
    if (v.IsZero()) {
        Assign(nullptr, 0);
        return;
    }
    if (Compare(v) < 0)
        return;
    const size_t vn = v.length_;
    LimbBuffer<Limb> r(vn);
    DivRem<Limb>(nullptr, r.Get(), limbs_, length_, v.limbs_, vn);
    Assign(r.Get(), vn);
}

template <typename Limb>
void XBigIntT<Limb>::MulMod(const XBigIntT& b, const XBigIntT& m)
{
    using namespace zel_bigint;
    if (m.IsZero() || IsZero() || b.IsZero()) {
        Assign(nullptr, 0);
        return;
    }
    // The product goes to scratch: m may be this number.
    const size_t n = size_t(length_) + b.length_;
    LimbBuffer<Limb> product(n + m.length_);
    Mul(product.Get(), limbs_, length_, b.limbs_, b.length_);
    const size_t pn = Significant(product.Get(), n);
    if (pn < m.length_) {
        Assign(product.Get(), pn);
        return;
    }
    Limb* r = product.Get() + n;
    DivRem<Limb>(nullptr, r, product.Get(), pn, m.limbs_, m.length_);
    Assign(r, m.length_);
}

template <typename Limb>
void XBigIntT<Limb>::PowMod(const XBigIntT& e, const XBigIntT& m)
{
    using namespace zel_bigint;
    if (e.IsZero()) {
        Assign(nullptr, 0);
        AddSmall(1);
        return;
    }
    if (m.IsZero() || m.IsOne()) {
        // Everything is 0 modulo 1 (and, outside the contract, modulo 0).
        Assign(nullptr, 0);
        return;
    }
    // Nothing is written to this number before the end: e and m may be it.
    const size_t n = m.length_;
    LimbBuffer<Limb> work(2 * n);
    Limb* g = work.Get();
    Limb* result = g + n;
    // g = this mod m, n limbs.
    std::memset(g, 0, n * sizeof(Limb));
    if (Compare(m) < 0)
        std::memcpy(g, limbs_, size_t(length_) * sizeof(Limb));
    else
        DivRem<Limb>(nullptr, g, limbs_, length_, m.limbs_, n);

    const uint64_t ebits = e.BitLength();
    if constexpr (sizeof(Limb) == 8) {
        if (!m.IsEven() && IfmaTakesPower(m.BitLength())) {
            ifma::PowMod(result, g, e.limbs_, ebits, m.limbs_, n);
            Assign(result, n);
            return;
        }
    }
    if (!m.IsEven()) {
        // Odd modulus: Montgomery products, no division in the loop.
        MontgomeryModulus<Limb> mod(m.limbs_, n);
        LimbBuffer<Limb> gm(n);
        mod.ToMontgomery(gm.Get(), g);
        const bool baseTwo = g[0] == 2 && Significant(g, n) == 1;
        if (baseTwo)
            TwoPower(mod, result, gm.Get(), e.limbs_, ebits, n);
        else
            WindowPower(mod, result, gm.Get(), e.limbs_, ebits, n);
        mod.FromMontgomery(result, result);
    } else {
        PlainModulus<Limb> mod(m.limbs_, n);
        WindowPower(mod, result, g, e.limbs_, ebits, n);
    }
    Assign(result, n);
}

template <typename Limb>
void XBigIntT<Limb>::PowModSecret(const XBigIntT& e, const XBigIntT& m)
{
    using namespace zel_bigint;
    if (m.IsEven() || m.IsOne()) {
        // No Montgomery form for these moduli (0 included): no private key
        // has one, and the plain power gives the same value.
        PowMod(e, m);
        return;
    }
    const size_t n = m.length_;
    // The exponent is read over the modulus's bit length (or its own, when
    // longer), so the number of windows does not reveal how long it is.
    const uint64_t bits = std::max(m.BitLength(), e.BitLength());
    const size_t elimbs = size_t((bits + kLimbBits - 1) / kLimbBits) + 1;
    LimbBuffer<Limb> work(4 * n + elimbs);
    Limb* g = work.Get();
    Limb* result = g + n;
    Limb* gm = result + n;
    Limb* one = gm + n;
    Limb* exponent = one + n;
    std::memset(exponent, 0, elimbs * sizeof(Limb));
    std::memcpy(exponent, e.limbs_, size_t(e.length_) * sizeof(Limb));
    std::memset(g, 0, n * sizeof(Limb));
    if (Compare(m) < 0)
        std::memcpy(g, limbs_, size_t(length_) * sizeof(Limb));
    else
        DivRem<Limb>(nullptr, g, limbs_, length_, m.limbs_, n);

    if constexpr (sizeof(Limb) == 8) {
        if (IfmaTakesPower(m.BitLength())) {
            ifma::PowModSecret(result, g, exponent, bits, m.limbs_, n);
            Assign(result, n);
            return;
        }
    }
    MontgomeryModulus<Limb> mod(m.limbs_, n);
    mod.ToMontgomery(gm, g);
    std::memset(g, 0, n * sizeof(Limb));
    g[0] = 1;
    mod.ToMontgomery(one, g);
    MaskedWindowPower(mod, result, gm, one, exponent, bits, n);
    mod.FromMontgomery(result, result, true);
    Assign(result, n);
}

template <typename Limb>
void XBigIntT<Limb>::PowModSecretPair(XBigIntT& a, const XBigIntT& ea, const XBigIntT& ma, XBigIntT& b,
                                      const XBigIntT& eb, const XBigIntT& mb)
{
    using namespace zel_bigint;
    if constexpr (sizeof(Limb) == 8) {
        const uint64_t abits = ma.BitLength(), bbits = mb.BitLength();
        if (&a != &b && !ma.IsEven() && !mb.IsEven() && abits == bbits && IfmaTakesPower(abits)) {
            const uint64_t bits = std::max({abits, ea.BitLength(), eb.BitLength()});
            const size_t na = ma.length_, nb = mb.length_;
            const size_t elimbs = size_t((bits + kLimbBits - 1) / kLimbBits) + 1;
            LimbBuffer<Limb> work(2 * na + 2 * nb + 2 * elimbs);
            Limb* ga = work.Get();
            Limb* ra = ga + na;
            Limb* gb = ra + na;
            Limb* rb = gb + nb;
            Limb* xa = rb + nb;
            Limb* xb = xa + elimbs;
            std::memset(xa, 0, 2 * elimbs * sizeof(Limb));
            std::memcpy(xa, ea.limbs_, size_t(ea.length_) * sizeof(Limb));
            std::memcpy(xb, eb.limbs_, size_t(eb.length_) * sizeof(Limb));
            // Each base below its modulus.
            for (auto [g, x, mod, count] : {std::make_tuple(ga, &a, &ma, na), std::make_tuple(gb, &b, &mb, nb)}) {
                std::memset(g, 0, count * sizeof(Limb));
                if (x->Compare(*mod) < 0)
                    std::memcpy(g, x->limbs_, size_t(x->length_) * sizeof(Limb));
                else
                    DivRem<Limb>(nullptr, g, x->limbs_, x->length_, mod->limbs_, count);
            }
            ifma::PowModSecretPair(ra, ga, xa, ma.limbs_, na, rb, gb, xb, mb.limbs_, nb, bits);
            a.Assign(ra, na);
            b.Assign(rb, nb);
            return;
        }
    }
    a.PowModSecret(ea, ma);
    b.PowModSecret(eb, mb);
}

template <typename Limb>
bool XBigIntT<Limb>::InverseModOdd(const XBigIntT& m)
{
    using namespace zel_bigint;
    if (m.IsEven() || m.IsOne())
        return false;
    const size_t n = m.length_;
    LimbBuffer<Limb> work(5 * n);
    Limb* u = work.Get();
    Limb* v = u + n;
    Limb* x1 = v + n;
    Limb* x2 = x1 + n;
    Limb* half = x2 + n; // (m + 1) / 2: halving modulo m adds it to odd values
    std::memset(u, 0, n * sizeof(Limb));
    if (Compare(m) < 0)
        std::memcpy(u, limbs_, size_t(length_) * sizeof(Limb));
    else
        DivRem<Limb>(nullptr, u, limbs_, length_, m.limbs_, n);
    std::memcpy(v, m.limbs_, n * sizeof(Limb));
    std::memset(x1, 0, 2 * n * sizeof(Limb));
    x1[0] = 1;
    ShiftRightN(half, m.limbs_, n, 1);
    AddLimb(half, n, Limb(1));

    // x1 a = u and x2 a = v modulo m throughout; u and v shrink to their
    // gcd, which v holds once u reaches 0.  un and vn count the limbs in use.
    auto halve = [&](Limb* x) {
        const bool odd = (x[0] & 1) != 0;
        ShiftRightN(x, x, n, 1);
        if (odd)
            AddN(x, x, half, n);
    };
    size_t un = Significant(u, n), vn = n;
    while (un != 0) {
        while ((u[0] & 1) == 0) {
            ShiftRightN(u, u, un, 1);
            halve(x1);
        }
        un = Significant(u, un);
        while ((v[0] & 1) == 0) {
            ShiftRightN(v, v, vn, 1);
            halve(x2);
        }
        vn = Significant(v, vn);
        const size_t top = std::max(un, vn);
        if (CompareN(u, v, top) >= 0) {
            SubN(u, u, v, top);
            if (SubN(x1, x1, x2, n))
                AddN(x1, x1, m.limbs_, n);
            un = Significant(u, top);
        } else {
            SubN(v, v, u, top);
            if (SubN(x2, x2, x1, n))
                AddN(x2, x2, m.limbs_, n);
            vn = Significant(v, top);
        }
    }
    if (vn != 1 || v[0] != 1)
        return false;
    Assign(x2, n);
    return true;
}

template <typename Limb>
void XBigIntT<Limb>::InverseMod(const XBigIntT& m)
{
    // Invariant, with a0 the original value: x0 * a0 = +-A and x1 * a0 = -+B
    // modulo m, the signs alternating with each step and tracked by
    // `positive` for x0.  When B reaches 0, A is the gcd (1 for coprime
    // inputs) and x0 or m - x0 is the inverse.
    XBigIntT x0(1), x1(0), a(*this), b(m), q, r, t;
    bool positive = true;
    while (!b.IsZero()) {
        q = a;
        q.DivMod(b, &r);
        t = q;
        t.Multiply(x1);
        t.Add(x0);
        x0 = std::move(x1);
        x1 = std::move(t);
        a = std::move(b);
        b = std::move(r);
        positive = !positive;
    }
    if (positive) {
        *this = std::move(x0);
    } else {
        XBigIntT result(m);
        result.Subtract(x0);
        *this = std::move(result);
    }
}

template <typename Limb>
void XBigIntT<Limb>::Gcd(const XBigIntT& b)
{
    XBigIntT divisor(b);
    while (!divisor.IsZero()) {
        Modulo(divisor);
        std::swap(*this, divisor);
    }
}

template <typename Limb>
uint64_t XBigIntT<Limb>::BitLength() const
{
    const Limb top = limbs_[length_ - 1];
    if (top == 0)
        return 0; // only the value zero has a zero top limb
    return uint64_t(length_) * kLimbBits - zel_bigint::CountLeadingZeros(top);
}

template <typename Limb>
bool XBigIntT<Limb>::TestBit(uint64_t i) const
{
    if (i / kLimbBits >= length_)
        return false;
    return zel_bigint::Bit(limbs_, i) != 0;
}

template <typename Limb>
void XBigIntT<Limb>::AddSmall(uint32_t v)
{
    using namespace zel_bigint;
    const uint32_t n = length_;
    Reserve(CheckedCount<Limb>(size_t(n) + 1), n);
    const Limb carry = AddLimb(limbs_, n, Limb(v));
    limbs_[n] = carry;
    length_ = n + (carry != 0);
}

template <typename Limb>
void XBigIntT<Limb>::SubtractSmall(uint32_t v)
{
    using namespace zel_bigint;
    if (IsZero())
        return;
    if (SubLimb(limbs_, length_, Limb(v))) {
        Assign(nullptr, 0);
        return;
    }
    Normalize();
}

template <typename Limb>
uint32_t XBigIntT<Limb>::ModSmall(uint32_t divisor) const
{
    if (divisor == 0)
        return 0;
    // 32 bits at a time, from the top: the running remainder stays below the
    // divisor, so remainder * 2^32 + chunk fits 64 bits.
    uint64_t r = 0;
    for (uint32_t i = length_; i-- > 0;) {
        for (unsigned shift = kLimbBits; shift > 0;) {
            shift -= 32;
            r = ((r << 32) | uint32_t(limbs_[i] >> shift)) % divisor;
        }
    }
    return uint32_t(r);
}

template <typename Limb>
void XBigIntT<Limb>::ShiftLeft(uint64_t bits)
{
    using namespace zel_bigint;
    if (IsZero() || bits == 0)
        return;
    const uint64_t limbShift = bits / kLimbBits;
    const unsigned bitShift = unsigned(bits % kLimbBits);
    if (limbShift >= UINT32_MAX)
        throw std::bad_alloc();
    const uint32_t n = length_;
    const uint32_t total = CheckedCount<Limb>(size_t(n) + size_t(limbShift) + 1);
    Reserve(total, n);
    // From the top down, so the overlapping move reads each limb before it
    // is overwritten.
    const Limb out = ShiftLeftN(limbs_ + limbShift, limbs_, n, bitShift);
    for (uint64_t i = 0; i < limbShift; ++i)
        limbs_[i] = 0;
    limbs_[total - 1] = out;
    length_ = total;
    Normalize();
}

template <typename Limb>
void XBigIntT<Limb>::ShiftRight(uint64_t bits)
{
    using namespace zel_bigint;
    if (IsZero() || bits == 0)
        return;
    const uint64_t limbShift = bits / kLimbBits;
    if (limbShift >= length_) {
        Assign(nullptr, 0);
        return;
    }
    const uint32_t n = length_ - uint32_t(limbShift);
    ShiftRightN(limbs_, limbs_ + limbShift, n, unsigned(bits % kLimbBits));
    length_ = n;
    Normalize();
}
