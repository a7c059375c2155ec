#include "rsa/rsa.h"

#include "core/alarm.h"
#include "core/codecs.h"
#include "core/wipe.h"
#include "hash/digest.h"
#include "hash/s2k.h"
#include "hash/sha1.h"
#include "rsa/primes.h"

#include <cstring>
#include <new>
#include <stdexcept>
#include <utility>
#include <vector>

namespace {

const char kSource[] = "RSA";

constexpr uint32_t kDigestSize = 20;

// Encrypt draws a fresh seed for a block whose encoding is not below n.  The
// encoding is a pseudo-random (k - 1)-byte number and n has at least k - 1
// bytes (shorter moduli are refused), so one draw fails with probability
// below 255/256: 2^14 draws fail together with probability below e^-64.
constexpr uint32_t kMaxEncodeDraws = 1u << 14;

[[noreturn]] void InvalidKey()
{
    throw XCryptoAlarm(XMessage::kInvalidKey, kSource);
}

[[noreturn]] void UnableToDecrypt()
{
    throw XCryptoAlarm(XMessage::kUnableToDecrypt, kSource);
}

// The signature block 01 | FF ... FF | 00 | SHA-1(data): k - 1 bytes.
XBlob SignatureBlock(const XBlob& data, uint32_t k)
{
    const XBlob digest = DigestSHA1(data);
    XBlob block(k - 1);
    block.AppendByte(0x01);
    block.SetLength(k - 22);
    std::memset(block.Data() + 1, 0xff, k - 23);
    block.AppendByte(0x00);
    block.Append(digest);
    return block;
}

// a = a XOR b over the first b.Length() bytes of a (a at least as long).
void XorInto(uint8_t* a, const XBlob& b)
{
    for (uint32_t i = 0; i < b.Length(); ++i)
        a[i] ^= b.At(i);
}

bool GreaterThanOne(const XBigInt& x)
{
    return !x.IsZero() && !x.IsOne();
}

} // namespace

XRsa::XRsa(EntropySource entropy) : entropy_(entropy ? entropy : SystemEntropy)
{
    XBlob parameter;
    parameter.AppendLong(0);
    SetIV(parameter);
}

void XRsa::SetIV(const XBlob& parameter)
{
    labelHash_ = DigestSHA1(parameter);
}

XBlob XRsa::MaskGen(const XBlob& z, uint32_t length)
{
    XBlob mask(length);
    XSha1 prefix;
    prefix.Update(z);
    // Only the blocks that reach into the first `length` bytes are computed.
    for (uint32_t counter = 0; mask.Length() < length; counter += kDigestSize) {
        XSha1 block(prefix);
        uint8_t c[4] = {uint8_t(counter >> 24), uint8_t(counter >> 16), uint8_t(counter >> 8), uint8_t(counter)};
        block.Update(c, 4);
        const XBlob digest = block.Finish();
        const uint32_t take = length - mask.Length() < kDigestSize ? length - mask.Length() : kDigestSize;
        mask.AppendBytes(digest.Data(), take);
    }
    return mask;
}

// --- Key generation -----------------------------------------------------------

void XRsa::Keygen(const XBlob& seed1, const XBlob& seed2, uint32_t size)
{
    const uint32_t k = size <= 64 ? 64 : size <= 128 ? 128 : 256;
    keySize_ = k;
    KeyChanged();

    XBigInt start;
    start.FromBytes(ExpandSeed(seed1, k / 2));
    XBigInt p = NextPrime(start);
    start.FromBytes(ExpandSeed(seed2, k / 2));
    XBigInt q = NextPrime(start);
    if (p < q) {
        std::swap(p, q);
    } else if (p == q) {
        p.AddSmall(1);
        p = NextPrime(p);
    }

    XBigInt n(p);
    n.Multiply(q);
    XBigInt pMinusOne(p), qMinusOne(q);
    pMinusOne.SubtractSmall(1);
    qMinusOne.SubtractSmall(1);
    XBigInt phi(pMinusOne);
    phi.Multiply(qMinusOne);

    XBlob exponentBytes;
    HexDecode("10001", exponentBytes);
    XBigInt e;
    e.FromBytes(exponentBytes);
    // (q >= 20399 for any seed whose expansion is not 0 or 1, so phi > 0 and
    // the loop ends at the first prime that does not divide phi.)
    for (;;) {
        XBigInt g(e);
        g.Gcd(phi);
        if (g.IsOne())
            break;
        e.AddSmall(1);
        e = NextPrime(e);
    }

    XBigInt d(e);
    d.InverseMod(phi);
    XBigInt dP(d), dQ(d), qInv(q);
    dP.Modulo(pMinusOne);
    dQ.Modulo(qMinusOne);
    qInv.InverseMod(p);

    p_ = std::move(p);
    q_ = std::move(q);
    n_ = std::move(n);
    e_ = std::move(e);
    d_ = std::move(d);
    dP_ = std::move(dP);
    dQ_ = std::move(dQ);
    qInv_ = std::move(qInv);
    keyFlags_ = kHasPrivateKey | kHasPublicKey;
}

