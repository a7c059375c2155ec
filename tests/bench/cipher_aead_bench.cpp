// The AEAD modes (cipher/aead.h) with AES-128: OCB, EAX and GCM, sealing and
// opening 1 MiB, once as one message and once as four 256 KiB chunks (the
// OpenPGP writer's default chunk), each chunk with its own nonce and 13 bytes
// of associated data.  Next to OpenSSL's EVP OCB and GCM, libgcrypt's OCB, EAX
// and GCM, and nettle's EAX, all keyed once and writing into buffers
// allocated once, as ours does.
//
//   bin/zel_cipher_bench --benchmark_filter=Aead [--benchmark_min_time=2]
//
// Each benchmark iteration is one round in which every contender processes
// the whole mebibyte once, the order rotating from round to round, each timed
// by the thread's processor time; the rates are medians over the rounds and
// the ratio is ours over the fastest peer.  Before timing, every contender's
// output (ciphertext and tag, or plaintext) is compared with ours and a
// mismatch is reported as an error.  A table of the ratios with their targets
// is printed when the program ends.  ZEL_BENCH_AES=aesni (or portable) picks
// another AES path for ours, as in cipher_aes_modes_bench.cpp.
#include "cipher/aead.h"
#include "cipher/aes.h"
#include "cipher/ghash.h"
#include "tests/bench/bench_rounds.h"

#include <benchmark/benchmark.h>
#include <nettle/eax.h>
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
#include <random>
#include <string>
#include <vector>

namespace {

constexpr size_t kTotal = 1u << 20;
constexpr size_t kTag = 16;

using Bytes = std::vector<uint8_t>;

Bytes Pattern(size_t n, uint32_t seed)
{
    std::mt19937 random(seed);
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(random());
    return v;
}

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

// The work: kTotal bytes in chunks of `chunk`; chunk i has nonce i (its last
// bytes) and the same associated data.  Sealed: every chunk's ciphertext
// followed by its tag.
struct Work {
    Work(XAeadMode m, size_t c, bool s) : mode(m), chunk(c), seal(s) {}
    XAeadMode mode;
    size_t chunk;
    bool seal;
    Bytes key = Pattern(16, 1), ad = Pattern(13, 2), plain = Pattern(kTotal, 3);
    Bytes sealed;
    size_t Chunks() const { return kTotal / chunk; }
    uint32_t NonceSize() const { return XAead::NonceSizeOf(mode); }
    Bytes Nonce(size_t i) const
    {
        Bytes n = Pattern(NonceSize(), 4);
        n.back() = uint8_t(i);
        return n;
    }
    const uint8_t* Input(size_t i) const { return seal ? plain.data() + i * chunk : sealed.data() + i * (chunk + kTag); }
    size_t OutputSize() const { return seal ? kTotal + Chunks() * kTag : kTotal; }
    uint8_t* Output(Bytes& out, size_t i) const { return out.data() + i * (seal ? chunk + kTag : chunk); }
    // The received tag of chunk i when opening.
    const uint8_t* Tag(size_t i) const { return sealed.data() + i * (chunk + kTag) + chunk; }
};

// Runs one contender over the whole work into `out`; false when a tag was refused.
using Runner = std::function<bool(const Work&, Bytes& out)>;

struct Contender {
    const char* name;
    Runner run;
};

// --- ours ---------------------------------------------------------------------------

Runner Ours(const Work& w)
{
    auto engine = std::make_unique<XAes>();
    XBlob key;
    key.AppendBytes(w.key.data(), uint32_t(w.key.size()));
    engine->MakeKey(key, uint32_t(w.key.size()));
    std::shared_ptr<XAead> aead = XAead::Make(w.mode, std::move(engine));
    return [aead](const Work& w, Bytes& out) {
        bool ok = true;
        for (size_t i = 0; i < w.Chunks(); ++i) {
            const Bytes nonce = w.Nonce(i);
            uint8_t* o = w.Output(out, i);
            if (w.seal)
                aead->Seal(nonce.data(), uint32_t(nonce.size()), w.ad.data(), w.ad.size(), w.Input(i), o, w.chunk,
                           o + w.chunk);
            else
                ok = aead->Open(nonce.data(), uint32_t(nonce.size()), w.ad.data(), w.ad.size(), w.Input(i), o,
                                w.chunk, w.Tag(i)) &&
                     ok;
        }
        return ok;
    };
}

// --- OpenSSL (OCB, GCM) ---------------------------------------------------------------

Runner OpenSsl(const Work& w)
{
    std::shared_ptr<EVP_CIPHER_CTX> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const EVP_CIPHER* cipher = w.mode == XAeadMode::kOcb ? EVP_aes_128_ocb() : EVP_aes_128_gcm();
    EVP_CipherInit_ex(ctx.get(), cipher, nullptr, nullptr, nullptr, w.seal ? 1 : 0);
    EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_IVLEN, int(w.NonceSize()), nullptr);
    if (w.mode == XAeadMode::kOcb)
        EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, int(kTag), nullptr);
    EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, w.key.data(), nullptr, w.seal ? 1 : 0);
    return [ctx](const Work& w, Bytes& out) {
        bool ok = true;
        for (size_t i = 0; i < w.Chunks(); ++i) {
            const Bytes nonce = w.Nonce(i);
            uint8_t* o = w.Output(out, i);
            int n = 0, tail = 0;
            EVP_CipherInit_ex(ctx.get(), nullptr, nullptr, nullptr, nonce.data(), w.seal ? 1 : 0);
            EVP_CipherUpdate(ctx.get(), nullptr, &n, w.ad.data(), int(w.ad.size()));
            EVP_CipherUpdate(ctx.get(), o, &n, w.Input(i), int(w.chunk));
            if (w.seal) {
                EVP_CipherFinal_ex(ctx.get(), o + n, &tail);
                EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_GET_TAG, int(kTag), o + w.chunk);
            } else {
                EVP_CIPHER_CTX_ctrl(ctx.get(), EVP_CTRL_AEAD_SET_TAG, int(kTag), const_cast<uint8_t*>(w.Tag(i)));
                ok = EVP_CipherFinal_ex(ctx.get(), o + n, &tail) == 1 && ok;
            }
        }
        return ok;
    };
}

