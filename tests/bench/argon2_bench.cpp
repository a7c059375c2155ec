// Argon2id next to the peers on one machine, one thread each:
//   - 64 MiB, 3 passes, 4 lanes, 32-byte tag: what an OpenPGP message's
//     Argon2 S2K asks for, next to libargon2 (threads = 1) and libgcrypt
//     (no thread hooks: one thread);
//   - 64 MiB, 3 passes, 1 lane: the same, next to libsodium too, which
//     computes one lane only (and maps its memory with every page present
//     from the start, where the others take a page fault per 4 KiB page);
//   - 1 MiB, 3 passes, 1 lane: the blocks stay in the cache (and the heap
//     reuses them from one call to the next), so the time is the
//     compression's and not the memory's.
// Then a table of the times ours / peer (lower is better), against each
// peer and the fastest of them, in real time and in the process's CPU time
// (which includes the kernel's page-fault work; on a busy machine it is
// the steadier of the two).
//
//   bin/zel_argon2_bench [--benchmark_repetitions=7 --benchmark_enable_random_interleaving=true]
//                        [other Google Benchmark flags]
//
// Before timing, every implementation is checked to give our tag; one that
// disagrees is reported as an error and gets no ratio.
#include "hash/argon2.h"

#include <argon2.h>
#include <benchmark/benchmark.h>
#include <gcrypt.h>
#if ZEL_BENCH_SODIUM
#include <sodium.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <string>
#include <vector>

namespace {

struct Set {
    const char* name;
    uint32_t passes, lanes, memoryKiB;
};

const Set kSets[] = {
    {"64MiB_t3_p4", 3, 4, 65536},
    {"64MiB_t3_p1", 3, 1, 65536},
    {"1MiB_t3_p1", 3, 1, 1024},
};

constexpr uint32_t kTagLength = 32;

const char kPassword[] = "correct horse battery staple";
const uint8_t kSalt[16] = {0x3a, 0x91, 0x07, 0xc4, 0x5e, 0x22, 0xf0, 0x6d,
                           0x18, 0xb3, 0x4c, 0xe9, 0x75, 0x0a, 0xd6, 0x61};

XBlob PasswordBlob()
{
    XBlob b;
    b.AppendBytes(kPassword, uint32_t(std::strlen(kPassword)));
    return b;
}

XBlob SaltBlob()
{
    XBlob b;
    b.AppendBytes(kSalt, sizeof kSalt);
    return b;
}

std::vector<uint8_t> OursTag(const Set& s)
{
    const XBlob tag = Argon2(XArgon2Type::kId, PasswordBlob(), SaltBlob(), s.passes, s.lanes, s.memoryKiB, kTagLength);
    return std::vector<uint8_t>(tag.Data(), tag.Data() + tag.Length());
}

bool Libargon2(const Set& s, uint8_t* out)
{
    argon2_context c = {};
    c.out = out;
    c.outlen = kTagLength;
    c.pwd = reinterpret_cast<uint8_t*>(const_cast<char*>(kPassword));
    c.pwdlen = uint32_t(std::strlen(kPassword));
    c.salt = const_cast<uint8_t*>(kSalt);
    c.saltlen = sizeof kSalt;
    c.t_cost = s.passes;
    c.m_cost = s.memoryKiB;
    c.lanes = s.lanes;
    c.threads = 1;
    c.version = ARGON2_VERSION_13;
    return argon2_ctx(&c, Argon2_id) == ARGON2_OK;
}

bool Gcrypt(const Set& s, uint8_t* out)
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    if (!ready)
        return false;
    const unsigned long params[4] = {kTagLength, s.passes, s.memoryKiB, s.lanes};
    gcry_kdf_hd_t hd;
    if (gcry_kdf_open(&hd, GCRY_KDF_ARGON2, GCRY_KDF_ARGON2ID, params, 4, kPassword, std::strlen(kPassword), kSalt,
                      sizeof kSalt, nullptr, 0, nullptr, 0))
        return false;
    const bool ok = !gcry_kdf_compute(hd, nullptr) && !gcry_kdf_final(hd, kTagLength, out);
    gcry_kdf_close(hd);
    return ok;
}

#if ZEL_BENCH_SODIUM
bool Sodium(const Set& s, uint8_t* out)
{
    if (s.lanes != 1 || sodium_init() < 0)
        return false;
    return crypto_pwhash_argon2id(out, kTagLength, kPassword, std::strlen(kPassword), kSalt, s.passes,
                                  size_t(s.memoryKiB) * 1024, crypto_pwhash_argon2id_ALG_ARGON2ID13) == 0;
}
#endif

using PeerFn = bool (*)(const Set&, uint8_t*);

