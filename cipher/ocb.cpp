// OCB (RFC 7253) with 128-bit tags over any 16-byte block cipher.
//
// Every whole block is enciphered as E(P_i XOR Offset_i) XOR Offset_i with
// the offsets of a run of blocks computed first, so the engine gets up to
// kBatchBlocks blocks per call; the associated data is hashed the same way.
// With XAes on the AES instructions the text's blocks run through a loop of
// their own (ocb_x86.cpp) that keeps the offsets in registers.
#include "cipher/aead_internal.h"
#include "cipher/ocb_x86.h"
#include "core/wipe.h"

#include <stdexcept>

namespace aead_internal {
namespace {

// Trailing zero bits of a nonzero block index.
inline unsigned TrailingZeros(uint64_t i)
{
    return unsigned(__builtin_ctzll(i));
}

class XOcb final : public XAead {
public:
    explicit XOcb(std::unique_ptr<XBlockCipher> engine);
    ~XOcb() override;

    XAeadMode Mode() const override { return XAeadMode::kOcb; }
    uint32_t NonceSize() const override { return 15; }
    void Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, uint8_t* tag) const override;
    bool Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
              uint8_t* out, size_t n, const uint8_t* tag) const override;

private:
    // L_i for every block index a size_t can count (64 on any platform).
    static constexpr size_t kLevels = 64;

    // Offset_0 for the nonce (1 to 15 bytes).
    Block InitialOffset(const uint8_t* nonce, uint32_t nonceLength) const;
    // HASH(K, A).
    Block HashAd(const uint8_t* ad, size_t n) const;
    // `count` whole blocks from in to out; `index` counts the blocks done
    // before, `offset` is the last block's offset, `checksum` the XOR of the
    // plaintext blocks so far.
    void WholeBlocks(bool encrypt, const uint8_t* in, uint8_t* out, size_t count, uint64_t& index, Block& offset,
                     Block& checksum) const;
    // Both directions: the text from in to out and the full tag.
    void Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
               const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const;

    std::unique_ptr<XBlockCipher> engine_;
    const XAes* aes_;
    Block lStar_{};   // E(0^128)
    Block lDollar_{}; // double(L_*)
    Block l_[kLevels]{}; // L_0 = double(L_$), L_i = double(L_{i-1})
};

XOcb::XOcb(std::unique_ptr<XBlockCipher> engine) : engine_(std::move(engine)), aes_(AsAes(*engine_))
{
    uint8_t b[kBlock] = {};
    engine_->EncryptBlock(b, b);
    lStar_ = LoadBlock(b);
    Double(b);
    lDollar_ = LoadBlock(b);
    for (size_t i = 0; i < kLevels; ++i) {
        Double(b);
        l_[i] = LoadBlock(b);
    }
    SecureWipe(b, sizeof b);
}

XOcb::~XOcb()
{
    SecureWipe(&lStar_, sizeof lStar_);
    SecureWipe(&lDollar_, sizeof lDollar_);
    SecureWipe(l_, sizeof l_);
}

Block XOcb::InitialOffset(const uint8_t* nonce, uint32_t nonceLength) const
{
    if (nonceLength < 1 || nonceLength > 15)
        throw std::invalid_argument("an OCB nonce is 1 to 15 bytes");
    if (!nonce)
        throw std::invalid_argument("OCB: no nonce");
    // The tag length (128, taken mod 128: seven zero bits), zeros, a one bit, the nonce.
    uint8_t block[kBlock] = {};
    block[15 - nonceLength] = 1;
    std::memcpy(block + kBlock - nonceLength, nonce, nonceLength);
    const unsigned bottom = block[15] & 63;
    block[15] &= 0xC0;
    // Stretch = Ktop || (Ktop[1..64] XOR Ktop[9..72]); Offset_0 is its bits
    // bottom + 1 .. bottom + 128.
    uint8_t stretch[kBlock + 8];
    engine_->EncryptBlock(block, stretch);
    for (size_t i = 0; i < 8; ++i)
        stretch[kBlock + i] = uint8_t(stretch[i] ^ stretch[i + 1]);
    const unsigned bytes = bottom / 8, bits = bottom % 8;
    uint8_t offset[kBlock];
    for (size_t i = 0; i < kBlock; ++i) {
        offset[i] = bits == 0 ? stretch[i + bytes]
                              : uint8_t(stretch[i + bytes] << bits | stretch[i + bytes + 1] >> (8 - bits));
    }
    const Block result = LoadBlock(offset);
    SecureWipe(stretch, sizeof stretch);
    SecureWipe(offset, sizeof offset);
    return result;
}

Block XOcb::HashAd(const uint8_t* ad, size_t n) const
{
    Block sum{}, offset{};
    uint64_t index = 0;
    uint8_t work[kBatchBlocks * kBlock];
    for (size_t whole = n / kBlock; whole > 0;) {
        const size_t k = whole < kBatchBlocks ? whole : kBatchBlocks;
        for (size_t j = 0; j < k; ++j) {
            offset ^= l_[TrailingZeros(++index)];
            StoreBlock(work + kBlock * j, LoadBlock(ad + kBlock * j) ^ offset);
        }
        engine_->EncryptBlocks(work, work, k);
        for (size_t j = 0; j < k; ++j)
            sum ^= LoadBlock(work + kBlock * j);
        ad += kBlock * k;
        whole -= k;
    }
    if (const size_t rest = n % kBlock) {
        // A_* || 1 || zeros, XOR Offset_* = Offset_m XOR L_*.
        uint8_t last[kBlock] = {};
        std::memcpy(last, ad, rest);
        last[rest] = 0x80;
        offset ^= lStar_;
        StoreBlock(work, LoadBlock(last) ^ offset);
        engine_->EncryptBlock(work, work);
        sum ^= LoadBlock(work);
        SecureWipe(last, sizeof last);
    }
    SecureWipe(work, sizeof work);
    return sum;
}

