// Modular exponentiation of the big integers at the RSA sizes (512-, 1024-
// and 2048-bit moduli, full-length exponents, bases below the modulus) next
// to GMP (mpz_powm, mpz_powm_sec) and OpenSSL's BN (BN_mod_exp_mont,
// BN_mod_exp_mont_consttime) on the same numbers, then a table of our time
// over the best peer's.
//
//   bin/zel_bigint_bench [--kernel=portable|adx|ifma] [--benchmark_filter=PowMod/2048] [other flags]
//
// PowMod/<bits>/ours and .../gmp time each side on its own; odd moduli take
// the Montgomery path.  .../ours_limb32 is the 32-bit-limb build of the same
// code (what the i686 DLL runs), .../even_ours and .../even_gmp an even
// modulus (our long-division path).  PowMod/<bits>/ratio runs ours (PowMod),
// mpz_powm and BN_mod_exp_mont in turn within each iteration, each timed by
// the thread's processor clock, and reports their medians, so that all see
// the same load on a busy machine; PowModSecret/<bits>/ratio does the same
// for the exponentiation with a secret exponent (PowModSecret, mpz_powm_sec,
// BN_mod_exp_mont_consttime).  Each call starts from the numbers alone (no
// Montgomery context kept between calls) on every side.  The table at the
// end is built from these, with the kernel our side ran.  Before timing,
// every side is checked to give GMP's result; a side that disagrees is
// reported as an error and gets no ratio.
#include "rsa/bigint.h"
#include "tests/bench/bench_rounds.h"
#include "tests/bench/bench_kernel_argument.h"

#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/bn.h>

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

using Bytes = std::vector<uint8_t>;

// The operands of one size: modulus with its top bit set (odd or even),
// exponent with its top bit set, base below the modulus.
struct Operands {
    Bytes base, exponent, modulus;
};

Operands MakeOperands(unsigned bits, bool odd)
{
    std::mt19937_64 random(0xB161 + bits + (odd ? 0 : 1));
    Operands o;
    for (unsigned i = 0; i < bits / 8; ++i) {
        o.base.push_back(uint8_t(random()));
        o.exponent.push_back(uint8_t(random()));
        o.modulus.push_back(uint8_t(random()));
    }
    o.modulus.front() |= 0x80;
    o.modulus.back() = uint8_t(odd ? o.modulus.back() | 1 : o.modulus.back() & 0xfe);
    o.exponent.front() |= 0x80;
    o.base.front() &= 0x7f;
    return o;
}

XBlob Blob(const Bytes& b)
{
    XBlob x;
    x.AppendBytes(b.data(), uint32_t(b.size()));
    return x;
}

template <typename Num>
Num Number(const Bytes& b)
{
    Num n;
    n.FromBytes(Blob(b));
    return n;
}

class Mpz {
public:
    Mpz() { mpz_init(z_); }
    explicit Mpz(const Bytes& b)
    {
        mpz_init(z_);
        mpz_import(z_, b.size(), 1, 1, 1, 0, b.data());
    }
    Mpz(const Mpz&) = delete;
    Mpz& operator=(const Mpz&) = delete;
    ~Mpz() { mpz_clear(z_); }
    mpz_ptr get() { return z_; }

private:
    mpz_t z_;
};

// Our power as bytes, and whether it equals GMP's.
template <typename Num>
bool SameAsGmp(const Operands& o)
{
    Num a = Number<Num>(o.base);
    a.PowMod(Number<Num>(o.exponent), Number<Num>(o.modulus));
    Mpz base(o.base), exponent(o.exponent), modulus(o.modulus), result;
    mpz_powm(result.get(), base.get(), exponent.get(), modulus.get());
    const XBlob ours = a.ToBytes(uint32_t(o.modulus.size()));
    Mpz oursAsMpz(Bytes(ours.Data(), ours.Data() + ours.Length()));
    return mpz_cmp(oursAsMpz.get(), result.get()) == 0;
}

