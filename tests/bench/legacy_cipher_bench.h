// The benchmark bodies shared by the legacy block-cipher engines (Twofish,
// Blowfish, CAST5, TripleDES): bulk throughput over a 1 MiB message
// (electronic codebook and cipher block chaining, both directions) next to
// the peers that have the cipher: OpenSSL's EVP cipher (legacy provider for
// Blowfish and CAST5; OpenSSL has no Twofish), nettle and libgcrypt; and the
// key set-up time of each.
//
// An engine is described by a traits class:
//
//   struct Traits {
//       using Engine = XBlowfish;                     // the engine under test
//       static constexpr uint32_t kBlock = 8;         // block size in bytes
//       static constexpr const char* kOpenSsl = "BF"; // EVP name without "-ECB"/"-CBC", or nullptr
//       static constexpr int kGcrypt = GCRY_CIPHER_BLOWFISH; // (only read when libgcrypt is linked)
//       static void Load(Engine&, const XBlob& key);  // the key into the engine
//       using NettleContext = blowfish_ctx;
//       static void NettleSetKey(NettleContext*, const XBlob& key);
//       static void NettleEncrypt(const void*, size_t, uint8_t*, const uint8_t*);
//       static void NettleDecrypt(const void*, size_t, uint8_t*, const uint8_t*);
//   };
//
// <Name>/<mode>/ours runs the engine's whole-message Encrypt or Decrypt
// (result buffer allocated per call, as a script gets it); .../openssl,
// .../nettle and .../libgcrypt run into a buffer allocated once, each from a
// zero IV.  <Name>/<mode>/rounds runs them all in each iteration (one round),
// the order rotating from round to round, each timed by the thread's
// processor time; its counters are the medians of the per-round rates in
// MB/s (10^6 bytes) and ours over the fastest peer of that row.  Before
// timing, every peer's output is compared with ours; a mismatch is reported
// as an error.  When the program ends, a table of the rounds' medians is
// printed: each row with ours / best peer.
#pragma once

#include "core/xblob.h"
#include "tests/bench/bench_rounds.h"

#include <benchmark/benchmark.h>
#include <nettle/cbc.h>
#include <openssl/evp.h>
#include <openssl/provider.h>
#if ZEL_BENCH_GCRYPT
#include <gcrypt.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace legacy_cipher_bench {

constexpr uint32_t kMessageSize = 1u << 20;

inline const XBlob& Message()
{
    static const XBlob message = [] {
        XBlob m(kMessageSize);
        m.SetLength(kMessageSize);
        std::mt19937 random(0xB10C);
        for (uint32_t i = 0; i < kMessageSize; ++i)
            m.At(i) = uint8_t(random());
        return m;
    }();
    return message;
}

inline XBlob KeyMaterial(uint32_t bytes)
{
    std::mt19937 random(bytes * 7919u);
    XBlob key;
    for (uint32_t i = 0; i < bytes; ++i)
        key.AppendByte(uint8_t(random()));
    return key;
}

struct Op {
    int32_t mode; // 1 electronic codebook, 2 cipher block chaining
    bool encrypt;
};

// The rounds' medians of every row, printed as one table when the program ends.
struct Row {
    double ours = 0;
    PeerRates peers; // name, bytes per second
};

class Table {
public:
    ~Table()
    {
        if (rows_.empty())
            return;
        std::printf("\nLegacy ciphers, 1 MiB message, MB/s (MB = 10^6 bytes; medians of rounds in rotating order,"
                    " thread processor time)\n");
        std::printf("%-24s %8s %8s %8s %9s %10s  %s\n", "", "ours", "OpenSSL", "nettle", "libgcrypt", "ours/best",
                    "best peer");
        for (const auto& [name, row] : rows_) {
            const auto [bestName, best] = BestPeer(row.peers);
            std::printf("%-24s %8.0f %8s %8s %9s %10.2f  %s\n", name.c_str(), row.ours / 1e6,
                        PeerRateText(row.peers, "OpenSSL").c_str(), PeerRateText(row.peers, "nettle").c_str(),
                        PeerRateText(row.peers, "libgcrypt").c_str(), best > 0 ? row.ours / best : 0,
                        bestName.c_str());
        }
    }

