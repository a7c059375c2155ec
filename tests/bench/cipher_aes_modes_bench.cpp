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
// what a CPU without the 256-bit AES instructions gets; in the AesPaths rows
// ZEL_BENCH_AES=vaes256 keeps CBC and CFB deciphering off 512-bit vectors.
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
//
// AesPaths/<entry>/<op>/<bits>/<bytes> measures every engine entry point a
// scriptable class runs AES through, at 1 MiB and at small sizes, next to
// OpenSSL and libgcrypt doing the same procedure on the same lengths:
//   block    XAes through XBlockCipher::Encrypt/Decrypt in mode 2 (CBC, keyed
//            once, chaining block reset per message, result blob per call);
//            peers: CBC without padding from a zero IV.
//   pkcs7    AesCbcEncrypt/AesCbcDecrypt with PKCS#7 (key schedule and
//            result blob per call); peers: OpenSSL's padded CBC, libgcrypt's
//            CBC over the padded bytes (it has no padding of its own).
//   pgp_cfb  XPgpCfb as the PGP class's format 0 runs it: the 18-byte
//            prefix, the resync, the rest; peers: libgcrypt's CFB with its
//            OpenPGP resync, OpenSSL's CFB restarted from the resync IV.
//   cfb      XPgpCfb straight through from a zero register (format 1, the
//            session key): plain CFB-128; peers: their CFB-128.
// Each round times a batch of calls (2 MiB at least) of each contender,
// in rotating order, by thread processor time; the table gives medians and
// ours / best peer.
#include "cipher/aes.h"
#include "cipher/aes_modes.h"
#include "cipher/ghash.h"
#include "pgp/cfb.h"
#include "tests/bench/bench_rounds.h"

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

// The AES path ours runs on: the fastest the CPU has unless ZEL_BENCH_AES
// names another.  Selected again before each benchmark of entry points, as
// other benchmarks in this program switch paths.
AesEngine ChosenEngine()
{
    const char* wanted = std::getenv("ZEL_BENCH_AES");
    if (!wanted) {
        for (AesEngine e : {AesEngine::kVaes, AesEngine::kAesNi})
            if (AesEngineAvailable(e))
                return e;
        return AesEngine::kPortable;
    }
    const std::string name = wanted;
    return name == "portable" ? AesEngine::kPortable : name == "aesni" ? AesEngine::kAesNi : AesEngine::kVaes;
}

