// The big-integer kernels this build and CPU can run, their names, and a
// guard that puts the process's kernel back at the end of a test: for tests
// that run the same checks on every path.
#pragma once

#include "rsa/bigint.h"

#include <vector>

namespace bigint_kernels {

inline std::vector<XBigIntKernel> Available()
{
    std::vector<XBigIntKernel> kernels;
    for (XBigIntKernel kernel : {XBigIntKernel::kPortable, XBigIntKernel::kAdx, XBigIntKernel::kIfma})
        if (XBigIntKernelAvailable(kernel))
            kernels.push_back(kernel);
    return kernels;
}

inline const char* Name(XBigIntKernel kernel)
{
    switch (kernel) {
    case XBigIntKernel::kAdx:
        return "adx";
    case XBigIntKernel::kIfma:
        return "ifma";
    default:
        return "portable";
    }
}

class Guard {
public:
    Guard() : saved_(XBigIntActiveKernel()) {}
    ~Guard() { XBigIntSelectKernel(saved_); }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    XBigIntKernel saved_;
};

} // namespace bigint_kernels
