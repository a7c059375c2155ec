// Password key derivation: the OpenPGP string-to-key functions (simple,
// salted, iterated and salted) and a hash-independent seed expander.
#pragma once

#include "core/xblob.h"

#include <cstdint>

// Each S2K result has exactly `length` bytes: digests of (i zero bytes,
// preimage) for i = 0, 1, ..., cut to length.  Unknown hash ids throw
// XCryptoAlarm "Unsupported algorithm" before anything is hashed.
XBlob S2KSimple(uint8_t hash, uint32_t length, const XBlob& password);
XBlob S2KSalted(uint8_t hash, uint32_t length, const XBlob& password, const XBlob& salt);
XBlob S2KIterated(uint8_t hash, uint32_t length, const XBlob& password, const XBlob& salt, uint32_t passes);

// The number of bytes S2KIterated hashes per digest for a coded count, taken
// as a whole 32-bit value: (16 + (passes & 15)) << ((passes >> 4) + 6), the
// shift modulo 32 and the result modulo 2^32.
uint32_t S2KCount(uint32_t passes);

// MD5(t) then SHA-1(t), t = seed followed by the result so far, until `length`
// bytes stand; cut to length.
XBlob ExpandSeed(const XBlob& seed, uint32_t length);