const bool kEngineChosen = [] {
    const char* wanted = std::getenv("ZEL_BENCH_AES");
    if (!wanted)
        return false;
    if (!AesSelectEngine(ChosenEngine()))
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

// --- every engine entry point, 1 MiB and small sizes ----------------------------------

struct PathContender {
    const char* name;
    std::function<void()> run;     // one message, its result released (as a script drops it)
    std::function<Bytes()> output; // what one message gives
    // Ours's result blobs: one message with its result kept, and the release
    // of those kept, for the time of the call alone.
    std::function<void()> keep = nullptr;
    std::function<void()> release = [] {};
};

struct PathResult {
    double ours = 0, oursCallOnly = 0, openssl = 0, gcrypt = 0, target = 0;
};

struct PathTable {
    std::vector<std::pair<std::string, PathResult>> rows;

    ~PathTable()
    {
        if (rows.empty())
            return;
        std::printf("\n%-30s %8s %8s %9s %9s %8s %16s\n", "AES entry points, MB/s", "ours", "OpenSSL",
                    "libgcrypt", "ours/best", "target", "call only/best");
        for (const auto& [name, r] : rows) {
            const double best = std::max(r.openssl, r.gcrypt);
            char callOnly[16] = "-";
            if (best > 0 && r.oursCallOnly > 0)
                std::snprintf(callOnly, sizeof callOnly, "%.2f", r.oursCallOnly / best);
            std::printf("%-30s %8.0f %8.0f %9.0f %9.2f %5s%.2f%s %9s\n", name.c_str(), r.ours / 1e6,
                        r.openssl / 1e6, r.gcrypt / 1e6, best > 0 ? r.ours / best : 0, ">= ", r.target,
                        best > 0 && r.ours / best >= r.target ? "      " : " BELOW", callOnly);
        }
        std::printf("ours: the call and the release of its result blob (wiped when freed) as a script\n"
                    "gets them; call only: the release left out of the time (blob results, 1 MiB).\n");
        const AesEngine aes = AesActiveEngine();
        std::printf("AES engine: %s\n", aes == AesEngine::kVaes
                                            ? (AesWide512Active() ? "AES instructions on 256-bit vectors, "
                                                                    "CBC and CFB deciphering on 512-bit"
                                                                  : "AES instructions on 256-bit vectors")
                                        : aes == AesEngine::kAesNi ? "AES instructions"
                                                                   : "portable");
    }
};

PathTable& Paths()
{
    static PathTable table;
    return table;
}

void RunPathRounds(benchmark::State& state, const std::string& name, double target, size_t bytes,
                   std::vector<PathContender> contenders)
{
    const Bytes reference = contenders[0].output();
    for (size_t i = 1; i < contenders.size(); ++i) {
        if (contenders[i].output() != reference) {
            state.SkipWithError((std::string(contenders[i].name) + " differs from ours").c_str());
            return;
        }
    }
    const size_t calls = std::max<size_t>(1, (size_t(2) << 20) / bytes);
    std::vector<std::vector<double>> rates(contenders.size());
    std::vector<double> callOnly;
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const size_t i = (round + k) % contenders.size();
            const double start = ThreadSeconds();
            for (size_t c = 0; c < calls; ++c)
                contenders[i].run();
            benchmark::ClobberMemory();
            const double seconds = ThreadSeconds() - start;
            if (seconds > 0)
                rates[i].push_back(double(calls * bytes) / seconds);
            if (contenders[i].keep && bytes >= kMessageSize) {
                // One message, its result released after the clock stops
                // (at 1 MiB only: kept results of many small messages would
                // time the heap's growth instead).
                const size_t kept = 1;
                const double from = ThreadSeconds();
                for (size_t c = 0; c < kept; ++c)
                    contenders[i].keep();
                benchmark::ClobberMemory();
                const double called = ThreadSeconds() - from;
                contenders[i].release();
                if (called > 0)
                    callOnly.push_back(double(kept * bytes) / called);
            }
        }
        ++round;
    }
    PathResult r;
    r.target = target;
    r.ours = Median(rates[0]);
    r.oursCallOnly = Median(callOnly);
    r.openssl = Median(rates[1]);
    r.gcrypt = contenders.size() > 2 ? Median(rates[2]) : 0;
    const double best = std::max(r.openssl, r.gcrypt);
    state.counters["ours_MBps"] = r.ours / 1e6;
    state.counters["ratio"] = best > 0 ? r.ours / best : 0;
    Paths().rows.emplace_back(name, r);
}

const EVP_CIPHER* EvpOf(const std::string& mode, size_t keySize)
{
    if (mode == "cfb")
        return keySize == 16 ? EVP_aes_128_cfb128() : EVP_aes_256_cfb128();
    return Evp(mode, keySize);
}

