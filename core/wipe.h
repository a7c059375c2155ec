// Overwrites secrets (keys, schedules) with zeros in a way the compiler may
// not drop as a dead store.
#pragma once

#include <cstddef>

inline void SecureWipe(void* data, size_t length)
{
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (length--)
        *p++ = 0;
}
