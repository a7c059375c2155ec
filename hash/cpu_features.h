// What the x86 CPU the process runs on offers, for the digests (and
// Argon2's block compression) that have a faster path there.  Detected
// once, on first use; false on other CPUs and with compilers other than
// GCC and clang.
#pragma once

#if defined(__GNUC__) && (defined(__x86_64__) || defined(__i386__))
#define ZEL_HASH_X86 1
#else
#define ZEL_HASH_X86 0
#endif

// The SHA extensions (SHA-1 and SHA-256 instructions) with SSSE3 and SSE4.1.
bool CpuHasShaExtensions();
// AVX2 with the operating system saving the AVX registers.
bool CpuHasAvx2();
// The same, and BMI2.
bool CpuHasAvx2Bmi2();
