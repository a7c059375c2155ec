// EAX over any 16-byte block cipher, with full 16-byte tags:
//
//   N' = OMAC^0(N), H' = OMAC^1(H), C = CTR from N' (all 128 bits counting)
//   over M, tag = N' XOR OMAC^2(C) XOR H'
//
// where OMAC^t(X) is CMAC over the block [t] (fifteen zero bytes and t)
// followed by X.  CMAC's chaining is serial, so its blocks go to the engine
// through EncryptBlocksChained, many per call; counter mode runs in batches
// (on the AES modes' vector loops for XAes).  The text is handled in chunks
// small enough that what counter mode wrote is still in the cache when CMAC
// reads it.
#include "cipher/aead_internal.h"
#include "core/wipe.h"

#include <stdexcept>

namespace aead_internal {
namespace {

constexpr size_t kChunk = 4096;

class XEax final : public XAead {
public:
    explicit XEax(std::unique_ptr<XBlockCipher> engine);
    ~XEax() override;

    XAeadMode Mode() const override { return XAeadMode::kEax; }
    uint32_t NonceSize() const override { return 16; }
    void Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, uint8_t* tag) const override;
    bool Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, const uint8_t* tag) const override;

private:
    // CBC-MAC's chaining over `count` whole blocks into `state`.
    void Chain(const uint8_t* data, size_t count, uint8_t* state) const;
    // The last block of a CMAC (1 to 16 bytes): XORed with K1 when whole,
    // padded with 1 and zeros and XORed with K2 otherwise, chained into
    // `state`, which becomes the MAC.
    void Finish(const uint8_t* last, size_t length, uint8_t* state) const;
    // OMAC^t(data) into mac.
    void Omac(unsigned t, const uint8_t* data, size_t n, uint8_t* mac) const;
    // Both directions: the text from in to out and the full tag.
    void Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
               const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const;

    std::unique_ptr<XBlockCipher> engine_;
    const XAes* aes_;
    uint8_t k1_[kBlock] = {}, k2_[kBlock] = {};
    // E([t]): CMAC's state after the block [t] when more follows.
    uint8_t start_[3][kBlock] = {};
    // E([t] XOR K1): OMAC^t of nothing.
    uint8_t empty_[3][kBlock] = {};
};

XEax::XEax(std::unique_ptr<XBlockCipher> engine) : engine_(std::move(engine)), aes_(AsAes(*engine_))
{
    engine_->EncryptBlock(k1_, k1_);
    Double(k1_);
    std::memcpy(k2_, k1_, kBlock);
    Double(k2_);
    for (unsigned t = 0; t < 3; ++t) {
        start_[t][15] = uint8_t(t);
        XorBytes(empty_[t], start_[t], k1_, kBlock);
    }
    engine_->EncryptBlocks(start_[0], start_[0], 3);
    engine_->EncryptBlocks(empty_[0], empty_[0], 3);
}

XEax::~XEax()
{
    SecureWipe(k1_, sizeof k1_);
    SecureWipe(k2_, sizeof k2_);
    SecureWipe(start_, sizeof start_);
    SecureWipe(empty_, sizeof empty_);
}

void XEax::Chain(const uint8_t* data, size_t count, uint8_t* state) const
{
    if (count == 0)
        return;
    // The chained call writes every intermediate state; only the last matters.
    uint8_t scratch[2 * kBatchBlocks * kBlock];
    constexpr size_t kScratchBlocks = sizeof scratch / kBlock;
    while (count > 0) {
        const size_t k = count < kScratchBlocks ? count : kScratchBlocks;
        engine_->EncryptBlocksChained(data, scratch, k, state);
        data += kBlock * k;
        count -= k;
    }
    SecureWipe(scratch, sizeof scratch);
}

void XEax::Finish(const uint8_t* last, size_t length, uint8_t* state) const
{
    uint8_t block[kBlock] = {};
    std::memcpy(block, last, length);
    if (length == kBlock) {
        XorBytes(block, block, k1_, kBlock);
    } else {
        block[length] = 0x80;
        XorBytes(block, block, k2_, kBlock);
    }
    XorBytes(state, state, block, kBlock);
    engine_->EncryptBlock(state, state);
    SecureWipe(block, sizeof block);
}

void XEax::Omac(unsigned t, const uint8_t* data, size_t n, uint8_t* mac) const
{
    if (n == 0) {
        std::memcpy(mac, empty_[t], kBlock);
        return;
    }
    std::memcpy(mac, start_[t], kBlock);
    const size_t chained = (n - 1) / kBlock;
    Chain(data, chained, mac);
    Finish(data + kBlock * chained, n - kBlock * chained, mac);
}

void XEax::Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
                 const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const
{
    if (nonceLength == 0)
        throw std::invalid_argument("an EAX nonce is at least one byte");
    RequireBuffer(nonce, nonceLength, "EAX: no nonce");
    RequireBuffer(ad, adLength, "EAX: no associated data");
    RequireBuffer(in, n, "EAX: no input");
    RequireBuffer(out, n, "EAX: no output");
    uint8_t nonceMac[kBlock], adMac[kBlock], textMac[kBlock], counter[kBlock];
    Omac(0, nonce, nonceLength, nonceMac);
    Omac(1, ad, adLength, adMac);
    std::memcpy(counter, nonceMac, kBlock);
    if (n == 0) {
        std::memcpy(textMac, empty_[2], kBlock);
    } else {
        // The ciphertext's blocks before its last go through the chaining as
        // each chunk is done; the last (1 to 16 bytes) finishes the MAC.
        // Deciphering in place overwrites it, so it is kept first.
        std::memcpy(textMac, start_[2], kBlock);
        const size_t chained = (n - 1) / kBlock;
        const size_t lastLength = n - kBlock * chained;
        uint8_t last[kBlock];
        if (!encrypt)
            std::memcpy(last, in + kBlock * chained, lastLength);
        for (size_t done = 0; done < n;) {
            const size_t bytes = n - done < kChunk ? n - done : kChunk;
            const size_t first = done / kBlock, end = (done + bytes) / kBlock;
            const size_t toChain = (end < chained ? end : chained) - (first < chained ? first : chained);
            if (!encrypt)
                Chain(in + done, toChain, textMac);
            CounterMode(*engine_, aes_, Counter::k128, counter, in + done, out + done, bytes);
            if (encrypt)
                Chain(out + done, toChain, textMac);
            done += bytes;
        }
        if (encrypt)
            std::memcpy(last, out + kBlock * chained, lastLength);
        Finish(last, lastLength, textMac);
        SecureWipe(last, sizeof last);
    }
    XorBytes(tag, nonceMac, adMac, kBlock);
    XorBytes(tag, tag, textMac, kBlock);
    SecureWipe(nonceMac, sizeof nonceMac);
    SecureWipe(adMac, sizeof adMac);
    SecureWipe(textMac, sizeof textMac);
    SecureWipe(counter, sizeof counter);
}

void XEax::Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("EAX: no tag buffer");
    Crypt(true, nonce, nonceLength, ad, adLength, in, out, n, tag);
}

bool XEax::Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, const uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("EAX: no tag");
    uint8_t expected[kBlock];
    Crypt(false, nonce, nonceLength, ad, adLength, in, out, n, expected);
    const bool right = TagsEqual(expected, tag);
    SecureWipe(expected, sizeof expected);
    if (!right && n)
        SecureWipe(out, n);
    return right;
}

} // namespace

std::unique_ptr<XAead> MakeEax(std::unique_ptr<XBlockCipher> engine)
{
    return std::make_unique<XEax>(std::move(engine));
}

} // namespace aead_internal