// entry: block, pkcs7, pgp_cfb or cfb.
void Path(benchmark::State& state, const std::string& name, const std::string& entry, size_t keySize, bool encrypt,
          size_t bytes)
{
    const char* wanted = std::getenv("ZEL_BENCH_AES");
    const bool wide512 = !(wanted && std::string(wanted) == "vaes256") && AesWide512Available();
    if (!AesSelectEngine(ChosenEngine()) || !AesSelectWide512(wide512)) {
        state.SkipWithError("the chosen AES path is not available on this CPU");
        return;
    }
    const Bytes key = Pattern(keySize, 11), zeroIv(16, 0);
    const bool viaBlock = entry == "block", pkcs7 = entry == "pkcs7", resync = entry == "pgp_cfb";
    const bool cbc = viaBlock || pkcs7;
    // The input: for deciphering, what enciphering gives (so that the PKCS#7
    // padding is valid); the padded plaintext for libgcrypt's PKCS#7 stand-in.
    const Bytes plain = Pattern(bytes, 12);
    Bytes padded = plain;
    if (pkcs7)
        padded.insert(padded.end(), 16 - bytes % 16, uint8_t(16 - bytes % 16));
    const XBlob keyBlob = BlobOf(key), ivBlob = BlobOf(zeroIv);

    XAes block;
    block.MakeKey(keyBlob, uint32_t(keySize));
    auto engine = std::make_unique<XAes>();
    engine->MakeKey(keyBlob, uint32_t(keySize));
    XPgpCfb cfb(std::move(engine));
    const uint8_t zeros[18] = {};


    Bytes input;
    {
        // Enciphered once by OpenSSL to make the input of deciphering.
        if (encrypt) {
            input = plain;
        } else if (cbc) {
            EvpContext c(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
            EVP_CipherInit_ex(c.get(), Evp("cbc", keySize), nullptr, key.data(), zeroIv.data(), 1);
            EVP_CIPHER_CTX_set_padding(c.get(), pkcs7 ? 1 : 0);
            input.resize(bytes + 16);
            int n = 0, tail = 0;
            EVP_CipherUpdate(c.get(), input.data(), &n, plain.data(), int(bytes));
            EVP_CipherFinal_ex(c.get(), input.data() + n, &tail);
            input.resize(size_t(n + tail));
        } else {
            input.resize(bytes);
            auto k = std::make_unique<XAes>();
            k->MakeKey(keyBlob, uint32_t(keySize));
            XPgpCfb enc(std::move(k));
            if (resync && bytes >= 18) {
                enc.Encrypt(plain.data(), input.data(), 18);
                enc.Resync(input.data());
                enc.Encrypt(plain.data() + 18, input.data() + 18, bytes - 18);
            } else {
                enc.Encrypt(plain.data(), input.data(), bytes);
            }
        }
    }
    const XBlob inputBlob = BlobOf(input);
    const size_t outLength = cbc ? (encrypt ? (pkcs7 ? padded.size() : bytes) : bytes) : bytes;

    // Result blobs kept for the time of the call alone.
    std::vector<XBlob> ours;
    ours.reserve(std::max<size_t>(1, (size_t(64) << 10) / bytes) + 1);
    Bytes oursBuffer(input.size());
    auto runOurs = [&]() -> const uint8_t* {
        if (viaBlock) {
            block.Setup(XBlockCipher::kModeCbc, 0);
            ours.push_back(encrypt ? block.Encrypt(inputBlob) : block.Decrypt(inputBlob));
            return ours.back().Data();
        }
        if (pkcs7) {
            ours.push_back(encrypt ? AesCbcEncrypt(keyBlob, ivBlob, inputBlob, true)
                                   : AesCbcDecrypt(keyBlob, ivBlob, inputBlob, true));
            return ours.back().Data();
        }
        // The register back to zero: a resync from an all-zero prefix.
        cfb.Resync(zeros);
        const uint8_t* in = input.data();
        uint8_t* out = oursBuffer.data();
        size_t done = 0;
        if (resync) {
            done = 18;
            if (encrypt) {
                cfb.Encrypt(in, out, done);
                cfb.Resync(out);
            } else {
                cfb.Decrypt(in, out, done);
                cfb.Resync(in);
            }
        }
        if (encrypt)
            cfb.Encrypt(in + done, out + done, bytes - done);
        else
            cfb.Decrypt(in + done, out + done, bytes - done);
        return out;
    };

    Bytes sslOut(input.size() + 32);
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    EVP_CipherInit_ex(ctx.get(), EvpOf(cbc ? "cbc" : "cfb", keySize), nullptr, key.data(), zeroIv.data(),
                      encrypt ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), pkcs7 ? 1 : 0);
    auto runOpenSsl = [&]() -> const uint8_t* {
        int n = 0, tail = 0;
        EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, zeroIv.data(), encrypt ? 1 : 0);
        if (resync) {
            EVP_CipherUpdate(ctx.get(), sslOut.data(), &n, input.data(), 18);
            const uint8_t* c = encrypt ? sslOut.data() : input.data();
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, c + 2, encrypt ? 1 : 0);
            EVP_CipherUpdate(ctx.get(), sslOut.data() + 18, &n, input.data() + 18, int(bytes - 18));
            return sslOut.data();
        }
        EVP_CipherUpdate(ctx.get(), sslOut.data(), &n, input.data(), int(input.size()));
        if (pkcs7)
            EVP_CipherFinal_ex(ctx.get(), sslOut.data() + n, &tail);
        return sslOut.data();
    };

    auto first = [](const uint8_t* p, size_t n) { return Bytes(p, p + n); };
    std::vector<PathContender> contenders = {
        {"ours",
         [&] {
             benchmark::DoNotOptimize(runOurs());
             ours.clear();
         },
         [&] {
             Bytes out = first(runOurs(), outLength);
             ours.clear();
             return out;
         },
         cbc ? std::function<void()>([&] { benchmark::DoNotOptimize(runOurs()); }) : nullptr,
         [&] { ours.clear(); }},
        {"OpenSSL", [&] { benchmark::DoNotOptimize(runOpenSsl()); },
         [&] { return first(runOpenSsl(), outLength); }},
    };
