// Digest and CRC throughput over a 1 MiB message: ours next to OpenSSL's EVP
// digests and zlib's crc32, PBKDF2 next to OpenSSL's PKCS5_PBKDF2_HMAC, then
// a table of the ratios ours/theirs.
//
//   bin/zel_hash_bench [--benchmark_repetitions=5] [other Google Benchmark flags]
//
// Before timing, every pair is checked to produce the same result; a pair
// that disagrees is reported as an error and gets no ratio.
#include "hash/crc.h"
#include "hash/digest.h"
#include "hash/hmac.h"
#include "hash/md5.h"
#include "hash/ripemd160.h"
#include "hash/s2k.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMessageSize = 1u << 20;

const XBlob& Message()
{
    static const XBlob message = [] {
        XBlob m(kMessageSize);
        m.SetLength(kMessageSize);
        std::mt19937 random(20240611);
        for (uint32_t i = 0; i < kMessageSize; ++i)
            m.At(i) = uint8_t(random());
        return m;
    }();
    return message;
}

std::vector<uint8_t> Bytes(const XBlob& b)
{
    return std::vector<uint8_t>(b.Data(), b.Data() + b.Length());
}

std::vector<uint8_t> OpensslDigest(const EVP_MD* md, const XBlob& m)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (!EVP_Digest(m.Data(), m.Length(), out, &length, md, nullptr))
        return {};
    return std::vector<uint8_t>(out, out + length);
}

// SHA-1 and SHA-256 on the SHA extensions and SHA-512 on AVX2 and BMI2, as
// far as this CPU has them (the process's own choice), or all portable.
void SelectShaEngines(bool fast)
{
    Sha1SelectEngine(fast && Sha1EngineAvailable(Sha1Engine::kShaExtensions) ? Sha1Engine::kShaExtensions
                                                                              : Sha1Engine::kPortable);
    Sha256SelectEngine(fast && Sha256EngineAvailable(Sha256Engine::kShaExtensions) ? Sha256Engine::kShaExtensions
                                                                                    : Sha256Engine::kPortable);
    Sha512SelectEngine(fast && Sha512EngineAvailable(Sha512Engine::kAvx2Bmi2) ? Sha512Engine::kAvx2Bmi2
                                                                               : Sha512Engine::kPortable);
}