    std::map<std::string, Row> rows_;
};

inline Table& Results()
{
    static Table table;
    return table;
}

// --- the peers ------------------------------------------------------------------------

// OpenSSL's EVP cipher keyed once; each Run starts from a zero IV.
class OpenSslCipher {
public:
    OpenSslCipher(const char* algorithm, Op op, const XBlob& key) : ctx_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free)
    {
        static const bool providers = OSSL_PROVIDER_load(nullptr, "legacy") != nullptr &&
                                      OSSL_PROVIDER_load(nullptr, "default") != nullptr;
        const std::string name = std::string(algorithm) + (op.mode == 1 ? "-ECB" : "-CBC");
        cipher_ = EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr);
        ok_ = providers && cipher_ && ctx_ &&
              EVP_CipherInit_ex2(ctx_.get(), cipher_, nullptr, nullptr, op.encrypt, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx_.get(), int(key.Length())) == 1 &&
              EVP_CipherInit_ex2(ctx_.get(), nullptr, key.Data(), nullptr, op.encrypt, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_padding(ctx_.get(), 0) == 1;
    }
    ~OpenSslCipher() { EVP_CIPHER_free(cipher_); }
    OpenSslCipher(const OpenSslCipher&) = delete;
    OpenSslCipher& operator=(const OpenSslCipher&) = delete;

    bool Ok() const { return ok_; }

    void Run(const uint8_t* in, uint8_t* out, size_t length)
    {
        static const uint8_t zero[16] = {};
        int n = 0;
        EVP_CipherInit_ex2(ctx_.get(), nullptr, nullptr, zero, -1, nullptr);
        EVP_CipherUpdate(ctx_.get(), out, &n, in, int(length));
    }

    // Key set-up alone: a new key into the keyed context.
    void Rekey(const XBlob& key) { EVP_CipherInit_ex2(ctx_.get(), nullptr, key.Data(), nullptr, -1, nullptr); }

private:
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx_;
    EVP_CIPHER* cipher_ = nullptr;
    bool ok_ = false;
};

template <typename Traits>
class NettleCipher {
public:
    explicit NettleCipher(const XBlob& key) { Traits::NettleSetKey(&context_, key); }

    void Run(Op op, const uint8_t* in, uint8_t* out, size_t length) const
    {
        uint8_t iv[16] = {};
        if (op.mode == 1)
            (op.encrypt ? Traits::NettleEncrypt : Traits::NettleDecrypt)(&context_, length, out, in);
        else if (op.encrypt)
            cbc_encrypt(&context_, Traits::NettleEncrypt, Traits::kBlock, iv, length, out, in);
        else
            cbc_decrypt(&context_, Traits::NettleDecrypt, Traits::kBlock, iv, length, out, in);
    }

private:
    typename Traits::NettleContext context_;
};

#if ZEL_BENCH_GCRYPT
inline bool GcryptReady()
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

// libgcrypt's cipher handle keyed once; each Run starts from a zero IV.
class GcryptCipher {
public:
    GcryptCipher(int algorithm, Op op, const XBlob& key) : op_(op)
    {
        ok_ = GcryptReady() &&
              gcry_cipher_open(&h_, algorithm, op.mode == 1 ? GCRY_CIPHER_MODE_ECB : GCRY_CIPHER_MODE_CBC, 0) == 0 &&
              gcry_cipher_setkey(h_, key.Data(), key.Length()) == 0;
        block_ = gcry_cipher_get_algo_blklen(algorithm);
    }
    ~GcryptCipher() { gcry_cipher_close(h_); }
    GcryptCipher(const GcryptCipher&) = delete;
    GcryptCipher& operator=(const GcryptCipher&) = delete;

    bool Ok() const { return ok_; }