void XOcb::WholeBlocks(bool encrypt, const uint8_t* in, uint8_t* out, size_t count, uint64_t& indexInOut,
                       Block& offsetInOut, Block& checksumInOut) const
{
    if (count == 0)
        return;
#if ZEL_AES_MODES_X86
    if (aes_ && FastAes()) {
        static_assert(sizeof(Block) == kBlock, "the levels are read as 16-byte strings");
        uint8_t offset[kBlock], checksum[kBlock];
        StoreBlock(offset, offsetInOut);
        StoreBlock(checksum, checksumInOut);
        ocb_x86::Blocks(WideAes(), encrypt, *aes_, reinterpret_cast<const uint8_t*>(l_), indexInOut, offset, checksum,
                        in, out, count);
        offsetInOut = LoadBlock(offset);
        checksumInOut = LoadBlock(checksum);
        SecureWipe(offset, sizeof offset);
        SecureWipe(checksum, sizeof checksum);
        return;
    }
#endif
    // Locals, so that the running values stay in registers (through the
    // references they would go to memory and back on every block).
    uint64_t index = indexInOut;
    Block offset = offsetInOut, checksum = checksumInOut;
    uint8_t work[kBatchBlocks * kBlock];
    Block offsets[kBatchBlocks];
    while (count > 0) {
        const size_t k = count < kBatchBlocks ? count : kBatchBlocks;
        // Every input block is read before its output is written, so in and
        // out may be the same.
        for (size_t j = 0; j < k; ++j) {
            offset ^= l_[TrailingZeros(++index)];
            offsets[j] = offset;
            const Block x = LoadBlock(in + kBlock * j);
            if (encrypt)
                checksum ^= x;
            StoreBlock(work + kBlock * j, x ^ offset);
        }
        if (encrypt)
            engine_->EncryptBlocks(work, work, k);
        else
            engine_->DecryptBlocks(work, work, k);
        for (size_t j = 0; j < k; ++j) {
            const Block y = LoadBlock(work + kBlock * j) ^ offsets[j];
            if (!encrypt)
                checksum ^= y;
            StoreBlock(out + kBlock * j, y);
        }
        in += kBlock * k;
        out += kBlock * k;
        count -= k;
    }
    indexInOut = index;
    offsetInOut = offset;
    checksumInOut = checksum;
    SecureWipe(work, sizeof work);
    SecureWipe(offsets, sizeof offsets);
    SecureWipe(&offset, sizeof offset);
    SecureWipe(&checksum, sizeof checksum);
}

void XOcb::Crypt(bool encrypt, const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength,
                 const uint8_t* in, uint8_t* out, size_t n, uint8_t* tag) const
{
    RequireBuffer(ad, adLength, "OCB: no associated data");
    RequireBuffer(in, n, "OCB: no input");
    RequireBuffer(out, n, "OCB: no output");
    Block offset = InitialOffset(nonce, nonceLength);
    Block checksum{};
    uint64_t index = 0;
    const size_t whole = n / kBlock, rest = n % kBlock;
    WholeBlocks(encrypt, in, out, whole, index, offset, checksum);
    if (rest) {
        // The last partial block is XORed with Pad = E(Offset_*), and enters
        // the checksum as P_* || 1 || zeros.
        in += kBlock * whole;
        out += kBlock * whole;
        offset ^= lStar_;
        uint8_t pad[kBlock], last[kBlock] = {};
        StoreBlock(pad, offset);
        engine_->EncryptBlock(pad, pad);
        if (encrypt)
            std::memcpy(last, in, rest);
        XorBytes(out, in, pad, rest);
        if (!encrypt)
            std::memcpy(last, out, rest);
        last[rest] = 0x80;
        checksum ^= LoadBlock(last);
        SecureWipe(pad, sizeof pad);
        SecureWipe(last, sizeof last);
    }
    uint8_t t[kBlock];
    StoreBlock(t, checksum ^ offset ^ lDollar_);
    engine_->EncryptBlock(t, t);
    StoreBlock(tag, LoadBlock(t) ^ HashAd(ad, adLength));
    SecureWipe(t, sizeof t);
    SecureWipe(&checksum, sizeof checksum);
    SecureWipe(&offset, sizeof offset);
}

void XOcb::Seal(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("OCB: no tag buffer");
    Crypt(true, nonce, nonceLength, ad, adLength, in, out, n, tag);
}

bool XOcb::Open(const uint8_t* nonce, uint32_t nonceLength, const uint8_t* ad, size_t adLength, const uint8_t* in,
                uint8_t* out, size_t n, const uint8_t* tag) const
{
    if (!tag)
        throw std::invalid_argument("OCB: no tag");
    uint8_t expected[kBlock];
    Crypt(false, nonce, nonceLength, ad, adLength, in, out, n, expected);
    const bool right = TagsEqual(expected, tag);
    SecureWipe(expected, sizeof expected);
    if (!right && n)
        SecureWipe(out, n);
    return right;
}

} // namespace

std::unique_ptr<XAead> MakeOcb(std::unique_ptr<XBlockCipher> engine)
{
    return std::make_unique<XOcb>(std::move(engine));
}

} // namespace aead_internal
