// AES-GCM, AES-CBC and AES-CTR throughput over a 1 MiB message: ours
// (cipher/aes_modes.h, the whole-message functions as the scriptable
// classes call them: key schedule and result blob allocated per call),
// OpenSSL's EVP ciphers and libgcrypt, both keyed once and writing into a
// buffer allocated once.
//
//   bin/zel_cipher_bench --benchmark_filter=AesModes [--benchmark_min_time=2]
//
// Ours runs on the process's default AES path (the fastest the CPU has);
// ZEL_BENCH_AES=aesni (or portable) in the environment picks another, to see
// what a CPU without the 256-bit AES instructions gets.
//
// Each benchmark iteration is one round in which the three run one after
// the other (the order rotating from round to round), each timed by the
// thread's processor time.  The rates are medians over the rounds; the
// ratio is ours over the faster peer.  Ours is timed up to the return of
// its result; releasing that blob afterwards (every blob is wiped before it
// is freed) is timed on its own and shown as a second ratio, call and
// release together.  Before timing, the three outputs are compared and a
// mismatch is reported as an error.  A table of the ratios with their
// targets is printed when the program ends.
#include "cipher/aes.h"
#include "cipher/aes_modes.h"
#include "cipher/ghash.h"

#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#if ZEL_BENCH_GCRYPT
#include <gcrypt.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr uint32_t kMessageSize = 1u << 20;

using Bytes = std::vector<uint8_t>;

XBlob BlobOf(const Bytes& v)
{
    XBlob b;
    b.AppendBytes(v.data(), uint32_t(v.size()));
    return b;
}

Bytes Pattern(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(random());
    return v;
}

double ThreadSeconds()
{
    timespec t;
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double Median(std::vector<double> v)
{
    if (v.empty())
        return 0;
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

// The AES path ours runs on: the default unless ZEL_BENCH_AES names another.
const bool kEngineChosen = [] {
    const char* wanted = std::getenv("ZEL_BENCH_AES");
    if (!wanted)
        return false;
    const std::string name = wanted;
    const AesEngine engine = name == "portable" ? AesEngine::kPortable
                             : name == "aesni"  ? AesEngine::kAesNi
                                                : AesEngine::kVaes;
    if (!AesSelectEngine(engine))
        std::fprintf(stderr, "ZEL_BENCH_AES=%s: not available on this CPU\n", wanted);
    return true;
}();

// --- one operation, three implementations ------------------------------------------

// Each run function processes the whole message once and returns what it
// produced (for the comparison before timing; in the rounds the result is
// only kept from being optimised away).
struct Contender {
    const char* name;
    std::function<const uint8_t*()> run;
    std::function<Bytes()> output;
    std::function<void()> release = [] {}; // after the timed run
};

struct Result {
    double ours = 0, oursReleased = 0, openssl = 0, gcrypt = 0, target = 0;
};

// The medians of every benchmark, printed as a table when the program ends.
struct Table {
    std::map<std::string, Result> results;

    ~Table()
    {
        if (results.empty())
            return;
        std::printf("\n%-22s %8s %8s %8s %8s %9s %14s\n", "AES modes, 1 MiB, MB/s", "ours", "OpenSSL",
                    "libgcrypt", "ours/best", "target", "with release");
        for (const auto& [name, r] : results) {
            const double best = std::max(r.openssl, r.gcrypt);
            std::printf("%-22s %8.0f %8.0f %8.0f %9.2f %6s%.1f%s %8.2f\n", name.c_str(), r.ours / 1e6,
                        r.openssl / 1e6, r.gcrypt / 1e6, r.ours / best, ">= ", r.target,
                        r.ours / best >= r.target ? "      " : " BELOW", r.oursReleased / best);
        }
        const AesEngine aes = AesActiveEngine();
        std::printf("AES engine: %s; GHASH engine: %s\n",
                    aes == AesEngine::kVaes    ? "AES instructions on 256-bit vectors"
                    : aes == AesEngine::kAesNi ? "AES instructions"
                                               : "portable",
                    GhashActiveEngine() == GhashEngine::kPclmul ? "carry-less multiply" : "portable");
    }
};

std::map<std::string, Result>& Results()
{
    static Table table;
    return table.results;
}

// Rounds of the three in rotating order, medians of the per-round rates.
void RunRounds(benchmark::State& state, const std::string& name, double target, std::vector<Contender> contenders)
{
    // Same output from all before anything is timed.
    const Bytes reference = contenders[0].output();
    for (size_t i = 1; i < contenders.size(); ++i) {
        if (contenders[i].output() != reference) {
            state.SkipWithError((std::string(contenders[i].name) + " differs from ours").c_str());
            return;
        }
    }
    std::vector<std::vector<double>> rates(contenders.size());
    std::vector<double> oursReleased;
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const size_t i = (round + k) % contenders.size();
            const double start = ThreadSeconds();
            const uint8_t* out = contenders[i].run();
            benchmark::DoNotOptimize(out);
            benchmark::ClobberMemory();
            const double seconds = ThreadSeconds() - start;
            contenders[i].release();
            const double withRelease = ThreadSeconds() - start;
            if (seconds > 0)
                rates[i].push_back(kMessageSize / seconds);
            if (i == 0 && withRelease > 0)
                oursReleased.push_back(kMessageSize / withRelease);
        }
        ++round;
    }
    Result r;
    r.target = target;
    r.ours = Median(rates[0]);
    r.oursReleased = Median(oursReleased);
    r.openssl = Median(rates[1]);
    r.gcrypt = contenders.size() > 2 ? Median(rates[2]) : 0;
    const double best = std::max(r.openssl, r.gcrypt);
    state.counters["ours_MBps"] = r.ours / 1e6;
    state.counters["openssl_MBps"] = r.openssl / 1e6;
    if (contenders.size() > 2)
        state.counters["gcrypt_MBps"] = r.gcrypt / 1e6;
    state.counters["ratio"] = best > 0 ? r.ours / best : 0;
    state.SetBytesProcessed(int64_t(state.iterations()) * kMessageSize * int64_t(contenders.size()));
    Results()[name] = r;
}

