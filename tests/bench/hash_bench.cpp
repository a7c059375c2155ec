// Digest and CRC throughput over a 1 MiB message: ours next to OpenSSL's EVP
// digests, libgcrypt's digests and CRCs and zlib's crc32; the iterated
// string-to-key next to libgcrypt's and to OpenSSL's SHA-1 over the same
// bytes; PBKDF2 next to OpenSSL's PKCS5_PBKDF2_HMAC and libgcrypt's; then a
// table of each row's rates and ours / best peer.
//
//   bin/zel_hash_bench [--benchmark_filter=rounds] [other Google Benchmark flags]
//
// <Row>/ours and <Row>/openssl (and the like) run one implementation alone.
// <Row>/rounds runs ours and every peer in each iteration (one round), the
// order rotating from round to round, each timed by the thread's processor
// time; the table gives the medians of the per-round rates, and ours over
// the fastest peer of the row.  Before timing, every peer is checked to
// produce ours's result; a row where one disagrees is reported as an error
// and gets no ratio.
#include "hash/crc.h"
#include "hash/digest.h"
#include "hash/hmac.h"
#include "hash/md5.h"
#include "hash/ripemd160.h"
#include "hash/s2k.h"
#include "hash/sha1.h"
#include "hash/sha256.h"
#include "hash/sha512.h"
#include "tests/bench/bench_rounds.h"

#include <benchmark/benchmark.h>
#if ZEL_BENCH_GCRYPT
#include <gcrypt.h>
#endif
#include <openssl/evp.h>
#include <openssl/sha.h>
#include <zlib.h>

#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
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

// --- rounds: ours and every peer side by side ----------------------------------------

// One implementation of a row: `run` computes the result once (ours first
// in every row); the results are compared before anything is timed.
struct Contender {
    std::string name;
    std::function<std::vector<uint8_t>()> run;
};

struct RowResult {
    std::string label;
    double ours = 0; // bytes per second
    PeerRates peers;
    double target = 0; // ours / best peer at least this (0: none)
    bool failed = false;
};

// The rows in registration order, printed by main.
std::vector<RowResult>& RowResults()
{
    static std::vector<RowResult> rows;
    return rows;
}

// libgcrypt's digest numbers, 0 where it is not linked.
#if ZEL_BENCH_GCRYPT
#define ZEL_GCRY_MD(name) GCRY_MD_##name
#else
#define ZEL_GCRY_MD(name) 0
#endif

#if ZEL_BENCH_GCRYPT
bool GcryptReady()
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

std::vector<uint8_t> GcryptDigest(int algorithm, const uint8_t* data, size_t length)
{
    std::vector<uint8_t> out(gcry_md_get_algo_dlen(algorithm));
    gcry_md_hash_buffer(algorithm, out.data(), data, length);
    return out;
}
#endif

// Registers <name>/rounds: `bytes` is what one run processes (the rate's
// numerator).  `setup` runs first in the benchmark (engine selection),
// `teardown` after.
void RegisterRounds(const std::string& name, const std::string& label, double bytes, double target,
                    std::function<std::vector<Contender>()> contenders, std::function<void()> setup = [] {},
                    std::function<void()> teardown = [] {})
{
    const size_t index = RowResults().size();
    RowResults().push_back(RowResult{label, 0, {}, target, false});
    benchmark::RegisterBenchmark((name + "/rounds").c_str(), [=](benchmark::State& state) {
        setup();
        std::vector<Contender> list = contenders();
        const std::vector<uint8_t> reference = list[0].run();
        for (size_t i = 1; i < list.size(); ++i) {
            if (list[i].run() != reference) {
                RowResults()[index].failed = true;
                state.SkipWithError((list[i].name + " differs from ours").c_str());
                teardown();
                return;
            }
        }
        std::vector<std::vector<double>> rates(list.size());
        size_t round = 0;
        for (auto _ : state) {
            for (size_t k = 0; k < list.size(); ++k) {
                const size_t i = (round + k) % list.size();
                const double start = ThreadSeconds();
                std::vector<uint8_t> result = list[i].run();
                benchmark::DoNotOptimize(result.data());
                benchmark::ClobberMemory();
                const double seconds = ThreadSeconds() - start;
                if (seconds > 0)
                    rates[i].push_back(bytes / seconds);
            }
            ++round;
        }
        RowResult& row = RowResults()[index];
        row.ours = Median(rates[0]);
        row.peers.clear();
        double best = 0;
        for (size_t i = 1; i < list.size(); ++i) {
            const double rate = Median(rates[i]);
            row.peers.emplace_back(list[i].name, rate);
            state.counters[list[i].name + "_MBps"] = rate / 1e6;
            best = std::max(best, rate);
        }
        state.counters["ours_MBps"] = row.ours / 1e6;
        state.counters["ratio"] = best > 0 ? row.ours / best : 0;
        state.SetBytesProcessed(int64_t(double(state.iterations()) * bytes * double(list.size())));
        teardown();
    });
}