// Our one-shot digest; the engines are selected for the duration.
void OursDigest(benchmark::State& state, DigestFunction digest, const EVP_MD* reference, bool fast)
{
    const XBlob& m = Message();
    SelectShaEngines(fast);
    if (Bytes(digest(m)) != OpensslDigest(reference, m)) {
        state.SkipWithError("digest differs from OpenSSL's");
        return;
    }
    for (auto _ : state) {
        XBlob d = digest(m);
        benchmark::DoNotOptimize(d.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

void OpensslBench(benchmark::State& state, const EVP_MD* md)
{
    const XBlob& m = Message();
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    for (auto _ : state) {
        EVP_Digest(m.Data(), m.Length(), out, &length, md, nullptr);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

uint32_t ZlibCrc32(const XBlob& m)
{
    return uint32_t(crc32(crc32(0, nullptr, 0), m.Data(), m.Length()));
}

void OursCrc32(benchmark::State& state)
{
    const XBlob& m = Message();
    if (XCrc32().Compute(m) != ZlibCrc32(m)) {
        state.SkipWithError("CRC-32 differs from zlib's");
        return;
    }
    for (auto _ : state) {
        XCrc32 crc;
        benchmark::DoNotOptimize(crc.Compute(m));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

void ZlibCrc32Bench(benchmark::State& state)
{
    const XBlob& m = Message();
    for (auto _ : state)
        benchmark::DoNotOptimize(ZlibCrc32(m));
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

void OursCrc24(benchmark::State& state)
{
    const XBlob& m = Message();
    // The byte-at-a-time form is the reference for the sliced one.
    XCrc24 bytewise;
    for (uint32_t i = 0; i < m.Length(); ++i)
        bytewise.UpdateByte(m.At(i));
    if (XCrc24().Compute(m) != bytewise.Value()) {
        state.SkipWithError("sliced CRC-24 differs from the byte-wise one");
        return;
    }
    for (auto _ : state) {
        XCrc24 crc;
        benchmark::DoNotOptimize(crc.Compute(m));
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

// The largest key derivation: SHA-1, one 20-byte digest, count byte 255
// (65,011,712 bytes of repeated salt and password), next to OpenSSL's SHA-1
// over the same bytes held in memory.
const XBlob& S2KPassword()
{
    static const XBlob password = [] {
        XBlob p;
        p.AssignText("correct horse battery staple");
        return p;
    }();
    return password;
}

const XBlob& S2KSalt()
{
    static const XBlob salt = [] {
        XBlob s;
        for (uint8_t b : {0x3a, 0x91, 0x07, 0xc4, 0x5e, 0x22, 0xf0, 0x6d})
            s.AppendByte(b);
        return s;
    }();
    return salt;
}

std::vector<uint8_t> S2KPreimage()
{
    std::vector<uint8_t> pattern(S2KSalt().Data(), S2KSalt().Data() + S2KSalt().Length());
    pattern.insert(pattern.end(), S2KPassword().Data(), S2KPassword().Data() + S2KPassword().Length());
    std::vector<uint8_t> preimage(S2KCount(255));
    for (size_t i = 0; i < preimage.size(); ++i)
        preimage[i] = pattern[i % pattern.size()];
    return preimage;
}

void OursS2K(benchmark::State& state)
{
    SelectShaEngines(true); // another benchmark may have left the portable one selected
    const std::vector<uint8_t> preimage = S2KPreimage();
    unsigned char expected[20];
    SHA1(preimage.data(), preimage.size(), expected);
    const XBlob key = S2KIterated(2, 20, S2KPassword(), S2KSalt(), 255);
    if (key.Length() != 20 || std::memcmp(key.Data(), expected, 20) != 0) {
        state.SkipWithError("S2K differs from OpenSSL's SHA-1 of the preimage");
        return;
    }
    for (auto _ : state) {
        XBlob k = S2KIterated(2, 20, S2KPassword(), S2KSalt(), 255);
        benchmark::DoNotOptimize(k.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(preimage.size()));
}

void OpensslS2K(benchmark::State& state)
{
    const std::vector<uint8_t> preimage = S2KPreimage();
    unsigned char out[20];
    for (auto _ : state) {
        SHA1(preimage.data(), preimage.size(), out);
        benchmark::DoNotOptimize(out);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(preimage.size()));
}

// PBKDF2-HMAC with 100,000 iterations and one digest of output, next to
// OpenSSL's PKCS5_PBKDF2_HMAC: the same password, salt and count.  The
// bytes "processed" are the two compressed blocks per iteration, so the
// ratio is the ratio of speeds.
constexpr uint32_t kPbkdf2Iterations = 100000;

void OursPbkdf2(benchmark::State& state, const char* hashName, const EVP_MD* md)
{
    SelectShaEngines(true); // another benchmark may have left the portable one selected
    const XHashAlgorithm* hash = FindHashAlgorithmByName(hashName);
    const uint32_t size = hash->digestSize;
    std::vector<uint8_t> expected(size);
    PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(S2KPassword().Data()), int(S2KPassword().Length()),
                      S2KSalt().Data(), int(S2KSalt().Length()), int(kPbkdf2Iterations), md, int(size),
                      expected.data());
    if (Bytes(Pbkdf2(*hash, S2KPassword(), S2KSalt(), kPbkdf2Iterations, size)) != expected) {
        state.SkipWithError("PBKDF2 differs from OpenSSL's");
        return;
    }
    for (auto _ : state) {
        XBlob key = Pbkdf2(*hash, S2KPassword(), S2KSalt(), kPbkdf2Iterations, size);
        benchmark::DoNotOptimize(key.Data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPbkdf2Iterations * 2 * hash->blockSize);
}

void OpensslPbkdf2(benchmark::State& state, const char* hashName, const EVP_MD* md)
{
    const XHashAlgorithm* hash = FindHashAlgorithmByName(hashName);
    std::vector<uint8_t> key(hash->digestSize);
    for (auto _ : state) {
        PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(S2KPassword().Data()), int(S2KPassword().Length()),
                          S2KSalt().Data(), int(S2KSalt().Length()), int(kPbkdf2Iterations), md, int(key.size()),
                          key.data());
        benchmark::DoNotOptimize(key.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kPbkdf2Iterations * 2 * hash->blockSize);
}

// Peak resident memory of one count-255 derivation above the baseline of a
// fresh child process (KiB), or -1 when it could not be measured.
long S2KPeakKilobytes()
{
    int fds[2];
    if (pipe(fds) != 0)
        return -1;
    const pid_t child = fork();
    if (child == 0) {
        close(fds[0]);
        struct rusage before = {}, after = {};
        getrusage(RUSAGE_SELF, &before);
        const XBlob key = S2KIterated(2, 20, S2KPassword(), S2KSalt(), 255);
        getrusage(RUSAGE_SELF, &after);
        const long grown = key.Length() == 20 ? after.ru_maxrss - before.ru_maxrss : -1;
        const ssize_t written = write(fds[1], &grown, sizeof grown);
        _exit(written == sizeof grown ? 0 : 1);
    }
    close(fds[1]);
    long grown = -1;
    if (child < 0 || read(fds[0], &grown, sizeof grown) != sizeof grown)
        grown = -1;
    close(fds[0]);
    if (child > 0)
        waitpid(child, nullptr, 0);
    return grown;
}

// Keeps the console output and collects bytes per second by benchmark name
// for the ratio table.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred)
                continue;
            const auto it = run.counters.find("bytes_per_second");
            if (it == run.counters.end())
                continue;
            if (run.run_type == Run::RT_Iteration)
                rates_[run.run_name.function_name].push_back(it->second.value);
            else if (run.aggregate_name == "median")
                medians_[run.run_name.function_name] = it->second.value;
        }
    }

    // Median over repetitions; 0 when the benchmark has no result.
    double Rate(const std::string& name) const
    {
        const auto median = medians_.find(name);
        if (median != medians_.end())
            return median->second;
        const auto it = rates_.find(name);
        if (it == rates_.end() || it->second.empty())
            return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

private:
    std::map<std::string, std::vector<double>> rates_;
    std::map<std::string, double> medians_;
};

void PrintRatio(const CollectingReporter& r, const char* label, const char* ours, const char* theirs,
                double target)
{
    const double a = r.Rate(ours), b = r.Rate(theirs);
    if (a == 0 || b == 0) {
        std::printf("%-22s no result\n", label);
        return;
    }
    std::printf("%-22s %9.0f MB/s %9.0f MB/s %7.2f", label, a / 1e6, b / 1e6, a / b);
    if (target > 0)
        std::printf("   >= %.2f%s", target, a / b >= target ? "" : "  BELOW TARGET");
    std::printf("\n");
}

void PrintRate(const CollectingReporter& r, const char* label, const char* ours, double targetBytesPerSecond)
{
    const double a = r.Rate(ours);
    if (a == 0) {
        std::printf("%-22s no result\n", label);
        return;
    }
    std::printf("%-22s %9.0f MB/s %14s %7s   >= %.0f MB/s%s\n", label, a / 1e6, "", "", targetBytesPerSecond / 1e6,
                a >= targetBytesPerSecond ? "" : "  BELOW TARGET");
}

} // namespace

int main(int argc, char** argv)
{
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    benchmark::RegisterBenchmark("MD5/ours", OursDigest, DigestMD5, EVP_md5(), true);
    benchmark::RegisterBenchmark("MD5/openssl", OpensslBench, EVP_md5());
    benchmark::RegisterBenchmark("SHA1/ours", OursDigest, DigestSHA1, EVP_sha1(), true);
    benchmark::RegisterBenchmark("SHA1/ours_portable", OursDigest, DigestSHA1, EVP_sha1(), false);
    benchmark::RegisterBenchmark("SHA1/openssl", OpensslBench, EVP_sha1());
    benchmark::RegisterBenchmark("RIPEMD160/ours", OursDigest, DigestRipemd160, EVP_ripemd160(), true);
    benchmark::RegisterBenchmark("RIPEMD160/openssl", OpensslBench, EVP_ripemd160());
    benchmark::RegisterBenchmark("SHA256/ours", OursDigest, DigestSHA256, EVP_sha256(), true);
    benchmark::RegisterBenchmark("SHA256/ours_portable", OursDigest, DigestSHA256, EVP_sha256(), false);
    benchmark::RegisterBenchmark("SHA256/openssl", OpensslBench, EVP_sha256());
    benchmark::RegisterBenchmark("SHA512/ours", OursDigest, DigestSHA512, EVP_sha512(), true);
    benchmark::RegisterBenchmark("SHA512/ours_portable", OursDigest, DigestSHA512, EVP_sha512(), false);
    benchmark::RegisterBenchmark("SHA512/openssl", OpensslBench, EVP_sha512());
    benchmark::RegisterBenchmark("SHA3_256/ours", OursDigest, DigestSHA3_256, EVP_sha3_256(), true);
    benchmark::RegisterBenchmark("SHA3_256/openssl", OpensslBench, EVP_sha3_256());
    benchmark::RegisterBenchmark("SHA3_512/ours", OursDigest, DigestSHA3_512, EVP_sha3_512(), true);
    benchmark::RegisterBenchmark("SHA3_512/openssl", OpensslBench, EVP_sha3_512());
    benchmark::RegisterBenchmark("CRC32/ours", OursCrc32);
    benchmark::RegisterBenchmark("CRC32/zlib", ZlibCrc32Bench);
    benchmark::RegisterBenchmark("CRC24/ours", OursCrc24);
    benchmark::RegisterBenchmark("S2K255/ours", OursS2K)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("S2K255/openssl", OpensslS2K)->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PBKDF2_SHA256/ours", OursPbkdf2, "SHA256", EVP_sha256())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PBKDF2_SHA256/openssl", OpensslPbkdf2, "SHA256", EVP_sha256())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PBKDF2_SHA512/ours", OursPbkdf2, "SHA512", EVP_sha512())
        ->Unit(benchmark::kMillisecond);
    benchmark::RegisterBenchmark("PBKDF2_SHA512/openssl", OpensslPbkdf2, "SHA512", EVP_sha512())
        ->Unit(benchmark::kMillisecond);

    // Before anything else grows the process, so the child starts lean.
    const long s2kPeak = S2KPeakKilobytes();

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    SelectShaEngines(true);

    std::printf("\n%-22s %14s %14s %7s   %s\n", "1 MiB message", "ours", "theirs", "ratio", "target");
    std::printf("(MB = 10^6 bytes; medians when repeated)\n");
    PrintRatio(reporter, "MD5 vs OpenSSL", "MD5/ours", "MD5/openssl", 0.9);
    PrintRatio(reporter, "SHA-1 vs OpenSSL", "SHA1/ours", "SHA1/openssl", 0.9);
    PrintRatio(reporter, "SHA-1 portable", "SHA1/ours_portable", "SHA1/openssl", 0.0);
    PrintRatio(reporter, "RIPEMD-160 vs OpenSSL", "RIPEMD160/ours", "RIPEMD160/openssl", 0.9);
    PrintRatio(reporter, "SHA-256 vs OpenSSL", "SHA256/ours", "SHA256/openssl", 0.9);
    PrintRatio(reporter, "SHA-256 portable", "SHA256/ours_portable", "SHA256/openssl", 0.0);
    PrintRatio(reporter, "SHA-512 vs OpenSSL", "SHA512/ours", "SHA512/openssl", 0.9);
    PrintRatio(reporter, "SHA-512 portable", "SHA512/ours_portable", "SHA512/openssl", 0.0);
    PrintRatio(reporter, "SHA3-256 vs OpenSSL", "SHA3_256/ours", "SHA3_256/openssl", 0.9);
    PrintRatio(reporter, "SHA3-512 vs OpenSSL", "SHA3_512/ours", "SHA3_512/openssl", 0.0);
    PrintRatio(reporter, "CRC-32 vs zlib", "CRC32/ours", "CRC32/zlib", 0.0);
    PrintRate(reporter, "CRC-32", "CRC32/ours", 2e9);
    PrintRate(reporter, "CRC-24", "CRC24/ours", 2e9);
    PrintRatio(reporter, "S2K 255 vs SHA-1 65 MB", "S2K255/ours", "S2K255/openssl", 1 / 1.1);
    if (s2kPeak < 0)
        std::printf("S2K 255 peak memory    not measured\n");
    else
        std::printf("S2K 255 peak memory    %ld KiB above baseline%s   <= 1024 KiB\n", s2kPeak,
                    s2kPeak <= 1024 ? "" : "  ABOVE TARGET");
    PrintRatio(reporter, "PBKDF2-SHA256 100000", "PBKDF2_SHA256/ours", "PBKDF2_SHA256/openssl", 0.9);
    PrintRatio(reporter, "PBKDF2-SHA512 100000", "PBKDF2_SHA512/ours", "PBKDF2_SHA512/openssl", 0.0);
    std::printf("engines: SHA-1 %s, SHA-256 %s, SHA-512 %s\n",
                Sha1ActiveEngine() == Sha1Engine::kShaExtensions ? "SHA extensions" : "portable",
                Sha256ActiveEngine() == Sha256Engine::kShaExtensions ? "SHA extensions" : "portable",
                Sha512ActiveEngine() == Sha512Engine::kAvx2Bmi2 ? "AVX2 and BMI2" : "portable");
    return 0;
}
