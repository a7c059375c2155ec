#include "hash/cpu_features.h"

#if ZEL_HASH_X86
#include <cpuid.h>
#endif

namespace {

#if ZEL_HASH_X86
bool DetectShaExtensions()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    const bool ssse3 = ecx & bit_SSSE3;
    const bool sse41 = ecx & bit_SSE4_1;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const bool sha = ebx & bit_SHA;
    return ssse3 && sse41 && sha;
}

bool DetectAvx2()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid(1, &eax, &ebx, &ecx, &edx))
        return false;
    if (!(ecx & bit_OSXSAVE) || !(ecx & bit_AVX))
        return false;
    // XCR0: the operating system saves the SSE (bit 1) and AVX (bit 2) state.
    unsigned xcr0Low, xcr0High;
    __asm__("xgetbv" : "=a"(xcr0Low), "=d"(xcr0High) : "c"(0));
    if ((xcr0Low & 6) != 6)
        return false;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return ebx & bit_AVX2;
}

bool DetectBmi2()
{
    unsigned eax, ebx, ecx, edx;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    return ebx & bit_BMI2;
}
#endif

} // namespace

bool CpuHasShaExtensions()
{
#if ZEL_HASH_X86
    // Function-local static: detected once, thread-safe.
    static const bool present = DetectShaExtensions();
    return present;
#else
    return false;
#endif
}

bool CpuHasAvx2()
{
#if ZEL_HASH_X86
    static const bool present = DetectAvx2();
    return present;
#else
    return false;
#endif
}

bool CpuHasAvx2Bmi2()
{
#if ZEL_HASH_X86
    static const bool present = DetectAvx2() && DetectBmi2();
    return present;
#else
    return false;
#endif
}