    void Run(const uint8_t* in, uint8_t* out, size_t length)
    {
        static const uint8_t zero[16] = {};
        if (op_.mode == 2)
            gcry_cipher_setiv(h_, zero, block_);
        if (op_.encrypt)
            gcry_cipher_encrypt(h_, out, length, in, length);
        else
            gcry_cipher_decrypt(h_, out, length, in, length);
    }

    // Key set-up alone.
    void Rekey(const XBlob& key) { gcry_cipher_setkey(h_, key.Data(), key.Length()); }

private:
    gcry_cipher_hd_t h_ = nullptr;
    Op op_;
    size_t block_ = 16;
    bool ok_ = false;
};
#endif

// --- ours -----------------------------------------------------------------------------

template <typename Traits>
XBlob OursRun(typename Traits::Engine& engine, Op op, const XBlob& message)
{
    return op.encrypt ? engine.Encrypt(message) : engine.Decrypt(message);
}

// The engine set up for the operation from a zero chaining block.
template <typename Traits>
void Prepare(typename Traits::Engine& engine, Op op, const XBlob& key)
{
    engine.Setup(op.mode, 0);
    Traits::Load(engine, key);
}

// One implementation of the operation: runs the whole message and keeps
// what it wrote in `out`.
struct Contender {
    std::string name;
    std::function<void()> run;
    const uint8_t* out = nullptr;
    std::function<void()> release = [] {}; // after the timed run
};

// Every peer that has the cipher, keyed, writing into its own buffer.
template <typename Traits>
struct Peers {
    Peers(Op op, const XBlob& key) : nettle(key)
    {
        const XBlob& m = Message();
        if (Traits::kOpenSsl) {
            openssl = std::make_unique<OpenSslCipher>(Traits::kOpenSsl, op, key);
            opensslOut.resize(m.Length());
        }
        nettleOut.resize(m.Length());
#if ZEL_BENCH_GCRYPT
        gcrypt = std::make_unique<GcryptCipher>(Traits::kGcrypt, op, key);
        gcryptOut.resize(m.Length());
#endif
        this->op = op;
    }

    // The contenders after ours; empty with an error text in `failure` when
    // a peer could not be set up.
    std::vector<Contender> List(std::string& failure)
    {
        const XBlob& m = Message();
        std::vector<Contender> list;
        if (openssl) {
            if (!openssl->Ok()) {
                failure = "OpenSSL refused the cipher";
                return {};
            }
            list.push_back({"OpenSSL", [this, &m] { openssl->Run(m.Data(), opensslOut.data(), m.Length()); },
                            opensslOut.data()});
        }
        list.push_back(
            {"nettle", [this, &m] { nettle.Run(op, m.Data(), nettleOut.data(), m.Length()); }, nettleOut.data()});
#if ZEL_BENCH_GCRYPT
        if (!gcrypt->Ok()) {
            failure = "libgcrypt refused the cipher";
            return {};
        }
        list.push_back(
            {"libgcrypt", [this, &m] { gcrypt->Run(m.Data(), gcryptOut.data(), m.Length()); }, gcryptOut.data()});
#endif
        return list;
    }

    Op op;
    std::unique_ptr<OpenSslCipher> openssl;
    std::vector<uint8_t> opensslOut;
    NettleCipher<Traits> nettle;
    std::vector<uint8_t> nettleOut;
#if ZEL_BENCH_GCRYPT
    std::unique_ptr<GcryptCipher> gcrypt;
    std::vector<uint8_t> gcryptOut;
#endif
};

// Every peer agrees with ours on the whole message; the name of the first
// that does not, or an empty string.
template <typename Traits>
std::string Disagreeing(Op op, const XBlob& key, std::vector<Contender>& peers)
{
    const XBlob& m = Message();
    typename Traits::Engine engine;
    Prepare<Traits>(engine, op, key);
    const XBlob ours = OursRun<Traits>(engine, op, m);
    for (Contender& peer : peers) {
        peer.run();
        if (ours.Length() != m.Length() || std::memcmp(ours.Data(), peer.out, m.Length()) != 0)
            return peer.name;
    }
    return {};
}

