// GHASH, the universal hash under GCM's authentication tag (NIST SP 800-38D,
// section 6.4): Y = (Y XOR X) * H in GF(2^128) for every 16-byte block X,
// under the hash key H = E(K, 0^128).
//
// Two implementations: portable C++ (carry-less products built from integer
// multiplications with the bits spread four apart, so no table is indexed by
// a secret and no branch depends on one), and on x86 CPUs that have it, the
// carry-less multiply instruction (PCLMULQDQ) over eight blocks per
// reduction (AES-GCM on 256-bit vectors hashes sixteen, see aes_modes_x86.cpp).
// As with AES, the process picks the fastest on first use and tests may
// switch with GhashSelectEngine at any time.
#pragma once

#include <cstddef>
#include <cstdint>

enum class GhashEngine {
    kPortable,
    kPclmul, // x86 carry-less multiplication (with SSE2, SSSE3 and SSE4.1)
};

// Whether this build and this CPU can run the engine.
bool GhashEngineAvailable(GhashEngine engine);
// The engine every GHASH in the process currently uses.
GhashEngine GhashActiveEngine();
// Makes every later GHASH in the process use the engine; false (and no
// change) when it is not available.
bool GhashSelectEngine(GhashEngine engine);

// Field elements are kept as two 64-bit words: `hi` is the first 8 bytes of
// the standard's byte string read big-endian, `lo` the last 8.  So the
// coefficient of z^i is bit 127 - i of the 128-bit number hi:lo, and a
// 128-bit SSE register loaded from the byte-reversed string holds lo in its
// low lane and hi in its high one.
struct XGhashElement {
    uint64_t lo;
    uint64_t hi;
};

// The hash key and its powers, as every implementation reads them.
class XGhashKey {
public:
    // The powers H^1 .. H^kPowers are precomputed for aggregated reduction
    // (up to sixteen blocks per reduction).
    static constexpr size_t kPowers = 16;

    // A zero key until SetKey.
    XGhashKey() = default;
    XGhashKey(const XGhashKey&) = delete;
    XGhashKey& operator=(const XGhashKey&) = delete;
    ~XGhashKey(); // wipes every power

    // h: the 16 bytes of E(K, 0^128).
    void SetKey(const uint8_t* h);

    // y (16 bytes, the standard's byte order) absorbs `count` whole blocks.
    void Update(uint8_t* y, const uint8_t* blocks, size_t count) const;

    // H^(i+1) * z^-1 for i < kPowers.  With this factor a product of two
    // elements read as 256-bit numbers needs no shift before its reduction
    // (see ghash.cpp).
    const XGhashElement* Powers() const { return powers_; }
    // powers_[i].lo ^ powers_[i].hi: the middle factor of a Karatsuba product.
    const uint64_t* Folded() const { return folded_; }

private:
    XGhashElement powers_[kPowers] = {};
    uint64_t folded_[kPowers] = {};
};
