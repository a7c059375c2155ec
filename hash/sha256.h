// SHA-256 and SHA-224 (FIPS 180-4) as incremental contexts.
//
// Block compression has two implementations, as SHA-1's has: portable C++,
// and on x86 CPUs that have them, the SHA instruction set extensions.  The
// process picks the fastest one available on first use; tests and
// benchmarks may switch between them with Sha256SelectEngine (both give
// identical digests).  SHA-224 is SHA-256 from other initial words, cut to
// 28 bytes: it runs on the same engine.
#pragma once

#include "hash/block_digest.h"

enum class Sha256Engine {
    kPortable,
    kShaExtensions, // x86 SHA-NI (with SSSE3 and SSE4.1)
};

// Whether this build and this CPU can run the engine.
bool Sha256EngineAvailable(Sha256Engine engine);
// The engine every SHA-256 and SHA-224 computation in the process currently uses.
Sha256Engine Sha256ActiveEngine();
// Makes every later SHA-256 and SHA-224 compression in the process use the
// engine.  Returns false, and changes nothing, when it is not available.
bool Sha256SelectEngine(Sha256Engine engine);

// The chaining state, compression and output of both sizes.
class XSha256Base : public XBlockDigest {
public:
    ~XSha256Base() override { SecureWipe(state_, sizeof state_); }

    // Compresses whole 64-byte blocks into the eight chaining words with the
    // given engine, which must be available.
    static void CompressBlocks(Sha256Engine engine, uint32_t state[8], const uint8_t* blocks, size_t count);

protected:
    void Start(const uint32_t initial[8]);
    void Compress(const uint8_t* blocks, size_t count) override;
    // Pads, writes the first `words` chaining words big-endian.
    void Output(uint8_t* out, int words);

private:
    uint32_t state_[8];
};

class XSha256 : public XDigestCopies<XSha256, XSha256Base> {
public:
    static constexpr uint32_t kSize = 32;

    XSha256() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
};

class XSha224 : public XDigestCopies<XSha224, XSha256Base> {
public:
    static constexpr uint32_t kSize = 28;

    XSha224() { Reset(); }
    uint32_t Size() const override { return kSize; }
    void Reset() override;
    void FinishInto(uint8_t* out) override;
};
