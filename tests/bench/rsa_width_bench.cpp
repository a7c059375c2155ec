// The RSA-2048 private operation and PowMod 2048 on the engine's two limb
// widths and each 32-bit-limb Montgomery kernel, in one process, with the
// engine alone (no peers): one program built natively
// (bin/zel_rsa_width_bench) and by both Windows trees (bin/rsa_width_bench.exe,
// run under Wine), so that the i686 and the x86-64 engines are timed by the
// same code.
//
//   rsa_width_bench [rounds]
//
// Rows:
//   crt/<limbs>/<kernel>   the private operation's exponentiations as the
//                          engine runs them (both CRT halves by PowModSecret,
//                          Garner's recombination), on XBigIntT<uint32_t> or
//                          XBigIntT<uint64_t>
//   powmod/<limbs>/<kernel>  x^e mod n, full 2048-bit exponent (PowMod)
//   crt/64/<kernel>, powmod/64/<kernel>  the same on 64-bit limbs, for each
//                          64-bit kernel the CPU has (the chosen one first)
//   private/<kernel>       XRsa's whole private operation (blinding, CRT,
//                          result check) on this build's XBigInt; the kernel
//                          matters only where XBigInt has 32-bit limbs (i686)
// Every round runs every row once, in turn, so that all rows see the same
// load; the table gives each row's median time and its ratio to the
// reference row (the 64-bit limbs where the build has them).  Before timing,
// every row's result is checked against the others'.
#include "rsa/bigint.h"
#include "rsa/rsa.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#if defined(__linux__)
#include <ctime>
#endif