// --- the benchmarks -------------------------------------------------------------------

template <typename Traits>
void Ours(benchmark::State& state, Op op, uint32_t keyBytes)
{
    const XBlob key = KeyMaterial(keyBytes);
    const XBlob& m = Message();
    typename Traits::Engine engine;
    Prepare<Traits>(engine, op, key);
    for (auto _ : state) {
        XBlob out = OursRun<Traits>(engine, op, m);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

// One peer alone (`which` names it), after checking it against ours.
template <typename Traits>
void Peer(benchmark::State& state, Op op, uint32_t keyBytes, const std::string& which)
{
    const XBlob key = KeyMaterial(keyBytes);
    Peers<Traits> peers(op, key);
    std::string failure;
    std::vector<Contender> list = peers.List(failure);
    auto it = std::find_if(list.begin(), list.end(), [&](const Contender& c) { return c.name == which; });
    if (it == list.end()) {
        state.SkipWithError(failure.empty() ? (which + " has no such cipher").c_str() : failure.c_str());
        return;
    }
    std::vector<Contender> one{*it};
    if (!Disagreeing<Traits>(op, key, one).empty()) {
        state.SkipWithError((which + " differs from ours").c_str());
        return;
    }
    for (auto _ : state) {
        it->run();
        benchmark::DoNotOptimize(it->out);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * Message().Length());
}

// Ours and every peer in each round, the order rotating; medians of the
// per-round rates.
template <typename Traits>
void Rounds(benchmark::State& state, Op op, uint32_t keyBytes, const std::string& row)
{
    const XBlob key = KeyMaterial(keyBytes);
    const XBlob& m = Message();
    Peers<Traits> peers(op, key);
    std::string failure;
    std::vector<Contender> contenders = peers.List(failure);
    if (contenders.empty()) {
        state.SkipWithError(failure.c_str());
        return;
    }
    const std::string differing = Disagreeing<Traits>(op, key, contenders);
    if (!differing.empty()) {
        state.SkipWithError((differing + " differs from ours").c_str());
        return;
    }
    typename Traits::Engine engine;
    Prepare<Traits>(engine, op, key);
    // Ours is timed up to the return of its result blob, as the peers are
    // timed into a buffer they keep; the blob is released (and wiped) after.
    XBlob held;
    contenders.insert(contenders.begin(), Contender{"ours",
                                                    [&] {
                                                        held = OursRun<Traits>(engine, op, m);
                                                        benchmark::DoNotOptimize(held.Data());
                                                    },
                                                    nullptr, [&] { held = XBlob(); }});
    std::vector<std::vector<double>> rates(contenders.size());
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < contenders.size(); ++k) {
            const size_t i = (round + k) % contenders.size();
            const double start = ThreadSeconds();
            contenders[i].run();
            benchmark::ClobberMemory();
            const double seconds = ThreadSeconds() - start;
            contenders[i].release();
            if (seconds > 0)
                rates[i].push_back(m.Length() / seconds);
        }
        ++round;
    }
    Row result;
    result.ours = Median(rates[0]);
    double best = 0;
    for (size_t i = 1; i < contenders.size(); ++i) {
        const double rate = Median(rates[i]);
        result.peers.emplace_back(contenders[i].name, rate);
        state.counters[contenders[i].name + "_MBps"] = rate / 1e6;
        best = std::max(best, rate);
    }
    state.counters["ours_MBps"] = result.ours / 1e6;
    state.counters["ratio"] = best > 0 ? result.ours / best : 0;
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length() * int64_t(contenders.size()));
    Results().rows_[row] = result;
}

