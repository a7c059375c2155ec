// SHA-512, SHA-384 and SHA-512/256 (FIPS 180-4) as incremental contexts:
// one compression function over 128-byte blocks, three sets of initial
// words, three output lengths.
//
// The compression has two implementations: portable C++, and on x86-64
// CPUs with AVX2 and BMI2 one that computes the message schedule two words
// at a time in vector registers while the rounds run on the integer units
// (with BMI2's three-operand rotations).  The process picks the fastest one
// available on first use; tests and benchmarks may switch between them with
// Sha512SelectEngine (both give identical digests).
#pragma once

#include "hash/block_digest.h"

enum class Sha512Engine {
    kPortable,
    kAvx2Bmi2, // x86-64 with AVX2 and BMI2
};

// Whether this build and this CPU can run the engine.
bool Sha512EngineAvailable(Sha512Engine engine);
// The engine every SHA-512, SHA-384 and SHA-512/256 computation in the
// process currently uses.
Sha512Engine Sha512ActiveEngine();
// Makes every later compression of the three use the engine.  Returns
// false, and changes nothing, when it is not available.
bool Sha512SelectEngine(Sha512Engine engine);

// The chaining state, compression and output of the three.
class XSha512Base : public XWideBlockDigest {
public:
    ~XSha512Base() override { SecureWipe(state_, sizeof state_); }

    // Compresses whole 128-byte blocks into the eight chaining words with
    // the given engine, which must be available.
    static void CompressBlocks(Sha512Engine engine, uint64_t state[8], const uint8_t* blocks, size_t count);

protected:
    void Start(const uint64_t initial[8]);
    void Compress(const uint8_t* blocks, size_t count) override;
    // Pads, writes the first `bytes` bytes of the chaining words (big-endian).
    void Output(uint8_t* out, uint32_t bytes);

private:
    uint64_t state_[8];
};

class XSha512 : public XDigestCopies<XSha512, XSha512Base> {
public:
    static constexpr uint32_t kSize = 64;

    XSha512() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
};

class XSha384 : public XDigestCopies<XSha384, XSha512Base> {
public:
    static constexpr uint32_t kSize = 48;

    XSha384() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
};

// SHA-512/256: SHA-512 with its own initial words, cut to 32 bytes.
class XSha512_256 : public XDigestCopies<XSha512_256, XSha512Base> {
public:
    static constexpr uint32_t kSize = 32;

    XSha512_256() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
};