template <typename Num>
void Ours(benchmark::State& state, unsigned bits, bool odd)
{
    const Operands o = MakeOperands(bits, odd);
    if (!SameAsGmp<Num>(o)) {
        state.SkipWithError("result differs from GMP's");
        return;
    }
    const Num base = Number<Num>(o.base), exponent = Number<Num>(o.exponent), modulus = Number<Num>(o.modulus);
    for (auto _ : state) {
        Num a = base;
        a.PowMod(exponent, modulus);
        benchmark::DoNotOptimize(a);
    }
}

void Gmp(benchmark::State& state, unsigned bits, bool odd)
{
    const Operands o = MakeOperands(bits, odd);
    Mpz base(o.base), exponent(o.exponent), modulus(o.modulus), result;
    for (auto _ : state) {
        mpz_powm(result.get(), base.get(), exponent.get(), modulus.get());
        benchmark::DoNotOptimize(result.get());
    }
}

// OpenSSL's BN numbers of one size, and its exponentiation.
struct Bn {
    BIGNUM* base = nullptr;
    BIGNUM* exponent = nullptr;
    BIGNUM* modulus = nullptr;
    BIGNUM* result = BN_new();
    BN_CTX* ctx = BN_CTX_new();

    explicit Bn(const Operands& o)
        : base(BN_bin2bn(o.base.data(), int(o.base.size()), nullptr)),
          exponent(BN_bin2bn(o.exponent.data(), int(o.exponent.size()), nullptr)),
          modulus(BN_bin2bn(o.modulus.data(), int(o.modulus.size()), nullptr))
    {
    }
    Bn(const Bn&) = delete;
    Bn& operator=(const Bn&) = delete;
    ~Bn()
    {
        BN_free(base);
        BN_free(exponent);
        BN_free(modulus);
        BN_free(result);
        BN_CTX_free(ctx);
    }

    void Power(bool secret)
    {
        if (secret)
            BN_mod_exp_mont_consttime(result, base, exponent, modulus, ctx, nullptr);
        else
            BN_mod_exp_mont(result, base, exponent, modulus, ctx, nullptr);
    }

    Bytes Result(size_t length) const
    {
        Bytes out(length);
        BN_bn2binpad(result, out.data(), int(length));
        return out;
    }
};

// Ours, GMP and OpenSSL in turn: PowMod, mpz_powm and BN_mod_exp_mont, or
// (secret) PowModSecret, mpz_powm_sec and BN_mod_exp_mont_consttime.
void Ratio(benchmark::State& state, unsigned bits, bool secret)
{
    const Operands o = MakeOperands(bits, true);
    const XBigInt base = Number<XBigInt>(o.base), exponent = Number<XBigInt>(o.exponent),
                  modulus = Number<XBigInt>(o.modulus);
    Mpz zb(o.base), ze(o.exponent), zm(o.modulus), result;
    Bn bn(o);
    auto ours = [&] {
        XBigInt a = base;
        if (secret)
            a.PowModSecret(exponent, modulus);
        else
            a.PowMod(exponent, modulus);
        return a;
    };
    auto gmp = [&] {
        if (secret)
            mpz_powm_sec(result.get(), zb.get(), ze.get(), zm.get());
        else
            mpz_powm(result.get(), zb.get(), ze.get(), zm.get());
    };
    // Every side gives GMP's mpz_powm result.
    {
        Mpz expected;
        mpz_powm(expected.get(), zb.get(), ze.get(), zm.get());
        gmp();
        bn.Power(secret);
        const XBlob mine = ours().ToBytes(uint32_t(o.modulus.size()));
        Mpz oursAsMpz(Bytes(mine.Data(), mine.Data() + mine.Length())), bnAsMpz(bn.Result(o.modulus.size()));
        if (mpz_cmp(oursAsMpz.get(), expected.get()) != 0 || mpz_cmp(result.get(), expected.get()) != 0 ||
            mpz_cmp(bnAsMpz.get(), expected.get()) != 0) {
            state.SkipWithError("the results differ");
            return;
        }
    }
    std::vector<double> oursTimes, gmpTimes, opensslTimes;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        benchmark::DoNotOptimize(ours());
        const double t1 = ThreadSeconds();
        gmp();
        benchmark::DoNotOptimize(result.get());
        const double t2 = ThreadSeconds();
        bn.Power(secret);
        benchmark::DoNotOptimize(bn.result);
        const double t3 = ThreadSeconds();
        oursTimes.push_back(t1 - t0);
        gmpTimes.push_back(t2 - t1);
        opensslTimes.push_back(t3 - t2);
    }
    state.counters["ours_us"] = Median(oursTimes) * 1e6;
    state.counters["gmp_us"] = Median(gmpTimes) * 1e6;
    state.counters["openssl_us"] = Median(opensslTimes) * 1e6;
}