// --- Key blobs ----------------------------------------------------------------

XBlob XRsa::ExportPublicKey() const
{
    XBlob blob;
    blob.AppendLong(keySize_);
    blob.AppendItem(n_.ToBytes(0));
    blob.AppendItem(e_.ToBytes(0));
    return blob;
}

XBlob XRsa::ExportPrivateKey() const
{
    XBlob blob;
    blob.AppendLong(keySize_);
    for (const XBigInt* x : {&n_, &d_, &p_, &q_, &dP_, &dQ_, &qInv_})
        blob.AppendItem(x->ToBytes(0));
    return blob;
}

uint32_t XRsa::ReadModulus(const XBlob& blob, uint32_t& k, XBigInt& n) const
{
    if (blob.Length() < 5)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    k = blob.ReadLong(0);
    XBlob item;
    const uint32_t next = blob.ExtractItem(4, item);
    n.FromBytes(item);
    RequireWithinKeySize(n, k);
    // With the other half loaded, k and n must be the loaded ones, n in the
    // same bytes (a leading zero byte is another blob).
    const uint32_t other = (keyFlags_ & (kHasPublicKey | kHasPrivateKey));
    if (other && (k != keySize_ || item != n_.ToBytes(0)))
        InvalidKey();
    return next;
}

void XRsa::RequireWithinKeySize(const XBigInt& x, uint32_t k)
{
    // Every number of a key fits in k bytes; a larger one would make each
    // operation cost far more than a k-byte exponentiation, or (n) give
    // results that do not fit their k-byte blocks.
    if ((x.BitLength() + 7) / 8 > k)
        InvalidKey();
}

void XRsa::ImportPublicKey(const XBlob& blob)
{
    // Only the half being replaced may differ from the loaded key.
    const uint32_t saved = keyFlags_;
    keyFlags_ &= ~kHasPublicKey;
    uint32_t k = 0;
    XBigInt n, e;
    try {
        uint32_t pos = ReadModulus(blob, k, n);
        XBlob item;
        pos = blob.ExtractItem(pos, item);
        e.FromBytes(item);
        RequireWithinKeySize(e, k);
    } catch (...) {
        keyFlags_ = saved;
        throw;
    }
    keySize_ = k;
    n_ = std::move(n);
    e_ = std::move(e);
    keyFlags_ = saved | kHasPublicKey;
    KeyChanged();
}

void XRsa::ImportPrivateKey(const XBlob& blob)
{
    const uint32_t saved = keyFlags_;
    keyFlags_ &= ~kHasPrivateKey;
    uint32_t k = 0;
    XBigInt n, parts[6];
    try {
        uint32_t pos = ReadModulus(blob, k, n);
        XBlob item;
        for (XBigInt& x : parts) {
            pos = blob.ExtractItem(pos, item);
            x.FromBytes(item);
            RequireWithinKeySize(x, k);
        }
    } catch (...) {
        keyFlags_ = saved;
        throw;
    }
    keySize_ = k;
    n_ = std::move(n);
    XBigInt* targets[6] = {&d_, &p_, &q_, &dP_, &dQ_, &qInv_};
    for (int i = 0; i < 6; ++i)
        *targets[i] = std::move(parts[i]);
    keyFlags_ = saved | kHasPrivateKey;
    KeyChanged();
}

