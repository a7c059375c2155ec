// SHA3-256 and SHA3-512 (FIPS 202) as incremental contexts: the sponge over
// Keccak-f[1600] with the rate of each (136 and 72 bytes), the SHA-3 domain
// bits, and the digest squeezed from the first block of output.
#pragma once

#include "core/wipe.h"
#include "hash/digest.h"

#include <cstddef>
#include <cstdint>

class XSha3Base : public XDigest {
public:
    ~XSha3Base() override { SecureWipe(state_, sizeof state_); }

    using XDigest::Update;
    void Update(const uint8_t* data, size_t length) final;

    // Keccak-f[1600]: the 24 rounds over the 25 lanes (lane x + 5y at
    // index x + 5y, each little-endian).
    static void Permute(uint64_t state[25]);

protected:
    explicit XSha3Base(uint32_t rate) : rate_(rate) {}
    // Empties the sponge.
    void Start();
    // Pads (the SHA-3 suffix 01, then 10*1), permutes, writes the first
    // `bytes` (at most the rate) bytes of the state.
    void Output(uint8_t* out, uint32_t bytes);

private:
    uint64_t state_[25];
    uint32_t rate_;     // bytes absorbed per permutation
    uint32_t absorbed_; // bytes of the current block absorbed so far
};

class XSha3_256 : public XDigestCopies<XSha3_256, XSha3Base> {
public:
    static constexpr uint32_t kSize = 32;
    static constexpr uint32_t kRate = 136;

    XSha3_256() : XDigestCopies(kRate) { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override { Start(); }
    void FinishInto(uint8_t* out) override;
};

class XSha3_512 : public XDigestCopies<XSha3_512, XSha3Base> {
public:
    static constexpr uint32_t kSize = 64;
    static constexpr uint32_t kRate = 72;

    XSha3_512() : XDigestCopies(kRate) { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override { Start(); }
    void FinishInto(uint8_t* out) override;
};