// Keeps the console output and collects the counters of the ratio runs by
// benchmark name (medians over repetitions when repeated).
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            for (const auto& counter : run.counters)
                values_[run.run_name.function_name][counter.first].push_back(counter.second.value);
        }
    }

    // The median over repetitions of one counter; false when missing.
    bool Value(const std::string& name, const std::string& counter, double& value) const
    {
        const auto run = values_.find(name);
        if (run == values_.end())
            return false;
        const auto c = run->second.find(counter);
        if (c == run->second.end() || c->second.empty())
            return false;
        value = Median(c->second);
        return true;
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> values_;
};

const char* KernelName()
{
    switch (XBigIntActiveKernel()) {
    case XBigIntKernel::kAdx:
        return "adx";
    case XBigIntKernel::kIfma:
        return "ifma";
    default:
        return "portable";
    }
}

} // namespace

int main(int argc, char** argv)
{
    if (!TakeKernelArgument(argc, argv))
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const unsigned sizes[] = {512, 1024, 2048};
    for (unsigned bits : sizes) {
        const std::string prefix = "PowMod/" + std::to_string(bits) + "/";
        benchmark::RegisterBenchmark((prefix + "ours").c_str(), Ours<XBigInt>, bits, true)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "gmp").c_str(), Gmp, bits, true)->Unit(benchmark::kMicrosecond);
#if ZEL_BIGINT_HAVE_LIMB64
        benchmark::RegisterBenchmark((prefix + "ours_limb32").c_str(), Ours<XBigIntT<uint32_t>>, bits, true)
            ->Unit(benchmark::kMicrosecond);
#endif
        benchmark::RegisterBenchmark((prefix + "even_ours").c_str(), Ours<XBigInt>, bits, false)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "even_gmp").c_str(), Gmp, bits, false)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "ratio").c_str(), Ratio, bits, false)
            ->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark(("PowModSecret/" + std::to_string(bits) + "/ratio").c_str(), Ratio, bits, true)
            ->Unit(benchmark::kMicrosecond);
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-26s %11s %11s %11s %10s   %s\n", "odd modulus", "ours", "GMP", "OpenSSL", "ours/best",
                "target");
    std::printf("(full-length exponent; medians of processor time, the three in turn; ours/best = our time over "
                "the faster peer's, lower is better; kernel %s, %u-bit limbs)\n",
                KernelName(), XBigInt::kLimbBits);
    for (const char* kind : {"PowMod", "PowModSecret"}) {
        for (unsigned bits : sizes) {
            const std::string name = std::string(kind) + "/" + std::to_string(bits) + "/ratio";
            const std::string label = std::string(kind) + " " + std::to_string(bits);
            double ours = 0, gmp = 0, openssl = 0;
            if (!reporter.Value(name, "ours_us", ours) || !reporter.Value(name, "gmp_us", gmp) ||
                !reporter.Value(name, "openssl_us", openssl) || gmp <= 0 || openssl <= 0) {
                std::printf("%-26s no result\n", label.c_str());
                continue;
            }
            const double ratio = ours / std::min(gmp, openssl);
            std::printf("%-26s %8.1f us %8.1f us %8.1f us %10.2f   <= 1.00 (best: %s)%s\n", label.c_str(), ours, gmp,
                        openssl, ratio, gmp <= openssl ? "GMP" : "OpenSSL", ratio <= 1.0 ? "" : "  ABOVE TARGET");
        }
    }
    return 0;
}
