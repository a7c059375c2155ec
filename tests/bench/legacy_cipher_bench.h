// The benchmark bodies shared by the Blowfish and CAST-128 engines: bulk
// throughput over a 1 MiB message (electronic codebook and cipher block
// chaining, both directions) next to OpenSSL's EVP cipher (legacy provider)
// and nettle, and the key set-up time of all three.
//
// An engine is described by a traits class:
//
//   struct Traits {
//       using Engine = XBlowfish;                  // the engine under test
//       static constexpr const char* kOpenSsl = "BF"; // EVP name without "-ECB"/"-CBC"
//       using NettleContext = blowfish_ctx;
//       static void NettleSetKey(NettleContext*, const XBlob& key);
//       static void NettleEncrypt(const void*, size_t, uint8_t*, const uint8_t*);
//       static void NettleDecrypt(const void*, size_t, uint8_t*, const uint8_t*);
//   };
//
// <Name>/<mode>/ours runs the engine's whole-message Encrypt or Decrypt
// (result buffer allocated per call, as a script gets it); .../openssl and
// .../nettle run into a buffer allocated once.  <Name>/<mode>/ratio runs the
// three in turn within each iteration, timed by processor time, and reports
// the rates in MB/s (10^6 bytes) and ours over each of the others and over
// the faster of them.  Before timing, ours is checked against both; a
// mismatch is reported as an error.
#pragma once

#include "core/xblob.h"

#include <benchmark/benchmark.h>
#include <nettle/cbc.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <algorithm>
#include <cstring>
#include <ctime>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace legacy_cipher_bench {

constexpr uint32_t kMessageSize = 1u << 20;
constexpr uint32_t kBlock = 8;

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
        static const uint8_t zero[kBlock] = {};
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
        uint8_t iv[kBlock] = {};
        if (op.mode == 1)
            (op.encrypt ? Traits::NettleEncrypt : Traits::NettleDecrypt)(&context_, length, out, in);
        else if (op.encrypt)
            cbc_encrypt(&context_, Traits::NettleEncrypt, kBlock, iv, length, out, in);
        else
            cbc_decrypt(&context_, Traits::NettleDecrypt, kBlock, iv, length, out, in);
    }

private:
    typename Traits::NettleContext context_;
};

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
    engine.MakeKey(key, key.Length());
}

// Ours, OpenSSL and nettle agree on the whole message.
template <typename Traits>
bool Agrees(Op op, const XBlob& key)
{
    const XBlob& m = Message();
    typename Traits::Engine engine;
    Prepare<Traits>(engine, op, key);
    const XBlob ours = OursRun<Traits>(engine, op, m);
    if (ours.Length() != m.Length())
        return false;
    std::vector<uint8_t> theirs(m.Length());
    OpenSslCipher openssl(Traits::kOpenSsl, op, key);
    if (!openssl.Ok())
        return false;
    openssl.Run(m.Data(), theirs.data(), m.Length());
    if (std::memcmp(ours.Data(), theirs.data(), m.Length()) != 0)
        return false;
    std::fill(theirs.begin(), theirs.end(), 0);
    NettleCipher<Traits>(key).Run(op, m.Data(), theirs.data(), m.Length());
    return std::memcmp(ours.Data(), theirs.data(), m.Length()) == 0;
}