void XRsa::KeyChanged()
{
    blindingPool_.clear();
    crt_ = CrtState::kUnknown;
    check_ = CheckState::kUnknown;
    derivedE_ = XBigInt();
}

// --- Operations ---------------------------------------------------------------

void XRsa::RequireUsableKey(uint32_t half) const
{
    if (!(keyFlags_ & half))
        InvalidKey();
    // Below 43 bytes a block holds no message byte; n = 0 or 1 leaves no
    // residues to work with.
    if (keySize_ < kMinKeySize || keySize_ > kMaxKeySize || !GreaterThanOne(n_))
        InvalidKey();
}

XBlob XRsa::Encrypt(const XBlob& data)
{
    RequireUsableKey(kHasPublicKey);
    const uint32_t k = keySize_;
    const uint32_t m = k - 42;   // message bytes per block
    const uint32_t dbSize = k - 21;
    // The encoded block is k - 1 bytes long.  With n shorter than that, a
    // block is retried with a new seed until its value is below n; below
    // k - 1 bytes success is too rare to wait for.
    const uint64_t nBits = n_.BitLength();
    if (nBits <= 8 * uint64_t(k - 2))
        InvalidKey();
    const bool mayReachN = nBits <= 8 * uint64_t(k - 1);

    const uint64_t blocks = (uint64_t(data.Length()) + m - 1) / m;
    if (blocks * k > UINT32_MAX)
        throw std::bad_alloc();
    XBlob output(uint32_t(blocks * k));

    XBlob db(dbSize), seed(kDigestSize), em(k - 1);
    XBigInt x;
    for (uint32_t pos = 0; pos < data.Length(); pos += m) {
        const uint32_t r = data.Length() - pos;
        const uint32_t take = r < m ? r : m;
        db.Assign(labelHash_);
        db.SetLength(dbSize - take);
        std::memset(db.Data() + kDigestSize, 0, dbSize - take - kDigestSize);
        db.At(dbSize - take - 1) = 0x01;
        db.AppendBytes(data.Data() + pos, take);

        uint32_t draw = 0;
        for (;; ++draw) {
            if (draw == kMaxEncodeDraws)
                InvalidKey();
            seed.SetLength(kDigestSize);
            entropy_(seed.Data(), kDigestSize);
            em.SetLength(k - 1);
            uint8_t* maskedSeed = em.Data();
            uint8_t* maskedDb = em.Data() + kDigestSize;
            std::memcpy(maskedDb, db.Data(), dbSize);
            XorInto(maskedDb, MaskGen(seed, dbSize));
            XBlob maskedDbBlob;
            maskedDbBlob.AppendBytes(maskedDb, dbSize);
            std::memcpy(maskedSeed, seed.Data(), kDigestSize);
            XorInto(maskedSeed, MaskGen(maskedDbBlob, kDigestSize));
            x.FromBytes(em);
            if (!mayReachN || x < n_)
                break;
        }
        x.PowMod(e_, n_);
        output.Append(x.ToBytes(k));
    }
    SecureWipe(db.Data(), db.Capacity());
    SecureWipe(seed.Data(), seed.Capacity());
    SecureWipe(em.Data(), em.Capacity());
    return output;
}

XBlob XRsa::Decrypt(const XBlob& data)
{
    RequireUsableKey(kHasPrivateKey);
    const uint32_t k = keySize_;
    const uint32_t dbSize = k - 21;
    // A short last block fails the whole call; nothing is decrypted first.
    if (data.Length() % k != 0)
        UnableToDecrypt();

    XBlob output;
    XBlob block, em, maskedDb, db;
    XBigInt x;
    for (uint32_t pos = 0; pos < data.Length(); pos += k) {
        block.Clear();
        data.CopyRange(block, pos, k);
        x.FromBytes(block);
        x.Modulo(n_);
        PrivateOperation(x, DecryptsWithCrt());
        em = x.ToBytes(k - 1);
        maskedDb.Clear();
        em.CopyRange(maskedDb, kDigestSize, dbSize);
        XBlob seed;
        seed.AppendBytes(em.Data(), kDigestSize);
        XorInto(seed.Data(), MaskGen(maskedDb, kDigestSize));
        db = maskedDb;
        XorInto(db.Data(), MaskGen(seed, dbSize));
        SecureWipe(seed.Data(), seed.Capacity());

        if (std::memcmp(db.Data(), labelHash_.Data(), kDigestSize) != 0)
            UnableToDecrypt();
        // Zeros, then one separator byte (any non-zero value), then the message.
        uint32_t i = kDigestSize;
        while (i < dbSize && db.At(i) == 0)
            ++i;
        if (i == dbSize)
            UnableToDecrypt();
        ++i;
        output.AppendBytes(db.Data() + i, dbSize - i);
    }
    SecureWipe(em.Data(), em.Capacity());
    SecureWipe(db.Data(), db.Capacity());
    return output;
}

