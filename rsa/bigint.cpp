// XBigInt: the class template at the limb width of this build, and the
// choice of the row-product kernel.
#include "rsa/bigint_impl.h"

#if ZEL_BIGINT_ADX
#include <cpuid.h>
#endif

template class XBigIntT<XBigIntLimb>;

namespace {

bool CpuHasAdx()
{
#if ZEL_BIGINT_ADX
    unsigned eax = 0, ebx = 0, ecx = 0, edx = 0;
    if (!__get_cpuid_count(7, 0, &eax, &ebx, &ecx, &edx))
        return false;
    const unsigned kBmi2 = 1u << 8, kAdx = 1u << 19;
    return (ebx & (kBmi2 | kAdx)) == (kBmi2 | kAdx);
#else
    return false;
#endif
}

} // namespace

#if ZEL_BIGINT_ADX
std::atomic<bool> zel_bigint::g_adxKernel{CpuHasAdx()};
#endif
#if ZEL_BIGINT_IFMA
// The IFMA powers go with the ADX rows for everything else.
std::atomic<bool> zel_bigint::g_ifmaKernel{CpuHasAdx() && zel_bigint::ifma::CpuSupported()};
#endif

bool XBigIntKernelAvailable(XBigIntKernel kernel)
{
    if (kernel == XBigIntKernel::kIfma)
        return CpuHasAdx() && zel_bigint::ifma::CpuSupported();
    return kernel == XBigIntKernel::kPortable || CpuHasAdx();
}

XBigIntKernel XBigIntActiveKernel()
{
#if ZEL_BIGINT_IFMA
    if (zel_bigint::g_ifmaKernel.load(std::memory_order_relaxed))
        return XBigIntKernel::kIfma;
#endif
#if ZEL_BIGINT_ADX
    if (zel_bigint::g_adxKernel.load(std::memory_order_relaxed))
        return XBigIntKernel::kAdx;
#endif
    return XBigIntKernel::kPortable;
}

bool XBigIntSelectKernel(XBigIntKernel kernel)
{
    if (!XBigIntKernelAvailable(kernel))
        return false;
#if ZEL_BIGINT_ADX
    zel_bigint::g_adxKernel.store(kernel == XBigIntKernel::kAdx || kernel == XBigIntKernel::kIfma,
                                  std::memory_order_relaxed);
#endif
#if ZEL_BIGINT_IFMA
    zel_bigint::g_ifmaKernel.store(kernel == XBigIntKernel::kIfma, std::memory_order_relaxed);
#endif
    return true;
}
