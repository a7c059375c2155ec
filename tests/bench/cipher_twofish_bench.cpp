// Twofish throughput over a 1 MiB message, electronic codebook and cipher
// block chaining in both directions, next to nettle's Twofish (OpenSSL has
// none); and the key set-up time of each.
//
//   bin/zel_cipher_bench --benchmark_filter=Twofish [--benchmark_repetitions=5]
//
// Twofish/<mode>/ours runs the engine's whole-message Encrypt or Decrypt
// (result buffer allocated per call, as a script gets it); .../nettle runs
// nettle into a buffer allocated once.  Twofish/<mode>/ratio times the two
// alternately within each iteration and reports both rates and ours/nettle
// as counters.  Before timing, ours is checked against nettle; a mismatch is
// reported as an error.
#include "cipher/twofish.h"

#include <benchmark/benchmark.h>
#include <nettle/cbc.h>
#include <nettle/twofish.h>

#include <cstring>
#include <ctime>
#include <random>
#include <vector>

namespace {

constexpr uint32_t kMessageSize = 1u << 20;

const XBlob& TwofishMessage()
{
    static const XBlob message = [] {
        XBlob m(kMessageSize);
        m.SetLength(kMessageSize);
        std::mt19937 random(0x2F15);
        for (uint32_t i = 0; i < kMessageSize; ++i)
            m.At(i) = uint8_t(random());
        return m;
    }();
    return message;
}

XBlob TwofishKeyMaterial(uint32_t keyBytes)
{
    std::mt19937 random(keyBytes);
    XBlob key;
    for (uint32_t i = 0; i < keyBytes; ++i)
        key.AppendByte(uint8_t(random()));
    return key;
}

struct TwofishOp {
    int32_t mode; // 1 electronic codebook, 2 cipher block chaining
    bool encrypt;
};

void NettleTwofishEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    twofish_encrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
}

void NettleTwofishDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
{
    twofish_decrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
}

class NettleTwofish {
public:
    explicit NettleTwofish(const XBlob& key) { twofish_set_key(&context_, key.Length(), key.Data()); }

    // The whole message, CBC from a zero initialisation vector.
    void Run(TwofishOp op, const uint8_t* in, uint8_t* out, size_t length) const
    {
        uint8_t iv[16] = {};
        if (op.mode == 1)
            (op.encrypt ? NettleTwofishEncrypt : NettleTwofishDecrypt)(&context_, length, out, in);
        else if (op.encrypt)
            cbc_encrypt(&context_, NettleTwofishEncrypt, 16, iv, length, out, in);
        else
            cbc_decrypt(&context_, NettleTwofishDecrypt, 16, iv, length, out, in);
    }

private:
    twofish_ctx context_;
};

XBlob OursRun(XTwofish& engine, TwofishOp op, const XBlob& message)
{
    return op.encrypt ? engine.Encrypt(message) : engine.Decrypt(message);
}

// Ours and nettle agree on the message from a zero chaining block.
bool TwofishAgrees(TwofishOp op, const XBlob& key)
{
    const XBlob& m = TwofishMessage();
    XTwofish engine;
    engine.Setup(op.mode, 0);
    engine.MakeKey(key, key.Length());
    const XBlob ours = OursRun(engine, op, m);
    std::vector<uint8_t> theirs(m.Length());
    NettleTwofish(key).Run(op, m.Data(), theirs.data(), m.Length());
    return ours.Length() == m.Length() && std::memcmp(ours.Data(), theirs.data(), m.Length()) == 0;
}