// --- the peers -----------------------------------------------------------------------

using EvpContext = std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)>;

const EVP_CIPHER* Evp(const std::string& mode, size_t keySize)
{
    if (mode == "gcm")
        return keySize == 16 ? EVP_aes_128_gcm() : EVP_aes_256_gcm();
    if (mode == "cbc")
        return keySize == 16 ? EVP_aes_128_cbc() : EVP_aes_256_cbc();
    return keySize == 16 ? EVP_aes_128_ctr() : EVP_aes_256_ctr();
}

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

struct GcryptHandle {
    GcryptHandle(int mode, const Bytes& key)
    {
        GcryptReady();
        gcry_cipher_open(&h, key.size() == 16 ? GCRY_CIPHER_AES128 : GCRY_CIPHER_AES256, mode, 0);
        gcry_cipher_setkey(h, key.data(), key.size());
    }
    ~GcryptHandle() { gcry_cipher_close(h); }
    gcry_cipher_hd_t h = nullptr;
};
#endif

// --- the operations ------------------------------------------------------------------

struct Inputs {
    Bytes key, iv, aad, message;
};

Inputs MakeInputs(size_t keySize)
{
    return {Pattern(keySize, 1), Pattern(16, 2), Pattern(16, 3), Pattern(kMessageSize, 4)};
}

void Gcm(benchmark::State& state, const std::string& name, bool seal)
{
    const Inputs in = MakeInputs(32);
    const Bytes iv(in.iv.begin(), in.iv.begin() + 12);
    const XAesGcm gcm(BlobOf(in.key));
    const XBlob blobIv = BlobOf(iv), blobAad = BlobOf(in.aad), message = BlobOf(in.message);
    const XBlob sealedBlob = gcm.Seal(blobIv, blobAad, message, 16);
    const Bytes sealed(sealedBlob.Data(), sealedBlob.Data() + sealedBlob.Length());
    const XBlob& input = seal ? message : sealedBlob;

    std::optional<XBlob> ours;
    Bytes buffer(kMessageSize + 16);
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), Evp("gcm", 32), nullptr, in.key.data(), iv.data(), seal ? 1 : 0);
    bool opened = true;
    auto openssl = [&]() -> const uint8_t* {
        int n = 0, tail = 0;
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, iv.data(), seal ? 1 : 0);
        EVP_CipherUpdate(ctx.get(), nullptr, &n, in.aad.data(), int(in.aad.size()));
        EVP_CipherUpdate(ctx.get(), buffer.data(), &n, input.Data(), int(kMessageSize));
        if (seal) {
            EVP_CipherFinal_ex(ctx.get(), buffer.data() + n, &tail);
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_GET_TAG, 16, buffer.data() + kMessageSize);
        } else {
            EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_GCM_SET_TAG, 16,
                                const_cast<uint8_t*>(sealed.data() + kMessageSize));
            opened = EVP_CipherFinal_ex(ctx.get(), buffer.data() + n, &tail) == 1 && opened;
        }
        return buffer.data();
    };
    std::vector<Contender> contenders = {
        {"ours",
         [&] {
             ours.emplace(seal ? gcm.Seal(blobIv, blobAad, message, 16) : gcm.Open(blobIv, blobAad, sealedBlob, 16));
             return ours->Data();
         },
         [&] {
             const XBlob out = seal ? gcm.Seal(blobIv, blobAad, message, 16) : gcm.Open(blobIv, blobAad, sealedBlob, 16);
             return Bytes(out.Data(), out.Data() + out.Length());
         },
         [&] { ours.reset(); }},
        {"OpenSSL", openssl,
         [&] {
             openssl();
             return seal ? buffer : Bytes(buffer.begin(), buffer.begin() + kMessageSize);
         }},
    };
