// --kernel=portable|adx|ifma for the big-integer benchmarks.
#pragma once

#include "rsa/bigint.h"

#include <cstdio>
#include <string>

// Takes --kernel=... out of the arguments (before Google Benchmark reads
// them) and runs our side on that big-integer kernel instead of the one the
// process chose.  False for an unknown or unavailable kernel.
inline bool TakeKernelArgument(int& argc, char** argv)
{
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg.rfind("--kernel=", 0) != 0)
            continue;
        const std::string name = arg.substr(9);
        const XBigIntKernel kernel = name == "portable" ? XBigIntKernel::kPortable
                                   : name == "adx"      ? XBigIntKernel::kAdx
                                                        : XBigIntKernel::kIfma;
        if ((name != "portable" && name != "adx" && name != "ifma") || !XBigIntSelectKernel(kernel)) {
            std::fprintf(stderr, "kernel %s: unknown or not available here\n", name.c_str());
            return false;
        }
        for (int j = i; j + 1 < argc; ++j)
            argv[j] = argv[j + 1];
        --argc;
        --i;
    }
    return true;
}