// --- libgcrypt (OCB, EAX, GCM) ----------------------------------------------------------

#if ZEL_BENCH_GCRYPT
Runner Gcrypt(const Work& w)
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    (void)ready;
    const int mode = w.mode == XAeadMode::kOcb   ? GCRY_CIPHER_MODE_OCB
                     : w.mode == XAeadMode::kEax ? GCRY_CIPHER_MODE_EAX
                                                 : GCRY_CIPHER_MODE_GCM;
    gcry_cipher_hd_t h = nullptr;
    gcry_cipher_open(&h, GCRY_CIPHER_AES128, mode, 0);
    gcry_cipher_setkey(h, w.key.data(), w.key.size());
    std::shared_ptr<gcry_cipher_hd_t> handle(new gcry_cipher_hd_t(h), [](gcry_cipher_hd_t* p) {
        gcry_cipher_close(*p);
        delete p;
    });
    return [handle](const Work& w, Bytes& out) {
        const gcry_cipher_hd_t h = *handle;
        bool ok = true;
        for (size_t i = 0; i < w.Chunks(); ++i) {
            const Bytes nonce = w.Nonce(i);
            uint8_t* o = w.Output(out, i);
            gcry_cipher_setiv(h, nonce.data(), nonce.size());
            gcry_cipher_authenticate(h, w.ad.data(), w.ad.size());
            if (w.mode == XAeadMode::kOcb)
                gcry_cipher_final(h);
            if (w.seal) {
                gcry_cipher_encrypt(h, o, w.chunk, w.Input(i), w.chunk);
                gcry_cipher_gettag(h, o + w.chunk, kTag);
            } else {
                gcry_cipher_decrypt(h, o, w.chunk, w.Input(i), w.chunk);
                ok = gcry_cipher_checktag(h, w.Tag(i), kTag) == 0 && ok;
            }
        }
        return ok;
    };
}
#endif

// --- nettle (EAX) ------------------------------------------------------------------------

Runner Nettle(const Work& w)
{
    auto ctx = std::make_shared<eax_aes128_ctx>();
    eax_aes128_set_key(ctx.get(), w.key.data());
    return [ctx](const Work& w, Bytes& out) {
        bool ok = true;
        for (size_t i = 0; i < w.Chunks(); ++i) {
            const Bytes nonce = w.Nonce(i);
            uint8_t* o = w.Output(out, i);
            eax_aes128_set_nonce(ctx.get(), nonce.size(), nonce.data());
            eax_aes128_update(ctx.get(), w.ad.size(), w.ad.data());
            if (w.seal) {
                eax_aes128_encrypt(ctx.get(), w.chunk, o, w.Input(i));
                eax_aes128_digest(ctx.get(), kTag, o + w.chunk);
            } else {
                eax_aes128_decrypt(ctx.get(), w.chunk, o, w.Input(i));
                uint8_t tag[kTag];
                eax_aes128_digest(ctx.get(), kTag, tag);
                ok = std::memcmp(tag, w.Tag(i), kTag) == 0 && ok;
            }
        }
        return ok;
    };
}

// --- rounds and the table -----------------------------------------------------------------