void OursBench(benchmark::State& state, const Set* s, bool fast)
{
    const Argon2Engine engine = fast && Argon2EngineAvailable(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2
                                                                                  : Argon2Engine::kPortable;
    Argon2SelectEngine(engine);
    uint8_t reference[kTagLength];
    if (!Libargon2(*s, reference) || OursTag(*s) != std::vector<uint8_t>(reference, reference + kTagLength)) {
        state.SkipWithError("tag differs from libargon2's");
        return;
    }
    const XBlob password = PasswordBlob(), salt = SaltBlob();
    for (auto _ : state) {
        XBlob tag = Argon2(XArgon2Type::kId, password, salt, s->passes, s->lanes, s->memoryKiB, kTagLength);
        benchmark::DoNotOptimize(tag.Data());
    }
    Argon2SelectEngine(Argon2EngineAvailable(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2 : Argon2Engine::kPortable);
}

void PeerBench(benchmark::State& state, const Set* s, PeerFn peer)
{
    uint8_t out[kTagLength];
    if (!peer(*s, out) || OursTag(*s) != std::vector<uint8_t>(out, out + kTagLength)) {
        state.SkipWithError("tag differs from ours (or the peer failed)");
        return;
    }
    for (auto _ : state) {
        peer(*s, out);
        benchmark::DoNotOptimize(out);
    }
}

// Keeps the console output and collects the real and CPU time of one
// computation (ms) by benchmark name.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.iterations == 0)
                continue;
            const std::string name = run.run_name.function_name;
            const double real = run.real_accumulated_time * 1e3 / double(run.iterations);
            const double cpu = run.cpu_accumulated_time * 1e3 / double(run.iterations);
            if (run.run_type == Run::RT_Iteration) {
                real_[name].push_back(real);
                cpu_[name].push_back(cpu);
            }
        }
    }

    // Median over repetitions; 0 when the benchmark has no result.
    double Real(const std::string& name) const { return Median(real_, name); }
    double Cpu(const std::string& name) const { return Median(cpu_, name); }

private:
    static double Median(const std::map<std::string, std::vector<double>>& m, const std::string& name)
    {
        const auto it = m.find(name);
        if (it == m.end() || it->second.empty())
            return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    std::map<std::string, std::vector<double>> real_;
    std::map<std::string, std::vector<double>> cpu_;
};

struct Peer {
    const char* name;
    PeerFn fn;
};

const Peer kPeers[] = {
    {"libargon2", Libargon2},
    {"libgcrypt", Gcrypt},
#if ZEL_BENCH_SODIUM
    {"libsodium", Sodium},
#endif
};

void PrintRatio(const CollectingReporter& r, const std::string& ours, const std::string& theirs, const char* label,
                double target)
{
    const double a = r.Real(ours), b = r.Real(theirs), ac = r.Cpu(ours), bc = r.Cpu(theirs);
    if (a == 0 || b == 0) {
        std::printf("  %-28s no result\n", label);
        return;
    }
    std::printf("  %-28s %9.1f %9.1f %7.2f %9.1f %9.1f %7.2f", label, a, b, a / b, ac, bc, ac / bc);
    if (target > 0)
        std::printf("   <= %.2f%s", target, a / b <= target ? "" : "  ABOVE TARGET");
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    for (const Set& s : kSets) {
        const std::string base = std::string("Argon2id_") + s.name + "/";
        benchmark::RegisterBenchmark((base + "ours").c_str(), OursBench, &s, true)->Unit(benchmark::kMillisecond);
        benchmark::RegisterBenchmark((base + "ours_portable").c_str(), OursBench, &s, false)
            ->Unit(benchmark::kMillisecond);
        for (const Peer& p : kPeers) {
            if (std::strcmp(p.name, "libsodium") == 0 && s.lanes != 1)
                continue; // one lane only
            benchmark::RegisterBenchmark((base + p.name).c_str(), PeerBench, &s, p.fn)->Unit(benchmark::kMillisecond);
        }
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\nArgon2id, one thread: time of one derivation in ms (medians when repeated), ours / peer\n");
    std::printf("  %-28s %9s %9s %7s %9s %9s %7s   %s\n", "", "real ours", "peer", "ratio", "cpu ours", "peer",
                "ratio", "target");
    for (const Set& s : kSets) {
        const std::string base = std::string("Argon2id_") + s.name + "/";
        std::printf("%s (engine: %s)\n", s.name, Argon2ActiveEngine() == Argon2Engine::kAvx2 ? "AVX2" : "portable");
        std::string best;
        for (const Peer& p : kPeers) {
            const double t = reporter.Real(base + p.name);
            if (t == 0)
                continue;
            PrintRatio(reporter, base + "ours", base + p.name, (std::string("vs ") + p.name).c_str(), 0);
            if (best.empty() || t < reporter.Real(best))
                best = base + p.name;
        }
        for (const Peer& p : kPeers)
            if (reporter.Real(base + p.name) != 0)
                PrintRatio(reporter, base + "ours_portable", base + p.name,
                           (std::string("portable vs ") + p.name).c_str(), 0);
        if (!best.empty())
            PrintRatio(reporter, base + "ours", best, ("vs fastest (" + best.substr(base.size()) + ")").c_str(),
                       std::strcmp(s.name, "64MiB_t3_p4") == 0 ? 1.2 : 0);
    }
    return 0;
}