void TwofishOurs(benchmark::State& state, TwofishOp op)
{
    const XBlob key = TwofishKeyMaterial(32);
    if (!TwofishAgrees(op, key)) {
        state.SkipWithError("ours differs from nettle");
        return;
    }
    const XBlob& m = TwofishMessage();
    XTwofish engine;
    engine.Setup(op.mode, 0);
    engine.MakeKey(key, key.Length());
    for (auto _ : state) {
        XBlob out = OursRun(engine, op, m);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

void TwofishNettle(benchmark::State& state, TwofishOp op)
{
    const XBlob& m = TwofishMessage();
    const NettleTwofish nettle(TwofishKeyMaterial(32));
    std::vector<uint8_t> out(m.Length());
    for (auto _ : state) {
        nettle.Run(op, m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

// Both in turn, each iteration, timed by processor time (so that other load
// on the machine counts less); the counters are rates in MB/s (10^6 bytes)
// and the ratio ours/nettle.
void TwofishRatio(benchmark::State& state, TwofishOp op)
{
    const XBlob key = TwofishKeyMaterial(32);
    if (!TwofishAgrees(op, key)) {
        state.SkipWithError("ours differs from nettle");
        return;
    }
    const XBlob& m = TwofishMessage();
    XTwofish engine;
    engine.Setup(op.mode, 0);
    engine.MakeKey(key, key.Length());
    const NettleTwofish nettle(key);
    std::vector<uint8_t> out(m.Length());
    std::clock_t ours = 0, theirs = 0;
    for (auto _ : state) {
        const std::clock_t t0 = std::clock();
        XBlob result = OursRun(engine, op, m);
        benchmark::DoNotOptimize(result.Data());
        benchmark::ClobberMemory();
        const std::clock_t t1 = std::clock();
        nettle.Run(op, m.Data(), out.data(), m.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
        const std::clock_t t2 = std::clock();
        ours += t1 - t0;
        theirs += t2 - t1;
    }
    const double bytes = double(state.iterations()) * m.Length();
    if (ours <= 0 || theirs <= 0) {
        state.SkipWithError("processor time did not advance");
        return;
    }
    const double oursRate = bytes * CLOCKS_PER_SEC / double(ours);
    const double theirRate = bytes * CLOCKS_PER_SEC / double(theirs);
    state.counters["ours_MBps"] = oursRate / 1e6;
    state.counters["nettle_MBps"] = theirRate / 1e6;
    state.counters["ratio"] = oursRate / theirRate;
}

void TwofishKeySetupOurs(benchmark::State& state)
{
    const XBlob key = TwofishKeyMaterial(uint32_t(state.range(0)) / 8);
    XTwofish engine;
    engine.Setup(1, 0);
    for (auto _ : state) {
        engine.MakeKey(key, key.Length());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

void TwofishKeySetupNettle(benchmark::State& state)
{
    const XBlob key = TwofishKeyMaterial(uint32_t(state.range(0)) / 8);
    twofish_ctx context;
    for (auto _ : state) {
        twofish_set_key(&context, key.Length(), key.Data());
        benchmark::DoNotOptimize(&context);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations());
}

constexpr TwofishOp kEcbEncrypt{1, true}, kEcbDecrypt{1, false}, kCbcEncrypt{2, true}, kCbcDecrypt{2, false};

BENCHMARK_CAPTURE(TwofishOurs, ECB_encrypt, kEcbEncrypt)->Name("Twofish/ECB_encrypt/ours");
BENCHMARK_CAPTURE(TwofishNettle, ECB_encrypt, kEcbEncrypt)->Name("Twofish/ECB_encrypt/nettle");
BENCHMARK_CAPTURE(TwofishRatio, ECB_encrypt, kEcbEncrypt)->Name("Twofish/ECB_encrypt/ratio");
BENCHMARK_CAPTURE(TwofishOurs, ECB_decrypt, kEcbDecrypt)->Name("Twofish/ECB_decrypt/ours");
BENCHMARK_CAPTURE(TwofishNettle, ECB_decrypt, kEcbDecrypt)->Name("Twofish/ECB_decrypt/nettle");
BENCHMARK_CAPTURE(TwofishRatio, ECB_decrypt, kEcbDecrypt)->Name("Twofish/ECB_decrypt/ratio");
BENCHMARK_CAPTURE(TwofishOurs, CBC_encrypt, kCbcEncrypt)->Name("Twofish/CBC_encrypt/ours");
BENCHMARK_CAPTURE(TwofishNettle, CBC_encrypt, kCbcEncrypt)->Name("Twofish/CBC_encrypt/nettle");
BENCHMARK_CAPTURE(TwofishRatio, CBC_encrypt, kCbcEncrypt)->Name("Twofish/CBC_encrypt/ratio");
BENCHMARK_CAPTURE(TwofishOurs, CBC_decrypt, kCbcDecrypt)->Name("Twofish/CBC_decrypt/ours");
BENCHMARK_CAPTURE(TwofishNettle, CBC_decrypt, kCbcDecrypt)->Name("Twofish/CBC_decrypt/nettle");
BENCHMARK_CAPTURE(TwofishRatio, CBC_decrypt, kCbcDecrypt)->Name("Twofish/CBC_decrypt/ratio");
BENCHMARK(TwofishKeySetupOurs)->Name("Twofish/key_setup/ours")->Arg(128)->Arg(192)->Arg(256);
BENCHMARK(TwofishKeySetupNettle)->Name("Twofish/key_setup/nettle")->Arg(128)->Arg(192)->Arg(256);

} // namespace