namespace {

double Seconds()
{
#if defined(__linux__)
    // The thread's processor time: other work on a shared machine does not count.
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
#else
    return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
#endif
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

#if ZEL_BIGINT_HAVE_LIMB64
const char* WideKernelName(XBigIntKernel kernel)
{
    switch (kernel) {
    case XBigIntKernel::kIfma:
        return "ifma";
    case XBigIntKernel::kAdx:
        return "adx";
    default:
        return "portable";
    }
}
#endif

const char* KernelName(XBigIntNarrowKernel kernel)
{
    switch (kernel) {
    case XBigIntNarrowKernel::kSse2:
        return "sse2";
    case XBigIntNarrowKernel::kAvx2:
        return "avx2";
    default:
        return "portable";
    }
}

XBlob Text(const char* s)
{
    XBlob x;
    x.AppendBytes(s, uint32_t(std::string(s).size()));
    return x;
}

template <typename Num>
Num Convert(const XBigInt& x)
{
    Num y;
    y.FromBytes(x.ToBytes(0));
    return y;
}

// The key's values at one limb width.
template <typename Num>
struct CrtKey {
    Num p, q, dP, dQ, qInv;
    explicit CrtKey(const XRsa& rsa)
        : p(Convert<Num>(rsa.P())), q(Convert<Num>(rsa.Q())), dP(Convert<Num>(rsa.DP())),
          dQ(Convert<Num>(rsa.DQ())), qInv(Convert<Num>(rsa.QInv()))
    {
    }
};

// The steps of XRsa::CrtPower.
template <typename Num>
Num CrtPower(const Num& x, const CrtKey<Num>& key)
{
    Num m1(x), m2(x);
    m1.Modulo(key.p);
    m1.PowModSecret(key.dP, key.p);
    m2.Modulo(key.q);
    m2.PowModSecret(key.dQ, key.q);
    Num t(m2);
    t.Modulo(key.p);
    if (m1 >= t) {
        m1.Subtract(t);
        t = std::move(m1);
    } else {
        Num u(key.p);
        u.Subtract(t);
        u.Add(m1);
        t = std::move(u);
    }
    t.MulMod(key.qInv, key.p);
    t.Multiply(key.q);
    t.Add(m2);
    return t;
}

struct Row {
    std::string name;
    std::function<XBlob()> run; // returns the result, compared across rows of a kind
    std::string kind;
    std::vector<double> times;
};

} // namespace

int main(int argc, char** argv)
{
    const int rounds = argc > 1 ? std::max(1, std::atoi(argv[1])) : 25;
    const XBigIntNarrowKernel savedKernel = XBigIntActiveNarrowKernel();
    const XBigIntKernel savedWideKernel = XBigIntActiveKernel();

    XRsa rsa;
    rsa.Keygen(Text("width bench seed one"), Text("width bench seed two"), 256);
    const XBigInt& n = rsa.N();
    // A base and a full-length exponent below n, fixed.
    XBigInt x, exponent(n);
    x.FromBytes(Text("a block for the private operation, below the modulus, fixed for every row of the table"));
    exponent.SubtractSmall(12345);

    std::vector<XBigIntNarrowKernel> kernels;
    for (XBigIntNarrowKernel k :
         {XBigIntNarrowKernel::kPortable, XBigIntNarrowKernel::kSse2, XBigIntNarrowKernel::kAvx2}) {
        if (XBigIntNarrowKernelAvailable(k))
            kernels.push_back(k);
    }

    std::vector<Row> rows;
    const CrtKey<XBigIntT<uint32_t>> key32(rsa);
    const XBigIntT<uint32_t> x32 = Convert<XBigIntT<uint32_t>>(x), e32 = Convert<XBigIntT<uint32_t>>(exponent),
                             n32 = Convert<XBigIntT<uint32_t>>(n);
#if ZEL_BIGINT_HAVE_LIMB64
    const CrtKey<XBigIntT<uint64_t>> key64(rsa);
    const XBigIntT<uint64_t> x64 = Convert<XBigIntT<uint64_t>>(x), e64 = Convert<XBigIntT<uint64_t>>(exponent),
                             n64 = Convert<XBigIntT<uint64_t>>(n);
    // Each 64-bit kernel the CPU has, the one the process chose first (the
    // reference: what the x86-64 DLL runs here), then the others below it
    // (ADX is what a CPU without IFMA runs).
    std::vector<XBigIntKernel> wideKernels{savedWideKernel};
    for (XBigIntKernel k : {XBigIntKernel::kIfma, XBigIntKernel::kAdx, XBigIntKernel::kPortable}) {
        if (k != savedWideKernel && XBigIntKernelAvailable(k))
            wideKernels.push_back(k);
    }
    for (XBigIntKernel k : wideKernels) {
        const std::string name = WideKernelName(k);
        rows.push_back({"crt/64/" + name, [&, k] {
                            XBigIntSelectKernel(k);
                            return CrtPower(x64, key64).ToBytes(256);
                        },
                        "crt", {}});
        rows.push_back({"powmod/64/" + name, [&, k] {
                            XBigIntSelectKernel(k);
                            XBigIntT<uint64_t> y(x64);
                            y.PowMod(e64, n64);
                            return y.ToBytes(256);
                        },
                        "powmod", {}});
    }
    XBigIntSelectKernel(savedWideKernel);
#endif
    for (XBigIntNarrowKernel k : kernels) {
        const std::string name = KernelName(k);
        rows.push_back({"crt/32/" + name, [&, k] {
                            XBigIntSelectNarrowKernel(k);
                            return CrtPower(x32, key32).ToBytes(256);
                        },
                        "crt", {}});
        rows.push_back({"powmod/32/" + name, [&, k] {
                            XBigIntSelectNarrowKernel(k);
                            XBigIntT<uint32_t> y(x32);
                            y.PowMod(e32, n32);
                            return y.ToBytes(256);
                        },
                        "powmod", {}});
    }
    // The whole private operation of this build's engine (blinding, CRT and
    // the result check); with 32-bit limbs once per kernel.
    const bool narrowEngine = XBigInt::kLimbBits == 32;
    for (XBigIntNarrowKernel k : narrowEngine ? kernels : std::vector<XBigIntNarrowKernel>{savedKernel}) {
        rows.push_back({std::string("private/") + (narrowEngine ? KernelName(k) : "64"), [&, k] {
                            XBigIntSelectNarrowKernel(k);
                            XBigIntSelectKernel(savedWideKernel);
                            XBigInt y(x);
                            rsa.ApplyPrivate(y);
                            return y.ToBytes(256);
                        },
                        "private", {}});
    }

    // Every row of a kind must give the same result (the private rows the
    // same as the CRT rows).
    XBlob expected = CrtPower(x32, key32).ToBytes(256);
    XBigIntT<uint32_t> power(x32);
    power.PowMod(e32, n32);
    const XBlob expectedPower = power.ToBytes(256);
    bool agree = true;
    for (Row& row : rows) {
        const XBlob result = row.run();
        if (!(result == (row.kind == "powmod" ? expectedPower : expected))) {
            std::printf("%s: result differs from the others\n", row.name.c_str());
            agree = false;
        }
    }
    if (!agree)
        return 1;

    for (int r = 0; r < rounds; ++r) {
        for (Row& row : rows) {
            const double t0 = Seconds();
            const XBlob result = row.run();
            const double t1 = Seconds();
            row.times.push_back(t1 - t0);
        }
    }
    XBigIntSelectNarrowKernel(savedKernel);
    XBigIntSelectKernel(savedWideKernel);

    std::printf("RSA-2048 and PowMod 2048 by limb width and 32-bit kernel: this build's XBigInt has %u-bit "
                "limbs; default 32-bit kernel %s; medians of %d interleaved rounds\n",
                XBigInt::kLimbBits, KernelName(savedKernel), rounds);
    std::printf("%-22s %12s %10s\n", "row", "median us", "/ ref");
    for (const char* kind : {"crt", "powmod", "private"}) {
        double reference = 0;
        for (const Row& row : rows) {
            if (row.kind != kind)
                continue;
            const double m = Median(row.times) * 1e6;
            if (reference == 0)
                reference = m; // the first row of a kind: 64-bit limbs, or the portable kernel
            std::printf("%-22s %12.1f %10.2f\n", row.name.c_str(), m, m / reference);
        }
    }
    return 0;
}