XBlob XRsa::Sign(const XBlob& data) const
{
    RequireUsableKey(kHasPrivateKey);
    if (!GreaterThanOne(p_) || !GreaterThanOne(q_))
        InvalidKey();
    const uint32_t k = keySize_;
    XBigInt x;
    x.FromBytes(SignatureBlock(data, k));
    // A block at or above n would come back as its residue: no signature.
    if (x >= n_)
        InvalidKey();
    PrivateOperation(x, true);
    return x.ToBytes(k);
}

int32_t XRsa::Verify(const XBlob& data, const XBlob& signature) const
{
    RequireUsableKey(kHasPublicKey);
    const uint32_t k = keySize_;
    XBigInt x;
    x.FromBytes(signature);
    if (x >= n_)
        return 0;
    x.PowMod(e_, n_);
    return x.ToBytes(k - 1) == SignatureBlock(data, k) ? 1 : 0;
}

// --- Private exponentiation ---------------------------------------------------

void XRsa::CrtPower(XBigInt& x) const
{
    // m2 = (x mod q)^dQ mod q, m1 = (x mod p)^dP mod p.
    // The two powers together: with the IFMA kernel they run interleaved.
    XBigInt m2(x), m1(x);
    m2.Modulo(q_);
    m1.Modulo(p_);
    XBigInt::PowModSecretPair(m1, dP_, p_, m2, dQ_, q_);
    // t = (m1 - m2) mod p; m2 is reduced first, as it is not below p when
    // q > p.  (The values are blinded: comparing them tells nothing.)
    XBigInt t(m2);
    t.Modulo(p_);
    if (m1 >= t) {
        m1.Subtract(t);
        t = std::move(m1);
    } else {
        XBigInt u(p_);
        u.Subtract(t);
        u.Add(m1);
        t = std::move(u);
    }
    // s = m2 + ((qInv * t) mod p) * q.
    t.MulMod(qInv_, p_);
    t.Multiply(q_);
    t.Add(m2);
    x = std::move(t);
}

void XRsa::RawPower(XBigInt& x, bool crt) const
{
    if (crt)
        CrtPower(x);
    else
        x.PowModSecret(d_, n_);
}

bool XRsa::DecryptsWithCrt() const
{
    if (crt_ == CrtState::kUnknown) {
        // The CRT gives c^d mod n exactly when n = p q for distinct primes
        // p and q, qInv is the inverse of q modulo p, and dP and dQ are d
        // reduced modulo p - 1 and q - 1 (and not zero, or a multiple of p
        // would map to 1 instead of 0).  Primality is checked by one strong
        // test to base 2.
        bool usable = GreaterThanOne(p_) && GreaterThanOne(q_) && qInv_ < p_;
        if (usable) {
            XBigInt product(p_);
            product.Multiply(q_);
            usable = product == n_;
        }
        for (const auto& half : {std::make_pair(&p_, &dP_), std::make_pair(&q_, &dQ_)}) {
            if (!usable)
                break;
            XBigInt minusOne(*half.first), reduced(d_);
            minusOne.SubtractSmall(1);
            reduced.Modulo(minusOne);
            usable = !half.second->IsZero() && reduced == *half.second;
        }
        if (usable) {
            XBigInt check(q_);
            check.MulMod(qInv_, p_);
            usable = check.IsOne() && IsStrongProbablePrimeBase2(p_) && IsStrongProbablePrimeBase2(q_);
        }
        crt_ = usable ? CrtState::kUsable : CrtState::kUnusable;
    }
    return crt_ == CrtState::kUsable;
}

