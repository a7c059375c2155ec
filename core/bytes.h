// Loads and stores of 16-, 32- and 64-bit words in a named byte order, and
// rotations, and the XOR of byte strings, for every engine.  Each name says its byte order: Be for
// big-endian (most significant byte first, as OpenPGP, Blowfish, CAST,
// DES, SHA-1 and RIPEMD's length field write words), Le for little-endian
// (AES's state, Twofish, MD5, RIPEMD-160, CRC tables).  The byte-by-byte
// forms compile to single loads and stores (with a byte swap) on x86.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

inline uint16_t LoadBe16(const uint8_t* p)
{
    return uint16_t(uint16_t(p[0]) << 8 | p[1]);
}

inline uint16_t LoadLe16(const uint8_t* p)
{
    return uint16_t(p[0] | uint16_t(p[1]) << 8);
}

inline uint32_t LoadBe32(const uint8_t* p)
{
    return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

inline uint32_t LoadLe32(const uint8_t* p)
{
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

inline uint64_t LoadBe64(const uint8_t* p)
{
    return uint64_t(LoadBe32(p)) << 32 | LoadBe32(p + 4);
}

inline uint64_t LoadLe64(const uint8_t* p)
{
    return uint64_t(LoadLe32(p + 4)) << 32 | LoadLe32(p);
}

inline void StoreBe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v >> 8);
    p[1] = uint8_t(v);
}

inline void StoreLe16(uint8_t* p, uint16_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
}

inline void StoreBe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v >> 24);
    p[1] = uint8_t(v >> 16);
    p[2] = uint8_t(v >> 8);
    p[3] = uint8_t(v);
}

inline void StoreLe32(uint8_t* p, uint32_t v)
{
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

inline void StoreBe64(uint8_t* p, uint64_t v)
{
    StoreBe32(p, uint32_t(v >> 32));
    StoreBe32(p + 4, uint32_t(v));
}

inline void StoreLe64(uint8_t* p, uint64_t v)
{
    StoreLe32(p, uint32_t(v));
    StoreLe32(p + 4, uint32_t(v >> 32));
}

// Rotations by any count, taken modulo the word width (0 and 32 leave the
// word as it is; no shift by the full width, which C++ leaves undefined).
inline uint32_t Rotl32(uint32_t x, unsigned n)
{
    n &= 31;
    return (x << n) | (x >> ((32 - n) & 31));
}

inline uint32_t Rotr32(uint32_t x, unsigned n)
{
    n &= 31;
    return (x >> n) | (x << ((32 - n) & 31));
}

inline uint64_t Rotl64(uint64_t x, unsigned n)
{
    n &= 63;
    return (x << n) | (x >> ((64 - n) & 63));
}

inline uint64_t Rotr64(uint64_t x, unsigned n)
{
    n &= 63;
    return (x >> n) | (x << ((64 - n) & 63));
}

// out = a XOR b over n bytes, eight at a time where it can (out may be a or b).
inline void XorBytes(uint8_t* out, const uint8_t* a, const uint8_t* b, size_t n)
{
    size_t i = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t x, y;
        std::memcpy(&x, a + i, 8);
        std::memcpy(&y, b + i, 8);
        x ^= y;
        std::memcpy(out + i, &x, 8);
    }
    for (; i < n; ++i)
        out[i] = uint8_t(a[i] ^ b[i]);
}
