// The operating system's cryptographic generator for the engine's random
// bytes, in the Windows build (entropy_posix.cpp serves the others).
#if defined(_WIN32)
#include "random/random.h"

#include <windows.h>
#include <ntsecapi.h>

#include <stdexcept>

void SystemEntropy(uint8_t* out, size_t length)
{
    while (length > 0) {
        const ULONG chunk = length > 0x10000 ? 0x10000 : ULONG(length);
        if (!RtlGenRandom(out, chunk))
            throw std::runtime_error("RtlGenRandom failed");
        out += chunk;
        length -= chunk;
    }
}

#endif // _WIN32
