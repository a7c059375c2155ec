// Overwrites secrets (keys, schedules, freed buffers) with zeros in a way the
// compiler may not drop as a dead store.
#pragma once

#include <cstddef>
#include <cstring>

inline void SecureWipe(void* data, size_t length)
{
    if (length == 0)
        return;
#if defined(__GNUC__)
    // memset at full speed; the empty asm statement claims to read the
    // memory behind `data`, so the stores before it stay.
    std::memset(data, 0, length);
    __asm__ __volatile__("" : : "r"(data) : "memory");
#else
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (length--)
        *p++ = 0;
#endif
}