struct Result {
    std::map<std::string, double> rates; // bytes per second by contender
    double target = 0;
};

struct Table {
    std::map<std::string, Result> results;

    ~Table()
    {
        if (results.empty())
            return;
        std::printf("\n%-30s %8s %8s %9s %8s %9s %9s\n", "AEAD with AES-128, MB/s", "ours", "OpenSSL", "libgcrypt",
                    "nettle", "ours/best", "target");
        for (const auto& [name, r] : results) {
            auto rate = [&](const char* who) {
                const auto it = r.rates.find(who);
                return it == r.rates.end() ? 0.0 : it->second;
            };
            const double best = std::max({rate("OpenSSL"), rate("libgcrypt"), rate("nettle")});
            auto cell = [&](const char* who) {
                char text[16];
                if (r.rates.count(who))
                    std::snprintf(text, sizeof text, "%.0f", rate(who) / 1e6);
                else
                    std::snprintf(text, sizeof text, "-");
                return std::string(text);
            };
            const double ratio = best > 0 ? rate("ours") / best : 0;
            std::printf("%-30s %8s %8s %9s %8s %9.2f    >= %.1f%s\n", name.c_str(), cell("ours").c_str(),
                        cell("OpenSSL").c_str(), cell("libgcrypt").c_str(), cell("nettle").c_str(), ratio,
                        r.target, ratio >= r.target ? "" : " BELOW");
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

void Run(benchmark::State& state, const std::string& name, XAeadMode mode, size_t chunk, bool seal)
{
    Work w{mode, chunk, seal};
    if (!seal) {
        // The sealed input comes from ours; every peer must open it.
        Work sealer{mode, chunk, true};
        w.sealed.resize(sealer.OutputSize());
        Ours(sealer)(sealer, w.sealed);
    }
    std::vector<Contender> contenders = {{"ours", Ours(w)}};
    if (mode != XAeadMode::kEax)
        contenders.push_back({"OpenSSL", OpenSsl(w)});
#if ZEL_BENCH_GCRYPT
    contenders.push_back({"libgcrypt", Gcrypt(w)});
#endif
    if (mode == XAeadMode::kEax)
        contenders.push_back({"nettle", Nettle(w)});
    if (contenders.size() < 2) {
        state.SkipWithError("no peer for this mode in this build");
        return;
    }

    std::vector<Bytes> outputs(contenders.size(), Bytes(w.OutputSize()));
    for (size_t i = 0; i < contenders.size(); ++i) {
        if (!contenders[i].run(w, outputs[i])) {
            state.SkipWithError((std::string(contenders[i].name) + " refused a tag").c_str());
            return;
        }
        if (outputs[i] != outputs[0]) {
            state.SkipWithError((std::string(contenders[i].name) + " differs from ours").c_str());
            return;
        }
    }

    std::vector<std::vector<double>> rates(contenders.size());
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const size_t i = (round + k) % contenders.size();
            const double start = ThreadSeconds();
            const bool ok = contenders[i].run(w, outputs[i]);
            benchmark::DoNotOptimize(ok);
            benchmark::ClobberMemory();
            const double seconds = ThreadSeconds() - start;
            if (seconds > 0)
                rates[i].push_back(double(kTotal) / seconds);
        }
        ++round;
    }
    Result r;
    r.target = mode == XAeadMode::kOcb ? 0.5 : 0.4;
    double best = 0;
    for (size_t i = 0; i < contenders.size(); ++i) {
        r.rates[contenders[i].name] = Median(rates[i]);
        state.counters[std::string(contenders[i].name) + "_MBps"] = Median(rates[i]) / 1e6;
        if (i > 0)
            best = std::max(best, Median(rates[i]));
    }
    state.counters["ratio"] = best > 0 ? r.rates["ours"] / best : 0;
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(kTotal) * int64_t(contenders.size()));
    Results()[name] = r;
}

const bool kRegistered = [] {
    for (XAeadMode mode : {XAeadMode::kOcb, XAeadMode::kEax, XAeadMode::kGcm}) {
        const std::string m = mode == XAeadMode::kOcb ? "ocb" : mode == XAeadMode::kEax ? "eax" : "gcm";
        for (size_t chunk : {kTotal, kTotal / 4}) {
            for (bool seal : {true, false}) {
                const std::string name = "aes128_" + m + (seal ? "_seal" : "_open") +
                                         (chunk == kTotal ? "_1MiB" : "_4x256KiB");
                benchmark::RegisterBenchmark(("Aead/" + name).c_str(), Run, name, mode, chunk, seal)
                    ->Unit(benchmark::kMicrosecond);
            }
        }
    }
    return true;
}();

} // namespace