template <typename Traits>
void Ours(benchmark::State& state, Op op, uint32_t keyBytes)
{
    const XBlob key = KeyMaterial(keyBytes);
    if (!Agrees<Traits>(op, key)) {
        state.SkipWithError("ours differs from OpenSSL or nettle");
        return;
    }
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

template <typename Traits>
void OpenSsl(benchmark::State& state, Op op, uint32_t keyBytes)
{
    const XBlob& m = Message();
    OpenSslCipher openssl(Traits::kOpenSsl, op, KeyMaterial(keyBytes));
    if (!openssl.Ok()) {
        state.SkipWithError("OpenSSL refused the cipher");
        return;
    }
    std::vector<uint8_t> out(m.Length());
    for (auto _ : state) {
        openssl.Run(m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

template <typename Traits>
void Nettle(benchmark::State& state, Op op, uint32_t keyBytes)
{
    const XBlob& m = Message();
    const NettleCipher<Traits> nettle(KeyMaterial(keyBytes));
    std::vector<uint8_t> out(m.Length());
    for (auto _ : state) {
        nettle.Run(op, m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

template <typename Traits>
void Ratio(benchmark::State& state, Op op, uint32_t keyBytes)
{
    const XBlob key = KeyMaterial(keyBytes);
    if (!Agrees<Traits>(op, key)) {
        state.SkipWithError("ours differs from OpenSSL or nettle");
        return;
    }
    const XBlob& m = Message();
    typename Traits::Engine engine;
    Prepare<Traits>(engine, op, key);
    OpenSslCipher openssl(Traits::kOpenSsl, op, key);
    const NettleCipher<Traits> nettle(key);
    std::vector<uint8_t> out(m.Length());
    std::clock_t ours = 0, theirsOpenSsl = 0, theirsNettle = 0;
    for (auto _ : state) {
        const std::clock_t t0 = std::clock();
        XBlob result = OursRun<Traits>(engine, op, m);
        benchmark::DoNotOptimize(result.Data());
        benchmark::ClobberMemory();
        const std::clock_t t1 = std::clock();
        openssl.Run(m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        const std::clock_t t2 = std::clock();
        nettle.Run(op, m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        const std::clock_t t3 = std::clock();
        ours += t1 - t0;
        theirsOpenSsl += t2 - t1;
        theirsNettle += t3 - t2;
    }
    if (ours <= 0 || theirsOpenSsl <= 0 || theirsNettle <= 0) {
        state.SkipWithError("processor time did not advance");
        return;
    }
    const double bytes = double(state.iterations()) * m.Length();
    const auto rate = [bytes](std::clock_t t) { return bytes * CLOCKS_PER_SEC / double(t); };
    const double oursRate = rate(ours), opensslRate = rate(theirsOpenSsl), nettleRate = rate(theirsNettle);
    state.counters["ours_MBps"] = oursRate / 1e6;
    state.counters["openssl_MBps"] = opensslRate / 1e6;
    state.counters["nettle_MBps"] = nettleRate / 1e6;
    state.counters["vs_openssl"] = oursRate / opensslRate;
    state.counters["vs_nettle"] = oursRate / nettleRate;
    state.counters["ratio"] = oursRate / std::max(opensslRate, nettleRate);
}

template <typename Traits>
void KeySetupOurs(benchmark::State& state)
{
    const XBlob key = KeyMaterial(uint32_t(state.range(0)));
    typename Traits::Engine engine;
    engine.Setup(1, 0);
    for (auto _ : state) {
        engine.MakeKey(key, key.Length());
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

// Registers the throughput and key set-up benchmarks under `name`.
template <typename Traits>
bool Register(const char* name, uint32_t keyBytes, std::initializer_list<int64_t> keySetupSizes)
{
    struct Mode {
        const char* label;
        Op op;
    };
    const Mode modes[] = {{"ECB_encrypt", {1, true}},
                          {"ECB_decrypt", {1, false}},
                          {"CBC_encrypt", {2, true}},
                          {"CBC_decrypt", {2, false}}};
    for (const Mode& mode : modes) {
        const std::string prefix = std::string(name) + "/" + mode.label + "/";
        const Op op = mode.op;
        benchmark::RegisterBenchmark((prefix + "ours").c_str(),
                                     [=](benchmark::State& s) { Ours<Traits>(s, op, keyBytes); });
        benchmark::RegisterBenchmark((prefix + "openssl").c_str(),
                                     [=](benchmark::State& s) { OpenSsl<Traits>(s, op, keyBytes); });
        benchmark::RegisterBenchmark((prefix + "nettle").c_str(),
                                     [=](benchmark::State& s) { Nettle<Traits>(s, op, keyBytes); });
        benchmark::RegisterBenchmark((prefix + "ratio").c_str(),
                                     [=](benchmark::State& s) { Ratio<Traits>(s, op, keyBytes); });
    }
    auto* ours = benchmark::RegisterBenchmark((std::string(name) + "/key_setup/ours").c_str(), KeySetupOurs<Traits>);
    auto* openssl =
        benchmark::RegisterBenchmark((std::string(name) + "/key_setup/openssl").c_str(), KeySetupOpenSsl<Traits>);
    auto* nettle =
        benchmark::RegisterBenchmark((std::string(name) + "/key_setup/nettle").c_str(), KeySetupNettle<Traits>);
    for (int64_t bytes : keySetupSizes) {
        ours->Arg(bytes);
        openssl->Arg(bytes);
        nettle->Arg(bytes);
    }
    return true;
}

} // namespace legacy_cipher_bench
