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
#include <utility>

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
    crt_ = CrtState::kUnknown;

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

uint32_t XRsa::ImportModulus(const XBlob& blob, bool agree)
{
    if (blob.Length() < 5)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    const uint32_t k = blob.ReadLong(0);
    XBlob item;
    const uint32_t next = blob.ExtractItem(4, item);
    if (agree) {
        if (k != keySize_ || item != n_.ToBytes(0))
            InvalidKey();
    } else {
        keySize_ = k;
        n_.FromBytes(item);
    }
    return next;
}

void XRsa::ImportPublicKey(const XBlob& blob)
{
    crt_ = CrtState::kUnknown;
    uint32_t pos = ImportModulus(blob, (keyFlags_ & kHasPrivateKey) != 0);
    XBlob item;
    pos = blob.ExtractItem(pos, item);
    e_.FromBytes(item);
    keyFlags_ |= kHasPublicKey;
}

void XRsa::ImportPrivateKey(const XBlob& blob)
{
    crt_ = CrtState::kUnknown;
    uint32_t pos = ImportModulus(blob, (keyFlags_ & kHasPublicKey) != 0);
    XBlob item;
    for (XBigInt* x : {&d_, &p_, &q_, &dP_, &dQ_, &qInv_}) {
        pos = blob.ExtractItem(pos, item);
        x->FromBytes(item);
    }
    SecureWipe(item.Data(), item.Capacity());
    keyFlags_ |= kHasPrivateKey;
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
        PrivatePower(x);
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
    CrtPower(x);
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
    XBigInt m2(x), m1(x);
    m2.Modulo(q_);
    m2.PowMod(dQ_, q_);
    m1.Modulo(p_);
    m1.PowMod(dP_, p_);
    // t = (m1 - m2) mod p; m2 is reduced first, as it is not below p when
    // q > p.
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

bool XRsa::DecryptsWithCrt()
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

void XRsa::PrivatePower(XBigInt& x)
{
    if (DecryptsWithCrt())
        CrtPower(x);
    else
        x.PowMod(d_, n_);
}
