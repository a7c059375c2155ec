// GCM (NIST SP 800-38D) with 16-byte tags over any 16-byte block cipher.
//
// Counter mode runs in batches of blocks on the engine and GHASH absorbs the
// ciphertext a chunk at a time through its multi-block function; with an
// XAes engine on the AES instructions and GHASH on the carry-less multiply,
// the whole blocks go through the AES modes' one-pass loop instead.
#include "cipher/aead_internal.h"
#include "cipher/aes_modes_x86.h"
#include "cipher/ghash.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <stdexcept>

namespace aead_internal {
namespace {

constexpr size_t kChunk = 4096;

// GHASH over n bytes, the last block completed with zeros.
void HashPadded(const XGhashKey& hash, uint8_t* y, const uint8_t* data, size_t n)
{
    hash.Update(y, data, n / kBlock);
    if (n % kBlock) {
        uint8_t last[kBlock] = {};
        std::memcpy(last, data + n - n % kBlock, n % kBlock);
        hash.Update(y, last, 1);
        SecureWipe(last, sizeof last);
    }
}

class XGcm final : public XAead {
public:
    explicit XGcm(std::unique_ptr<XBlockCipher> engine);
    ~XGcm() override = default; // hash_ wipes itself

    XAeadMode Mode() const override { return XAeadMode::kGcm; }
    uint32_t NonceSize() const override { return 12; }
    void Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, uint8_t* tag) const override;
    bool Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, const uint8_t* tag) const override;

private:
    // Both directions: the text from in to out and the full tag.
    void Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
               const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const;

    std::unique_ptr<XBlockCipher> engine_;
    const XAes* aes_;
    XGhashKey hash_;
};

XGcm::XGcm(std::unique_ptr<XBlockCipher> engine) : engine_(std::move(engine)), aes_(AsAes(*engine_))
{
    uint8_t h[kBlock] = {};
    engine_->EncryptBlock(h, h);
    hash_.SetKey(h);
    SecureWipe(h, sizeof h);
}

void XGcm::Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
                 const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const
{
    if (nonceLength == 0)
        throw std::invalid_argument("a GCM nonce is at least one byte");
    RequireBuffer(nonce, nonceLength, "GCM: no nonce");
    RequireBuffer(ad, adLength, "GCM: no associated data");
    RequireBuffer(in, n, "GCM: no input");
    RequireBuffer(out, n, "GCM: no output");
    // The counter may not come back to J0: at most 2^32 - 2 blocks.
    if (uint64_t(n) > (uint64_t(1) << 36) - 32)
        throw std::invalid_argument("GCM takes at most 2^36 - 32 bytes");

    // J0: nonce || 0^31 || 1 for 12 bytes, else GHASH(nonce || 0^s || 0^64 || [bits]_64).
    uint8_t j0[kBlock] = {};
    if (nonceLength == 12) {
        std::memcpy(j0, nonce, 12);
        StoreBe32(j0 + 12, 1);
    } else {
        HashPadded(hash_, j0, nonce, nonceLength);
        uint8_t lengths[kBlock] = {};
        StoreBe64(lengths + 8, uint64_t(nonceLength) * 8);
        hash_.Update(j0, lengths, 1);
    }
    const size_t textLength = n;
    uint8_t y[kBlock] = {}, counter[kBlock];
    HashPadded(hash_, y, ad, adLength);
    std::memcpy(counter, j0, kBlock);
    StoreBe32(counter + 12, LoadBe32(counter + 12) + 1);

#if ZEL_AES_MODES_X86
    if (aes_ && FastAes() && FastGhash()) {
        const size_t whole = n / kBlock;
        aes_modes_x86::GcmBlocks(WideAes(), encrypt, *aes_, hash_, counter, in, out, whole, y);
        in += kBlock * whole;
        out += kBlock * whole;
        n -= kBlock * whole;
    }
#endif
    const size_t total = n;
    for (size_t done = 0; done < total;) {
        const size_t bytes = total - done < kChunk ? total - done : kChunk;
        if (!encrypt)
            HashPadded(hash_, y, in + done, bytes);
        CounterMode(*engine_, aes_, Counter::k32, counter, in + done, out + done, bytes);
        if (encrypt)
            HashPadded(hash_, y, out + done, bytes);
        done += bytes;
    }

    uint8_t lengths[kBlock];
    StoreBe64(lengths, uint64_t(adLength) * 8);
    StoreBe64(lengths + 8, uint64_t(textLength) * 8);
    hash_.Update(y, lengths, 1);
    engine_->EncryptBlock(j0, tag);
    XorBytes(tag, tag, y, kBlock);
    SecureWipe(y, sizeof y);
    SecureWipe(j0, sizeof j0);
    SecureWipe(counter, sizeof counter);
}

void XGcm::Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("GCM: no tag buffer");
    Crypt(true, nonce, nonceLength, ad, adLength, in, out, n, tag);
}

bool XGcm::Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, const uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("GCM: no tag");
    uint8_t expected[kBlock];
    Crypt(false, nonce, nonceLength, ad, adLength, in, out, n, expected);
    const bool right = TagsEqual(expected, tag);
    SecureWipe(expected, sizeof expected);
    if (!right && n)
        SecureWipe(out, n);
    return right;
}

} // namespace

std::unique_ptr<XAead> MakeGcm(std::unique_ptr<XBlockCipher> engine)
{
    return std::make_unique<XGcm>(std::move(engine));
}

} // namespace aead_internal