#if ZEL_BENCH_GCRYPT
    const Bytes& gcryptInput = encrypt && pkcs7 ? padded : input;
    Bytes gcryptOut(gcryptInput.size());
    GcryptReady();
    gcry_cipher_hd_t h = nullptr;
    gcry_cipher_open(&h, keySize == 16 ? GCRY_CIPHER_AES128 : GCRY_CIPHER_AES256,
                     cbc ? GCRY_CIPHER_MODE_CBC : GCRY_CIPHER_MODE_CFB, resync ? GCRY_CIPHER_ENABLE_SYNC : 0);
    gcry_cipher_setkey(h, key.data(), key.size());
    struct Closer {
        gcry_cipher_hd_t h;
        ~Closer() { gcry_cipher_close(h); }
    } closer{h};
    auto runGcrypt = [&, h]() -> const uint8_t* {
        gcry_cipher_setiv(h, zeroIv.data(), 16);
        const size_t n = gcryptInput.size();
        auto step = [&](size_t from, size_t length) {
            if (encrypt)
                gcry_cipher_encrypt(h, gcryptOut.data() + from, length, gcryptInput.data() + from, length);
            else
                gcry_cipher_decrypt(h, gcryptOut.data() + from, length, gcryptInput.data() + from, length);
        };
        if (resync) {
            step(0, 18);
            gcry_cipher_sync(h);
            step(18, n - 18);
        } else {
            step(0, n);
        }
        return gcryptOut.data();
    };
    contenders.push_back({"libgcrypt", [&, runGcrypt] { benchmark::DoNotOptimize(runGcrypt()); },
                          [&, runGcrypt] { return first(runGcrypt(), outLength); }});
#endif
    // Targets: parallel directions 0.9, chains 0.97 of the best peer.
    RunPathRounds(state, name, encrypt ? 0.97 : 0.9, bytes, contenders);
}

const bool kPathsRegistered = [] {
    for (const char* entry : {"block", "pkcs7", "pgp_cfb", "cfb"})
        for (size_t keySize : {size_t(16), size_t(32)})
            for (bool encrypt : {false, true})
                for (size_t bytes : {size_t(1) << 20, size_t(8192), size_t(256)}) {
                    const std::string name = std::string(entry) + "/" + (encrypt ? "encrypt" : "decrypt") + "/" +
                                             std::to_string(keySize * 8) + "/" + std::to_string(bytes);
                    benchmark::RegisterBenchmark(("AesPaths/" + name).c_str(), Path, name, std::string(entry),
                                                 keySize, encrypt, bytes)
                        ->Unit(benchmark::kMicrosecond)
                        ->Iterations(31);
                }
    return true;
}();

} // namespace