template <typename Traits>
void KeySetupOurs(benchmark::State& state)
{
    const XBlob key = KeyMaterial(uint32_t(state.range(0)));
    typename Traits::Engine engine;
    engine.Setup(1, 0);
    for (auto _ : state) {
        Traits::Load(engine, key);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

template <typename Traits>
void KeySetupOpenSsl(benchmark::State& state)
{
    const XBlob key = KeyMaterial(uint32_t(state.range(0)));
    OpenSslCipher openssl(Traits::kOpenSsl, Op{1, true}, key);
    if (!openssl.Ok()) {
        state.SkipWithError("OpenSSL refused the cipher");
        return;
    }
    for (auto _ : state) {
        openssl.Rekey(key);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

template <typename Traits>
void KeySetupNettle(benchmark::State& state)
{
    const XBlob key = KeyMaterial(uint32_t(state.range(0)));
    typename Traits::NettleContext context;
    for (auto _ : state) {
        Traits::NettleSetKey(&context, key);
        benchmark::DoNotOptimize(&context);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

#if ZEL_BENCH_GCRYPT
template <typename Traits>
void KeySetupGcrypt(benchmark::State& state)
{
    const XBlob key = KeyMaterial(uint32_t(state.range(0)));
    GcryptCipher gcrypt(Traits::kGcrypt, Op{1, true}, key);
    if (!gcrypt.Ok()) {
        state.SkipWithError("libgcrypt refused the key");
        return;
    }
    for (auto _ : state) {
        gcrypt.Rekey(key);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}
#endif

// Registers the throughput and key set-up benchmarks under `name`: the
// messages under a key of `keyBytes`, key set-up for the sizes in
// `keySetupSizes`, libgcrypt's for those in `gcryptKeySizes` (it takes
// fewer sizes of some ciphers).
template <typename Traits>
bool Register(const char* name, uint32_t keyBytes, std::initializer_list<int64_t> keySetupSizes,
              std::initializer_list<int64_t> gcryptKeySizes)
{
    struct Mode {
        const char* label;
        Op op;
    };
    const Mode modes[] = {{"ECB_encrypt", {1, true}},
                          {"ECB_decrypt", {1, false}},
                          {"CBC_encrypt", {2, true}},
                          {"CBC_decrypt", {2, false}}};
    std::vector<std::string> peers;
    if (Traits::kOpenSsl)
        peers.push_back("OpenSSL");
    peers.push_back("nettle");
#if ZEL_BENCH_GCRYPT
    peers.push_back("libgcrypt");
#endif
    for (const Mode& mode : modes) {
        const std::string prefix = std::string(name) + "/" + mode.label + "/";
        const std::string row = std::string(name) + " " + mode.label;
        const Op op = mode.op;
        benchmark::RegisterBenchmark((prefix + "ours").c_str(),
                                     [=](benchmark::State& s) { Ours<Traits>(s, op, keyBytes); });
        for (const std::string& peer : peers)
            benchmark::RegisterBenchmark((prefix + peer).c_str(),
                                         [=](benchmark::State& s) { Peer<Traits>(s, op, keyBytes, peer); });
        benchmark::RegisterBenchmark((prefix + "rounds").c_str(),
                                     [=](benchmark::State& s) { Rounds<Traits>(s, op, keyBytes, row); });
    }
    const std::string keySetup = std::string(name) + "/key_setup/";
    auto* ours = benchmark::RegisterBenchmark((keySetup + "ours").c_str(), KeySetupOurs<Traits>);
    auto* nettle = benchmark::RegisterBenchmark((keySetup + "nettle").c_str(), KeySetupNettle<Traits>);
    for (int64_t bytes : keySetupSizes) {
        ours->Arg(bytes);
        nettle->Arg(bytes);
    }
    if (Traits::kOpenSsl) {
        auto* openssl = benchmark::RegisterBenchmark((keySetup + "OpenSSL").c_str(), KeySetupOpenSsl<Traits>);
        for (int64_t bytes : keySetupSizes)
            openssl->Arg(bytes);
    }
#if ZEL_BENCH_GCRYPT
    auto* gcrypt = benchmark::RegisterBenchmark((keySetup + "libgcrypt").c_str(), KeySetupGcrypt<Traits>);
    for (int64_t bytes : gcryptKeySizes)
        gcrypt->Arg(bytes);
#else
    (void)gcryptKeySizes;
#endif
    return true;
}

} // namespace legacy_cipher_bench
