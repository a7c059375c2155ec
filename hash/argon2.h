// Argon2 (RFC 9106, version 0x13): the memory-hard password hash in its
// three forms, d (data-dependent block order), i (data-independent) and id
// (independent for the first half pass, then dependent).
//
// The lanes are filled one after another in the calling thread, segment by
// segment, in the order that gives the same result as lanes run in
// parallel.  The block compression has two implementations: portable C++
// on 64-bit words, and on x86-64 CPUs with AVX2 one on 256-bit vectors.
// The process picks the fastest one available on first use; tests and
// benchmarks may switch with Argon2SelectEngine (both give identical tags).
#pragma once

#include "core/xblob.h"

#include <cstdint>

enum class XArgon2Type : uint8_t { kD = 0, kI = 1, kId = 2 };

// Argon2 version 0x13.  memoryKiB >= 8 * lanes (rounded down to a multiple
// of 4 * lanes), passes >= 1, lanes 1..2^24-1, tagLength >= 4, salt >= 8
// bytes; other values raise std::invalid_argument.  The memory is allocated
// once (std::bad_alloc when it cannot be) and wiped before it is freed.
XBlob Argon2(XArgon2Type type, const XBlob& password, const XBlob& salt, uint32_t passes, uint32_t lanes,
             uint32_t memoryKiB, uint32_t tagLength, const XBlob& secret = XBlob(0), const XBlob& ad = XBlob(0));

// H', the variable-length hash Argon2 builds on BLAKE2b: `length` bytes
// (1..2^32-1) of `input`.
XBlob Argon2VariableHash(const XBlob& input, uint32_t length);

enum class Argon2Engine {
    kPortable,
    kAvx2, // x86-64 with AVX2
};

// Whether this build and this CPU can run the engine.
bool Argon2EngineAvailable(Argon2Engine engine);
// The engine every later Argon2 computation in the process uses.
Argon2Engine Argon2ActiveEngine();
// Makes every later Argon2 computation use the engine.  Returns false, and
// changes nothing, when it is not available.
bool Argon2SelectEngine(Argon2Engine engine);