const XBigInt* XRsa::CheckExponent() const
{
    if (keyFlags_ & kHasPublicKey)
        return &e_;
    if (check_ == CheckState::kUnknown) {
        // Only the private half: e = d^-1 mod lcm(p - 1, q - 1), when n = p q
        // and d has such an inverse.  The derived e is accepted only once
        // (2^d)^e gives 2 back, so that a key whose p or q is not prime (for
        // which the lcm is not the right modulus) is not refused by a wrong
        // check exponent.
        check_ = CheckState::kNone;
        if (GreaterThanOne(p_) && GreaterThanOne(q_) && p_ != q_) {
            XBigInt product(p_);
            product.Multiply(q_);
            if (product == n_) {
                XBigInt pm1(p_), qm1(q_);
                pm1.SubtractSmall(1);
                qm1.SubtractSmall(1);
                XBigInt lambda(pm1), g(pm1);
                g.Gcd(qm1);
                lambda.Multiply(qm1);
                lambda.Divide(g);
                XBigInt e(d_);
                e.Modulo(lambda);
                e.InverseMod(lambda);
                XBigInt one(e);
                one.MulMod(d_, lambda);
                XBigInt two(2);
                two.PowModSecret(d_, n_);
                two.PowMod(e, n_);
                if (one.IsOne() && two == XBigInt(2)) {
                    derivedE_ = std::move(e);
                    check_ = CheckState::kDerived;
                }
            }
        }
    }
    return check_ == CheckState::kDerived ? &derivedE_ : nullptr;
}

void XRsa::DrawBlinding(XBigInt& r, XBigInt& rInverse) const
{
    if (blindingPool_.empty())
        RefillBlindingPool();
    r = std::move(blindingPool_.back().first);
    rInverse = std::move(blindingPool_.back().second);
    blindingPool_.pop_back();
}

void XRsa::RefillBlindingPool() const
{
    // kBlindingBatch fresh numbers, each from twice the modulus length of
    // the entropy source reduced modulo n, and their inverses by one
    // inversion of their product (prefix products c_i = r_1 ... r_i, then
    // r_i^-1 = c_(i-1) (c_i)^-1 walking back): an inversion costs as much as
    // a fifth of a private operation, three products per number far less.
    const uint32_t size = uint32_t(2 * ((n_.BitLength() + 7) / 8));
    XBlob raw(size);
    // A number in [2, n - 1]; a modulus below 4 leaves (next to) none.
    auto draw = [&](XBigInt& x) {
        for (int tries = 0; tries < 64; ++tries) {
            raw.SetLength(size);
            entropy_(raw.Data(), size);
            x.FromBytes(raw);
            x.Modulo(n_);
            if (GreaterThanOne(x))
                return;
        }
        InvalidKey();
    };
    std::vector<XBigInt> r(kBlindingBatch), prefix(kBlindingBatch);
    for (size_t i = 0; i < kBlindingBatch; ++i) {
        draw(r[i]);
        prefix[i] = r[i];
        if (i > 0)
            prefix[i].MulMod(prefix[i - 1], n_);
    }
    XBigInt inverse(prefix.back());
    if (inverse.InverseModOdd(n_)) {
        blindingPool_.clear();
        for (size_t i = kBlindingBatch; i-- > 0;) {
            XBigInt single(inverse);
            if (i > 0) {
                single.MulMod(prefix[i - 1], n_);
                inverse.MulMod(r[i], n_);
            }
            blindingPool_.emplace_back(std::move(r[i]), std::move(single));
        }
        return;
    }
    // Some number shares a factor with n: n is no product of two large
    // primes (a key whose p or q is composite still works by d mod n).
    // Numbers are then drawn and inverted one at a time.
    for (int attempt = 0; attempt < 64; ++attempt) {
        XBigInt x, xInverse;
        draw(x);
        xInverse = x;
        if (xInverse.InverseModOdd(n_)) {
            blindingPool_.emplace_back(std::move(x), std::move(xInverse));
            return;
        }
    }
    // Nearly every number shares a factor with n: no modulus to work with.
    InvalidKey();
}