#if ZEL_BENCH_GCRYPT
    auto g = std::make_shared<GcryptHandle>(GCRY_CIPHER_MODE_GCM, in.key);
    auto gcrypt = [&, g]() -> const uint8_t* {
        gcry_cipher_setiv(g->h, iv.data(), iv.size());
        gcry_cipher_authenticate(g->h, in.aad.data(), in.aad.size());
        if (seal) {
            gcry_cipher_encrypt(g->h, buffer.data(), kMessageSize, input.Data(), kMessageSize);
            gcry_cipher_gettag(g->h, buffer.data() + kMessageSize, 16);
        } else {
            gcry_cipher_decrypt(g->h, buffer.data(), kMessageSize, input.Data(), kMessageSize);
            opened = gcry_cipher_checktag(g->h, sealed.data() + kMessageSize, 16) == 0 && opened;
        }
        return buffer.data();
    };
    contenders.push_back({"libgcrypt", gcrypt, [&, gcrypt] {
                              gcrypt();
                              return seal ? buffer : Bytes(buffer.begin(), buffer.begin() + kMessageSize);
                          }});
#endif
    RunRounds(state, name, 0.8, contenders);
    if (!opened)
        state.SkipWithError("a peer refused the tag");
}

// CBC (without padding: the message is whole blocks) and CTR.
void Block(benchmark::State& state, const std::string& name, const std::string& mode, size_t keySize, bool encrypt)
{
    const Inputs in = MakeInputs(keySize);
    const XBlob key = BlobOf(in.key), iv = BlobOf(in.iv), message = BlobOf(in.message);
    const bool cbc = mode == "cbc";
    auto oursOnce = [&] {
        if (!cbc)
            return AesCtr(key, iv, message);
        return encrypt ? AesCbcEncrypt(key, iv, message, false) : AesCbcDecrypt(key, iv, message, false);
    };
    std::optional<XBlob> ours;
    Bytes buffer(kMessageSize);
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), Evp(mode, keySize), nullptr, in.key.data(), in.iv.data(), encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    auto openssl = [&]() -> const uint8_t* {
        int n = 0;
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, in.iv.data(), encrypt ? 1 : 0);
        EVP_CipherUpdate(ctx.get(), buffer.data(), &n, message.Data(), int(kMessageSize));
        return buffer.data();
    };
    std::vector<Contender> contenders = {
        {"ours",
         [&] {
             ours.emplace(oursOnce());
             return ours->Data();
         },
         [&] {
             const XBlob out = oursOnce();
             return Bytes(out.Data(), out.Data() + out.Length());
         },
         [&] { ours.reset(); }},
        {"OpenSSL", openssl, [&] {
             openssl();
             return buffer;
         }},
    };
#if ZEL_BENCH_GCRYPT
    auto g = std::make_shared<GcryptHandle>(cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_CTR, in.key);
    auto gcrypt = [&, g, cbc]() -> const uint8_t* {
        if (cbc)
            gcry_cipher_setiv(g->h, in.iv.data(), 16);
        else
            gcry_cipher_setctr(g->h, in.iv.data(), 16);
        if (encrypt)
            gcry_cipher_encrypt(g->h, buffer.data(), kMessageSize, message.Data(), kMessageSize);
        else
            gcry_cipher_decrypt(g->h, buffer.data(), kMessageSize, message.Data(), kMessageSize);
        return buffer.data();
    };
    contenders.push_back({"libgcrypt", gcrypt, [&, gcrypt] {
                              gcrypt();
                              return buffer;
                          }});
#endif
    RunRounds(state, name, 0.9, contenders);
}

template <typename Function, typename... Args>
void Register(const std::string& name, Function function, Args... args)
{
    benchmark::RegisterBenchmark(("AesModes/" + name).c_str(), function, name, args...)
        ->Unit(benchmark::kMicrosecond);
}

const bool kRegistered = [] {
    Register("aes256_gcm_seal", Gcm, true);
    Register("aes256_gcm_open", Gcm, false);
    Register("aes128_cbc_encrypt", Block, std::string("cbc"), size_t(16), true);
    Register("aes128_cbc_decrypt", Block, std::string("cbc"), size_t(16), false);
    Register("aes256_cbc_encrypt", Block, std::string("cbc"), size_t(32), true);
    Register("aes256_cbc_decrypt", Block, std::string("cbc"), size_t(32), false);
    Register("aes256_ctr", Block, std::string("ctr"), size_t(32), true);
    return true;
}();

} // namespace
