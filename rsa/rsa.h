// XRsa: the RSA engine behind the scriptable RSA object.  It holds one key
// pair, exchanges its halves as key blobs, generates keys deterministically
// from two seeds, encrypts and decrypts with an OAEP-style block encoding
// over SHA-1, and signs and verifies SHA-1 digests.
//
// Key blobs (all numbers unsigned big-endian, minimal form: no leading zero
// bytes, zero being the one byte 00; items length-prefixed as XBlob's
// AppendItem writes them):
//   public:  k (4 bytes), n, e
//   private: k (4 bytes), n, d, p, q, dP, dQ, qInv
// k is the block size in bytes.  n and k belong to both halves: the half
// loaded first sets them and the other half must agree.
//
// Encryption block (k - 1 bytes before the exponentiation, at most k - 42
// message bytes per block):
//   DB   = SHA-1(parameter) | zeros | 01 | message bytes      (k - 21 bytes)
//   EM   = (seed ^ MaskGen(maskedDB, 20)) | (DB ^ MaskGen(seed, k - 21))
// with a fresh 20-byte seed from the operating system's generator per block.
// Signature block: 01 | FF ... FF | 00 | SHA-1(data), k - 1 bytes, raised to
// d through the CRT values.
//
// Alarms (XCryptoAlarm): "Data is corrupted" / "RSA" for a key blob shorter
// than 5 bytes, "Data is corrupted" / "XBlob" for a malformed item, "Invalid
// key" / "RSA" for a key half that disagrees with the loaded one and for an
// operation whose key half is missing or unusable, "Unable to decrypt data" /
// "RSA" from Decrypt.
#pragma once

#include "core/xblob.h"
#include "random/random.h"
#include "rsa/bigint.h"

#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

class XRsa {
public:
    static constexpr uint32_t kHasPrivateKey = 1; // d, p, q, dP, dQ, qInv loaded
    static constexpr uint32_t kHasPublicKey = 2;  // e loaded

    // Block sizes the operations accept: 43 gives one message byte per
    // encryption block; 4096 (a 32768-bit modulus) bounds the work per block.
    static constexpr uint32_t kMinKeySize = 43;
    static constexpr uint32_t kMaxKeySize = 4096;

    // Fills `length` bytes with fresh random bytes: the per-block seeds of
    // Encrypt.  Tests pass their own source to get repeatable ciphertexts.
    using EntropySource = void (*)(uint8_t* out, size_t length);

    // No key (every number 0, k = 0) and the encoding parameter 00 00 00 00.
    explicit XRsa(EntropySource entropy = SystemEntropy);

    // A new key from the two seeds: k = 64, 128 or 256 for a size up to 64,
    // up to 128, or above (the size read as unsigned, so -1 gives 256).
    // The primes are NextPrime of the big-endian numbers ExpandSeed makes of
    // the seeds (k / 2 bytes each), p the larger; equal seeds give equal
    // starting points and p is then the next prime above q.  e starts at
    // 65537 and steps on by NextPrime while it shares a factor with
    // (p - 1)(q - 1).  Both halves are then loaded.
    void Keygen(const XBlob& seed1, const XBlob& seed2, uint32_t size);

    // A fresh key pair from the engine's entropy source, for the standard
    // schemes: n of exactly `bits` bits (512 to 16384, a multiple of 2),
    // e = 65537, p and q probable primes of bits / 2 bits each with their
    // top two bits set (so that n has all its bits), |p - q| above
    // 2^(bits / 2 - 100), d = e^-1 mod lcm(p - 1, q - 1) above 2^(bits / 2),
    // and p > q.  k becomes the byte length of n.  Other sizes throw
    // std::invalid_argument.
    void Generate(uint32_t bits);

    // Replaces the whole key by a key read from a standard key file: the
    // public half alone, or both halves.  k becomes the byte length of n.
    // The numbers are taken as they are: the key file reader checks them.
    void LoadPublicKey(const XBigInt& n, const XBigInt& e);
    void LoadKeyPair(const XBigInt& n, const XBigInt& e, const XBigInt& d, const XBigInt& p, const XBigInt& q,
                     const XBigInt& dP, const XBigInt& dQ, const XBigInt& qInv);

    // The RSA primitives under the standard schemes, on x < n (otherwise
    // "Invalid key" for the private one; the caller checks the public one's
    // input).  ApplyPrivate raises "Invalid key" when the private half is
    // missing or unusable, and goes through the same blinded and checked
    // path as Sign and Decrypt, by the CRT when the key allows it.
    void ApplyPublic(XBigInt& x) const;
    void ApplyPrivate(XBigInt& x) const;
    // Raises "Invalid key" unless the half (kHasPublicKey, kHasPrivateKey)
    // is loaded and usable.
    void RequireHalf(uint32_t half) const { RequireUsableKey(half); }
    // The bytes of n: the block size of the standard schemes.
    uint32_t ModulusBytes() const { return uint32_t((n_.BitLength() + 7) / 8); }
    EntropySource Entropy() const { return entropy_; }

    // The encoding parameter of Encrypt and Decrypt: its SHA-1 digest is
    // the label at the front of every block.
    void SetIV(const XBlob& parameter);

    // Never fail: a new engine exports k = 0 and zero numbers.
    XBlob ExportPublicKey() const;
    XBlob ExportPrivateKey() const;

    // A failed import changes nothing: the loaded key stays as it was.
    // "Invalid key" for a blob with a number (n, e, d, p, q, dP, dQ, qInv)
    // longer than k bytes once leading zeros are dropped, and for k and n
    // that disagree with the other half when it is loaded.  Bytes after the
    // last item are ignored.
    void ImportPublicKey(const XBlob& blob);
    void ImportPrivateKey(const XBlob& blob);

