// SHA-1 (FIPS 180-1) as an incremental context.
//
// Block compression has two implementations: portable C++, and on x86 CPUs
// that have them, the SHA instruction set extensions.  The process picks the
// fastest one available on first use; tests and benchmarks may switch
// between them with Sha1SelectEngine (both give identical digests).
#pragma once

#include "hash/block_digest.h"

enum class Sha1Engine {
    kPortable,
    kShaExtensions, // x86 SHA-NI (with SSSE3 and SSE4.1)
};

// Whether this build and this CPU can run the engine.
bool Sha1EngineAvailable(Sha1Engine engine);
// The engine every SHA-1 computation in the process currently uses.
Sha1Engine Sha1ActiveEngine();
// Makes every later SHA-1 compression in the process use the engine.
// Returns false, and changes nothing, when it is not available.
bool Sha1SelectEngine(Sha1Engine engine);

class XSha1 : public XDigestCopies<XSha1, XBlockDigest> {
public:
    static constexpr uint32_t kSize = 20;

    XSha1() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
    ~XSha1() override { SecureWipe(state_, sizeof state_); }

    // Compresses whole 64-byte blocks into the five chaining words with the
    // given engine, which must be available.
    static void CompressBlocks(Sha1Engine engine, uint32_t state[5], const uint8_t* blocks, size_t count);

protected:
    void Compress(const uint8_t* blocks, size_t count) override;

private:
    uint32_t state_[5];
};
