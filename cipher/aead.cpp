#include "cipher/aead.h"

#include "cipher/aead_internal.h"
#include "cipher/aes_modes_x86.h"
#include "cipher/ghash.h"
#include "core/bytes.h"
#include "core/wipe.h"

#include <stdexcept>

XAead::~XAead() = default;

std::unique_ptr<XAead> XAead::Make(XAeadMode mode, std::unique_ptr<XBlockCipher> engine)
{
    if (!engine)
        throw std::invalid_argument("an AEAD mode needs a block cipher");
    if (engine->BlockSize() != aead_internal::kBlock)
        throw std::invalid_argument("the AEAD modes take block ciphers with 16-byte blocks");
    if (!engine->KeyReady())
        throw std::invalid_argument("the AEAD modes take a keyed block cipher");
    switch (mode) {
    case XAeadMode::kEax:
        return aead_internal::MakeEax(std::move(engine));
    case XAeadMode::kOcb:
        return aead_internal::MakeOcb(std::move(engine));
    case XAeadMode::kGcm:
        return aead_internal::MakeGcm(std::move(engine));
    }
    throw std::invalid_argument("unknown AEAD mode");
}

uint32_t XAead::NonceSizeOf(XAeadMode mode)
{
    switch (mode) {
    case XAeadMode::kEax:
        return 16;
    case XAeadMode::kOcb:
        return 15;
    case XAeadMode::kGcm:
        return 12;
    }
    throw std::invalid_argument("unknown AEAD mode");
}

namespace aead_internal {

const XAes* AsAes(const XBlockCipher& engine)
{
    return dynamic_cast<const XAes*>(&engine);
}

bool FastAes()
{
#if ZEL_AES_MODES_X86
    return AesActiveEngine() != AesEngine::kPortable;
#else
    return false;
#endif
}

bool WideAes()
{
    return AesActiveEngine() == AesEngine::kVaes;
}

bool FastGhash()
{
    return GhashActiveEngine() == GhashEngine::kPclmul;
}

void Double(uint8_t* block)
{
    const uint64_t hi = LoadBe64(block), lo = LoadBe64(block + 8);
    // The bit shifted out at the top comes back as x^7 + x^2 + x + 1, without a branch.
    const uint64_t carry = 0 - (hi >> 63);
    StoreBe64(block, (hi << 1) | (lo >> 63));
    StoreBe64(block + 8, (lo << 1) ^ (carry & 0x87));
}

bool TagsEqual(const uint8_t* a, const uint8_t* b)
{
    uint8_t difference = 0;
    for (size_t i = 0; i < XAead::kTagSize; ++i)
        difference |= uint8_t(a[i] ^ b[i]);
    // Read through a volatile so that the loop is not cut short.
    volatile uint8_t settled = difference;
    return settled == 0;
}

namespace {

void Increment32(uint8_t* counter)
{
    StoreBe32(counter + 12, LoadBe32(counter + 12) + 1);
}

void Increment128(uint8_t* counter)
{
    const uint64_t low = LoadBe64(counter + 8) + 1;
    StoreBe64(counter + 8, low);
    if (low == 0)
        StoreBe64(counter, LoadBe64(counter) + 1);
}

} // namespace

void CounterMode(const XBlockCipher& engine, const XAes* aes, Counter kind, uint8_t* counter, const uint8_t* in,
                 uint8_t* out, size_t n)
{
#if ZEL_AES_MODES_X86
    if (aes && FastAes()) {
        const size_t whole = n / kBlock;
        if (kind == Counter::k32)
            aes_modes_x86::Ctr32Blocks(WideAes(), *aes, counter, in, out, whole);
        else
            aes_modes_x86::Ctr128Blocks(WideAes(), *aes, counter, in, out, whole);
        in += kBlock * whole;
        out += kBlock * whole;
        n -= kBlock * whole;
    }
#else
    (void)aes;
#endif
    if (n == 0)
        return;
    uint8_t stream[kBatchBlocks * kBlock];
    while (n > 0) {
        const size_t bytes = n < sizeof stream ? n : sizeof stream;
        const size_t blocks = (bytes + kBlock - 1) / kBlock;
        for (size_t i = 0; i < blocks; ++i) {
            std::memcpy(stream + kBlock * i, counter, kBlock);
            if (kind == Counter::k32)
                Increment32(counter);
            else
                Increment128(counter);
        }
        engine.EncryptBlocks(stream, stream, blocks);
        XorBytes(out, in, stream, bytes);
        in += bytes;
        out += bytes;
        n -= bytes;
    }
    SecureWipe(stream, sizeof stream);
}

void RequireBuffer(const void* pointer, size_t length, const char* what)
{
    if (!pointer && length != 0)
        throw std::invalid_argument(what);
}

} // namespace aead_internal