    // Private operations (Sign, Decrypt) are blinded: each exponentiation
    // by the private values runs on x r^e for a fresh random r (from the
    // engine's entropy source, used once; drawn 16 at a time so that one
    // inversion serves them all) and is unblinded after, and runs with
    // PowModSecret.  Each result is checked before it leaves: raised to e it
    // must give back its input, where e is the loaded public exponent or,
    // for a private half alone, d^-1 mod lcm(p - 1, q - 1).  A key for which
    // no such e exists is served by two independently blinded computations
    // that must agree.  A failed check is "Invalid key".
    //
    // All four operations raise "Invalid key" before any work when their
    // half of the key is missing, or k is outside 43 ... 4096, or n is 0 or
    // 1.  A modulus shorter than k bytes is served as it is.

    // ceil(length / (k - 42)) blocks of k bytes; no data gives no blocks.
    // A block whose encoding is not below n is encoded again with a new
    // seed; a modulus of fewer than k - 1 bytes, for which that would take
    // hundreds of draws per block or never succeed, is "Invalid key".
    XBlob Encrypt(const XBlob& data);
    // The message bytes of every k-byte block; fails as a whole when any
    // block fails.  Through the CRT when the key's parts are consistent
    // (see DecryptsWithCrt), else one exponentiation by d modulo n: the
    // results are the same.
    XBlob Decrypt(const XBlob& data);
    // k bytes; the same key and data always give the same signature.  The
    // CRT steps with the loaded p, q, dP, dQ and qInv; "Invalid key" when p
    // or q is 0 or 1, when the signature block is not below n, or when the
    // CRT values do not give a signature that verifies.
    XBlob Sign(const XBlob& data) const;
    // 1 for a signature of data under the public key, else 0 (a bad
    // signature is an answer, not an alarm).  Leading zero bytes of the
    // signature do not matter.
    int32_t Verify(const XBlob& data, const XBlob& signature) const;

    // The first `length` bytes of SHA-1(Z | 00 00 00 00), SHA-1(Z | 00 00
    // 00 14), SHA-1(Z | 00 00 00 28), ...: the 32-bit big-endian counter
    // after Z is the byte offset of its block (it steps by 20, not by 1).
    static XBlob MaskGen(const XBlob& z, uint32_t length);

    uint32_t KeySize() const { return keySize_; }
    uint32_t KeyFlags() const { return keyFlags_; }
    const XBlob& LabelHash() const { return labelHash_; }
    const XBigInt& P() const { return p_; }
    const XBigInt& Q() const { return q_; }
    const XBigInt& N() const { return n_; }
    const XBigInt& E() const { return e_; }
    const XBigInt& D() const { return d_; }
    const XBigInt& DP() const { return dP_; }
    const XBigInt& DQ() const { return dQ_; }
    const XBigInt& QInv() const { return qInv_; }

    // Whether Decrypt takes the CRT path for the loaded key: n = p q, dP and
    // dQ are d reduced modulo p - 1 and q - 1 (and not 0), qInv is the
    // inverse of q below p, and p and q pass the strong probable-prime test
    // to base 2.  Worked out on first use after the key changed and kept.
    bool DecryptsWithCrt() const;

    // The exponent private results are checked with: e when the public half
    // is loaded, the derived one for a private half alone, or null when
    // there is none.  Worked out on first use after the key changed.
    const XBigInt* CheckExponent() const;

private:
    // Raises "Invalid key" unless the half is loaded and k and n are usable.
    void RequireUsableKey(uint32_t half) const;
    // Raises "Invalid key" when x has more than k bytes.
    static void RequireWithinKeySize(const XBigInt& x, uint32_t k);
    // Reads k and n at the front of a key blob into k and n, checking them
    // against the other half when it is loaded; returns the position after n.
    uint32_t ReadModulus(const XBlob& blob, uint32_t& k, XBigInt& n) const;
    // Forgets what was worked out about the previous key.
    void KeyChanged();
    // x = x^d mod n for x < n, by the CRT values when `crt`, blinded and
    // checked as the private operations promise.
    void PrivateOperation(XBigInt& x, bool crt) const;
    // x^d mod n unblinded, by the CRT values or by d mod n.
    void RawPower(XBigInt& x, bool crt) const;
    // The CRT steps on x < n with the loaded p, q, dP, dQ and qInv.
    void CrtPower(XBigInt& x) const;
    // A fresh r in [2, n - 1] that is invertible modulo n, and its inverse:
    // each pair is used once, and pairs are made kBlindingBatch at a time.
    void DrawBlinding(XBigInt& r, XBigInt& rInverse) const;
    void RefillBlindingPool() const;
    static constexpr size_t kBlindingBatch = 16;

    XBigInt p_, q_, n_, e_, d_, dP_, dQ_, qInv_;
    uint32_t keySize_ = 0;
    XBlob labelHash_;
    uint32_t keyFlags_ = 0;

    EntropySource entropy_;
    // Whether the private values allow the CRT in Decrypt: unknown until the
    // first Decrypt after the key changed.
    enum class CrtState { kUnknown, kUsable, kUnusable };
    mutable CrtState crt_ = CrtState::kUnknown;
    // The check exponent of a private half alone (CheckExponent).
    enum class CheckState { kUnknown, kDerived, kNone };
    mutable CheckState check_ = CheckState::kUnknown;
    mutable XBigInt derivedE_;
    // Unused blinding pairs (r, r^-1 mod n) for the loaded modulus.
    mutable std::vector<std::pair<XBigInt, XBigInt>> blindingPool_;
};