void XRsa::PrivateOperation(XBigInt& x, bool crt) const
{
    XBigInt r, rInverse, y;
    DrawBlinding(r, rInverse);
    if (const XBigInt* e = CheckExponent()) {
        // y = ((x r^e)^d) r^-1 = x^d: the exponentiation sees a random number.
        XBigInt blind(r);
        blind.PowMod(*e, n_);
        y = x;
        y.MulMod(blind, n_);
        RawPower(y, crt);
        y.MulMod(rInverse, n_);
        // A wrong result (a damaged key value, a fault during the
        // computation) would give away a factor of n: it never leaves.
        XBigInt back(y);
        back.PowMod(*e, n_);
        if (back != x)
            InvalidKey();
    } else {
        // No exponent to check with: two computations, each blinded as
        // (x r)^d (r^-1)^d, must agree.
        XBigInt results[2];
        for (XBigInt& result : results) {
            if (&result != results)
                DrawBlinding(r, rInverse);
            result = x;
            result.MulMod(r, n_);
            RawPower(result, crt);
            RawPower(rInverse, crt);
            result.MulMod(rInverse, n_);
        }
        if (results[0] != results[1])
            InvalidKey();
        y = std::move(results[0]);
    }
    x = std::move(y);
}

// --- Standard keys ------------------------------------------------------------

void XRsa::Generate(uint32_t bits)
{
    if (bits < 512 || bits > 16384 || bits % 2 != 0)
        throw std::invalid_argument("XRsa::Generate: a key size from 512 to 16384 bits, even");
    const uint32_t half = bits / 2;
    const uint32_t e = 65537;
    XBigInt p, q, n, d, lambda, pm1, qm1;
    for (;;) {
        p = RandomPrime(half, e, entropy_);
        q = RandomPrime(half, e, entropy_);
        if (p < q)
            std::swap(p, q);
        // p and q so close that n's square root gives them away are drawn again.
        XBigInt gap(p);
        gap.Subtract(q);
        if (gap.BitLength() <= half - 100)
            continue;
        n = p;
        n.Multiply(q);
        pm1 = p;
        pm1.SubtractSmall(1);
        qm1 = q;
        qm1.SubtractSmall(1);
        XBigInt g(pm1);
        g.Gcd(qm1);
        lambda = pm1;
        lambda.Multiply(qm1);
        lambda.Divide(g);
        // e is prime and divides neither p - 1 nor q - 1: the inverse exists.
        d = XBigInt(e);
        d.InverseMod(lambda);
        // A private exponent below 2^(bits / 2) is drawn again.
        if (d.BitLength() > half && n.BitLength() == bits)
            break;
    }
    XBigInt dP(d), dQ(d), qInv(q);
    dP.Modulo(pm1);
    dQ.Modulo(qm1);
    qInv.InverseMod(p);
    LoadKeyPair(n, XBigInt(e), d, p, q, dP, dQ, qInv);
}

void XRsa::LoadPublicKey(const XBigInt& n, const XBigInt& e)
{
    n_ = n;
    e_ = e;
    for (XBigInt* x : {&d_, &p_, &q_, &dP_, &dQ_, &qInv_})
        *x = XBigInt();
    keySize_ = ModulusBytes();
    keyFlags_ = kHasPublicKey;
    KeyChanged();
}

void XRsa::LoadKeyPair(const XBigInt& n, const XBigInt& e, const XBigInt& d, const XBigInt& p, const XBigInt& q,
                       const XBigInt& dP, const XBigInt& dQ, const XBigInt& qInv)
{
    n_ = n;
    e_ = e;
    d_ = d;
    p_ = p;
    q_ = q;
    dP_ = dP;
    dQ_ = dQ;
    qInv_ = qInv;
    keySize_ = ModulusBytes();
    keyFlags_ = kHasPublicKey | kHasPrivateKey;
    KeyChanged();
}

void XRsa::ApplyPublic(XBigInt& x) const
{
    RequireUsableKey(kHasPublicKey);
    x.PowMod(e_, n_);
}

void XRsa::ApplyPrivate(XBigInt& x) const
{
    RequireUsableKey(kHasPrivateKey);
    if (x >= n_)
        InvalidKey();
    PrivateOperation(x, DecryptsWithCrt());
}