std::vector<uint8_t> Bytes32(uint32_t v, size_t width)
{
    std::vector<uint8_t> out;
    for (size_t i = width; i-- > 0;)
        out.push_back(uint8_t(v >> (8 * i)));
    return out;
}

// A digest row: ours (on the fast or the portable engines), OpenSSL's EVP
// digest and libgcrypt's.
void RegisterDigestRounds(const char* name, const char* label, DigestFunction digest, const EVP_MD* md,
                          int gcryptAlgorithm, bool fast, double target)
{
    (void)gcryptAlgorithm;
    RegisterRounds(
        name, label, kMessageSize, target,
        [=] {
            const XBlob& m = Message();
            std::vector<Contender> list{
                {"ours", [digest, &m] { return Bytes(digest(m)); }},
                {"OpenSSL", [md, &m] { return OpensslDigest(md, m); }},
            };
#if ZEL_BENCH_GCRYPT
            if (GcryptReady())
                list.push_back({"libgcrypt", [gcryptAlgorithm, &m] {
                                    return GcryptDigest(gcryptAlgorithm, m.Data(), m.Length());
                                }});
#endif
            return list;
        },
        [fast] { SelectShaEngines(fast); }, [] { SelectShaEngines(true); });
}

void RegisterAllRounds()
{
    RegisterDigestRounds("MD5", "MD5", DigestMD5, EVP_md5(), ZEL_GCRY_MD(MD5), true, 0.9);
    RegisterDigestRounds("SHA1", "SHA-1", DigestSHA1, EVP_sha1(), ZEL_GCRY_MD(SHA1), true, 0.9);
    RegisterDigestRounds("SHA1_portable", "SHA-1 portable", DigestSHA1, EVP_sha1(), ZEL_GCRY_MD(SHA1), false, 0);
    RegisterDigestRounds("RIPEMD160", "RIPEMD-160", DigestRipemd160, EVP_ripemd160(), ZEL_GCRY_MD(RMD160), true, 0.9);
    RegisterDigestRounds("SHA256", "SHA-256", DigestSHA256, EVP_sha256(), ZEL_GCRY_MD(SHA256), true, 0.9);
    RegisterDigestRounds("SHA256_portable", "SHA-256 portable", DigestSHA256, EVP_sha256(), ZEL_GCRY_MD(SHA256),
                         false, 0);
    RegisterDigestRounds("SHA512", "SHA-512", DigestSHA512, EVP_sha512(), ZEL_GCRY_MD(SHA512), true, 0.9);
    RegisterDigestRounds("SHA512_portable", "SHA-512 portable", DigestSHA512, EVP_sha512(), ZEL_GCRY_MD(SHA512),
                         false, 0);
    RegisterDigestRounds("SHA3_256", "SHA3-256", DigestSHA3_256, EVP_sha3_256(), ZEL_GCRY_MD(SHA3_256), true, 0.9);
    RegisterDigestRounds("SHA3_512", "SHA3-512", DigestSHA3_512, EVP_sha3_512(), ZEL_GCRY_MD(SHA3_512), true, 0);

    // CRC-32 next to zlib and libgcrypt (which gives the value as 4 big-endian bytes).
    RegisterRounds("CRC32", "CRC-32", kMessageSize, 0, [] {
        const XBlob& m = Message();
        std::vector<Contender> list{
            {"ours", [&m] { return Bytes32(XCrc32().Compute(m), 4); }},
            {"zlib", [&m] { return Bytes32(ZlibCrc32(m), 4); }},
        };
#if ZEL_BENCH_GCRYPT
        if (GcryptReady())
            list.push_back({"libgcrypt", [&m] { return GcryptDigest(GCRY_MD_CRC32, m.Data(), m.Length()); }});
#endif
        return list;
    });
    // CRC-24 (OpenPGP's armor checksum): libgcrypt has the same one.
    RegisterRounds("CRC24", "CRC-24", kMessageSize, 0, [] {
        const XBlob& m = Message();
        std::vector<Contender> list{
            {"ours", [&m] { return Bytes32(XCrc24().Compute(m), 3); }},
        };
#if ZEL_BENCH_GCRYPT
        if (GcryptReady())
            list.push_back(
                {"libgcrypt", [&m] { return GcryptDigest(GCRY_MD_CRC24_RFC2440, m.Data(), m.Length()); }});
#endif
        return list;
    });

    // The iterated and salted string-to-key with SHA-1 and count byte 255:
    // libgcrypt's own, and OpenSSL's SHA-1 over the same bytes in memory.
    RegisterRounds(
        "S2K255", "S2K 255 (65 MB SHA-1)", S2KCount(255), 1 / 1.1,
        [] {
            static const std::vector<uint8_t> preimage = S2KPreimage();
            std::vector<Contender> list{
                {"ours", [] { return Bytes(S2KIterated(2, 20, S2KPassword(), S2KSalt(), 255)); }},
                {"OpenSSL", [] {
                     std::vector<uint8_t> out(20);
                     SHA1(preimage.data(), preimage.size(), out.data());
                     return out;
                 }},
            };
#if ZEL_BENCH_GCRYPT
            if (GcryptReady())
                list.push_back({"libgcrypt", [] {
                                    std::vector<uint8_t> out(20);
                                    gcry_kdf_derive(S2KPassword().Data(), S2KPassword().Length(),
                                                    GCRY_KDF_ITERSALTED_S2K, GCRY_MD_SHA1, S2KSalt().Data(),
                                                    S2KSalt().Length(), S2KCount(255), out.size(), out.data());
                                    return out;
                                }});
#endif
            return list;
        },
        [] { SelectShaEngines(true); });

    // PBKDF2-HMAC, 100,000 iterations, one digest of output; the bytes are
    // the two compressed blocks per iteration.
    const struct {
        const char* name;
        const char* label;
        const char* hash;
        const EVP_MD* md;
        int gcrypt;
        double target;
    } pbkdf2[] = {
        {"PBKDF2_SHA256", "PBKDF2-SHA256 100000", "SHA256", EVP_sha256(), ZEL_GCRY_MD(SHA256), 0.9},
        {"PBKDF2_SHA512", "PBKDF2-SHA512 100000", "SHA512", EVP_sha512(), ZEL_GCRY_MD(SHA512), 0},
    };
    for (const auto& p : pbkdf2) {
        const XHashAlgorithm* hash = FindHashAlgorithmByName(p.hash);
        const EVP_MD* md = p.md;
        const int gcryptAlgorithm = p.gcrypt;
        (void)gcryptAlgorithm;
        RegisterRounds(
            p.name, p.label, double(kPbkdf2Iterations) * 2 * hash->blockSize, p.target,
            [hash, md, gcryptAlgorithm] {
                const uint32_t size = hash->digestSize;
                std::vector<Contender> list{
                    {"ours", [hash, size] {
                         return Bytes(Pbkdf2(*hash, S2KPassword(), S2KSalt(), kPbkdf2Iterations, size));
                     }},
                    {"OpenSSL", [md, size] {
                         std::vector<uint8_t> key(size);
                         PKCS5_PBKDF2_HMAC(reinterpret_cast<const char*>(S2KPassword().Data()),
                                           int(S2KPassword().Length()), S2KSalt().Data(), int(S2KSalt().Length()),
                                           int(kPbkdf2Iterations), md, int(size), key.data());
                         return key;
                     }},
                };
#if ZEL_BENCH_GCRYPT
                if (GcryptReady())
                    list.push_back({"libgcrypt", [gcryptAlgorithm, size] {
                                        std::vector<uint8_t> key(size);
                                        gcry_kdf_derive(S2KPassword().Data(), S2KPassword().Length(),
                                                        GCRY_KDF_PBKDF2, gcryptAlgorithm, S2KSalt().Data(),
                                                        S2KSalt().Length(), kPbkdf2Iterations, key.size(),
                                                        key.data());
                                        return key;
                                    }});
#endif
                return list;
            },
            [] { SelectShaEngines(true); });
    }
}

