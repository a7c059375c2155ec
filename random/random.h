// Random bytes: MD5 in counter mode over a 16-byte seed block made of the
// calendar time and 12 bytes from the operating system's generator.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>

// Fills `length` bytes from the operating system's cryptographic generator
// (getrandom on Linux; RtlGenRandom in the Windows DLLs, which provide it).
// Throws std::runtime_error when the system cannot deliver.
void SystemEntropy(uint8_t* out, size_t length);

// Where RandomBlob takes its inputs from; tests replace both.
struct XRandomSources {
    uint32_t (*clock)();                             // seconds since 1970
    void (*entropy)(uint8_t* out, size_t length);    // fills seed bytes 4..15
};

XRandomSources SystemRandomSources();

// `count` pseudo-random bytes: MD5(S), MD5(S+1), ... cut to count, where S is
// the seed block (time, big-endian, then 12 entropy bytes) plus MD5 of the
// time bytes, as 128-bit big-endian numbers.
XBlob RandomBlob(uint32_t count);
XBlob RandomBlob(uint32_t count, const XRandomSources& sources);
