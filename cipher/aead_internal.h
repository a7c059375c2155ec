// What the AEAD modes (ocb.cpp, eax.cpp, gcm.cpp) share.  Internal to cipher/.
#pragma once

#include "cipher/aead.h"
#include "cipher/aes.h"
#include "core/bytes.h"

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

namespace aead_internal {

constexpr size_t kBlock = 16;
// Blocks handed to the engine per call where the mode computes a block's
// input itself (OCB's offsets, counters): enough for the AES instructions'
// eight-block groups to run several times, small enough to stay in L1.
constexpr size_t kBatchBlocks = 32;

std::unique_ptr<XAead> MakeOcb(std::unique_ptr<XBlockCipher> engine);
std::unique_ptr<XAead> MakeEax(std::unique_ptr<XBlockCipher> engine);
std::unique_ptr<XAead> MakeGcm(std::unique_ptr<XBlockCipher> engine);

// The engine as XAes when it is one (for the AES modes' own vector loops), else null.
const XAes* AsAes(const XBlockCipher& engine);
// Whether the process runs AES on the AES instructions, on 256-bit vectors,
// and GHASH on the carry-less multiply.
bool FastAes();
bool WideAes();
bool FastGhash();

// A 16-byte block as two words in memory order: XOR is all the modes do with
// them outside the engine and the doubling below.
struct Block {
    uint64_t w[2];
};

inline Block LoadBlock(const uint8_t* p)
{
    Block b;
    std::memcpy(b.w, p, 16);
    return b;
}

inline void StoreBlock(uint8_t* p, const Block& b)
{
    std::memcpy(p, b.w, 16);
}

inline Block operator^(const Block& a, const Block& b)
{
    return {{a.w[0] ^ b.w[0], a.w[1] ^ b.w[1]}};
}

inline Block& operator^=(Block& a, const Block& b)
{
    a.w[0] ^= b.w[0];
    a.w[1] ^= b.w[1];
    return a;
}

// Multiplication by x in GF(2^128) with the polynomial x^128 + x^7 + x^2 + x + 1,
// the string read as a big-endian number (OCB's and CMAC's doubling), in place.
void Double(uint8_t* block);

// Whether the two 16-byte tags are equal, in time independent of where they differ.
bool TagsEqual(const uint8_t* a, const uint8_t* b);

// Counter mode over n bytes: the keystream is the engine applied to `counter`,
// the counter advanced by one per block (k32: its last 32 bits modulo 2^32,
// k128: all 128 bits, big-endian).  `counter` ends as the next unused block
// when n is whole blocks.
enum class Counter { k32, k128 };
void CounterMode(const XBlockCipher& engine, const XAes* aes, Counter kind, uint8_t* counter, const uint8_t* in,
                 uint8_t* out, size_t n);

// Raises std::invalid_argument unless pointer is set or length is 0.
void RequireBuffer(const void* pointer, size_t length, const char* what);

} // namespace aead_internal