void PrintTable()
{
    std::printf("\n%-24s %9s %9s %9s %9s %10s  %-10s %s\n", "1 MiB message, MB/s", "ours", "OpenSSL", "libgcrypt",
                "zlib", "ours/best", "best peer", "target");
    std::printf("(MB = 10^6 bytes; medians of rounds in rotating order, thread processor time)\n");
    for (const RowResult& row : RowResults()) {
        if (row.failed) {
            std::printf("%-24s a peer differs from ours\n", row.label.c_str());
            continue;
        }
        if (row.ours == 0)
            continue; // not run (filtered out)
        const auto [bestName, best] = BestPeer(row.peers);
        std::printf("%-24s %9.0f %9s %9s %9s", row.label.c_str(), row.ours / 1e6,
                    PeerRateText(row.peers, "OpenSSL").c_str(), PeerRateText(row.peers, "libgcrypt").c_str(),
                    PeerRateText(row.peers, "zlib").c_str());
        if (best > 0)
            std::printf(" %10.2f  %-10s", row.ours / best, bestName.c_str());
        else
            std::printf(" %10s  %-10s", "-", "-");
        if (row.target > 0 && best > 0)
            std::printf(" >= %.2f%s", row.target, row.ours / best >= row.target ? "" : "  BELOW TARGET");
        std::printf("\n");
    }
    // The CRCs' own floor, in bytes per second.
    for (const RowResult& row : RowResults())
        if ((row.label == "CRC-32" || row.label == "CRC-24") && row.ours > 0)
            std::printf("%-24s %9.0f MB/s >= 2000 MB/s%s\n", row.label.c_str(), row.ours / 1e6,
                        row.ours >= 2e9 ? "" : "  BELOW TARGET");
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

    RegisterAllRounds();

    // Before anything else grows the process, so the child starts lean.
    const long s2kPeak = S2KPeakKilobytes();

    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    SelectShaEngines(true);

    PrintTable();
    if (s2kPeak < 0)
        std::printf("S2K 255 peak memory    not measured\n");
    else
        std::printf("S2K 255 peak memory    %ld KiB above baseline%s   <= 1024 KiB\n", s2kPeak,
                    s2kPeak <= 1024 ? "" : "  ABOVE TARGET");
    std::printf("engines: SHA-1 %s, SHA-256 %s, SHA-512 %s\n",
                Sha1ActiveEngine() == Sha1Engine::kShaExtensions ? "SHA extensions" : "portable",
                Sha256ActiveEngine() == Sha256Engine::kShaExtensions ? "SHA extensions" : "portable",
                Sha512ActiveEngine() == Sha512Engine::kAvx2Bmi2 ? "AVX2 and BMI2" : "portable");
    return 0;
}
