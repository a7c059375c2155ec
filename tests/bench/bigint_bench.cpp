// Modular exponentiation of the big integers at the RSA sizes (512-, 1024-
// and 2048-bit moduli, full-length exponents, bases below the modulus) next
// to GMP's mpz_powm on the same numbers, then a table of the time ratios
// ours/GMP.
//
//   bin/zel_bigint_bench [--benchmark_filter=PowMod/2048] [other Google Benchmark flags]
//
// PowMod/<bits>/ours and .../gmp time each side on its own; odd moduli take
// the Montgomery path.  .../ours_limb32 is the 32-bit-limb build of the same
// code (what the i686 DLL runs), .../even_ours and .../even_gmp an even
// modulus (our long-division path).  PowMod/<bits>/ratio runs ours and GMP in
// turn within each iteration, each timed by the thread's processor clock, and
// reports their medians and the ratio, so that both sides see the same load
// on a busy machine; the table at the end is built from these.  Before
// timing, every pair is checked to give the same result; a pair that
// disagrees is reported as an error and gets no ratio.
#include "rsa/bigint.h"

#include <benchmark/benchmark.h>
#include <gmp.h>

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

double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

void Ratio(benchmark::State& state, unsigned bits)
{
    const Operands o = MakeOperands(bits, true);
    if (!SameAsGmp<XBigInt>(o)) {
        state.SkipWithError("result differs from GMP's");
        return;
    }
    const XBigInt base = Number<XBigInt>(o.base), exponent = Number<XBigInt>(o.exponent),
                  modulus = Number<XBigInt>(o.modulus);
    Mpz zb(o.base), ze(o.exponent), zm(o.modulus), result;
    std::vector<double> ours, theirs;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        XBigInt a = base;
        a.PowMod(exponent, modulus);
        benchmark::DoNotOptimize(a);
        const double t1 = ThreadSeconds();
        mpz_powm(result.get(), zb.get(), ze.get(), zm.get());
        benchmark::DoNotOptimize(result.get());
        const double t2 = ThreadSeconds();
        ours.push_back(t1 - t0);
        theirs.push_back(t2 - t1);
    }
    const double a = Median(ours), b = Median(theirs);
    state.counters["ours_us"] = a * 1e6;
    state.counters["gmp_us"] = b * 1e6;
    state.counters["ratio"] = b > 0 ? a / b : 0;
}

// Keeps the console output and collects the counters of the ratio runs by
// benchmark name (medians over repetitions when repeated).
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const auto ours = run.counters.find("ours_us"), gmp = run.counters.find("gmp_us");
            if (ours == run.counters.end() || gmp == run.counters.end())
                continue;
            const std::string name = run.run_name.function_name;
            if (run.run_type == Run::RT_Iteration) {
                ours_[name].push_back(ours->second.value);
                gmp_[name].push_back(gmp->second.value);
            } else if (run.aggregate_name == "median") {
                medians_[name] = {ours->second.value, gmp->second.value};
            }
        }
    }

    // Microseconds of ours and GMP's; false when the benchmark has no result.
    bool Times(const std::string& name, double& ours, double& gmp) const
    {
        const auto median = medians_.find(name);
        if (median != medians_.end()) {
            ours = median->second.first;
            gmp = median->second.second;
            return true;
        }
        const auto a = ours_.find(name), b = gmp_.find(name);
        if (a == ours_.end() || b == gmp_.end() || a->second.empty())
            return false;
        ours = Median(a->second);
        gmp = Median(b->second);
        return true;
    }

private:
    std::map<std::string, std::vector<double>> ours_, gmp_;
    std::map<std::string, std::pair<double, double>> medians_;
};

} // namespace

int main(int argc, char** argv)
{
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
        benchmark::RegisterBenchmark((prefix + "ratio").c_str(), Ratio, bits)->Unit(benchmark::kMicrosecond);
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    const double target = 2.0;
    std::printf("\n%-26s %12s %12s %7s   %s\n", "PowMod, odd modulus", "ours", "GMP", "ratio", "target");
    std::printf("(full-length exponent; medians of processor time, ours and GMP in turn; %u-bit limbs)\n",
                XBigInt::kLimbBits);
    for (unsigned bits : sizes) {
        const std::string name = "PowMod/" + std::to_string(bits) + "/ratio";
        const std::string label = std::to_string(bits) + "-bit modulus";
        double ours = 0, gmp = 0;
        if (!reporter.Times(name, ours, gmp) || gmp <= 0) {
            std::printf("%-26s no result\n", label.c_str());
            continue;
        }
        const double ratio = ours / gmp;
        std::printf("%-26s %9.1f us %9.1f us %7.2f   <= %.1f%s\n", label.c_str(), ours, gmp, ratio, target,
                    ratio <= target ? "" : "  ABOVE TARGET");
    }
    return 0;
}
