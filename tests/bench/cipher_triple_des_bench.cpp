// TripleDES (three independent keys) throughput over a 1 MiB message, ECB and
// CBC, encryption and decryption: ours through the whole-message Encrypt and
// Decrypt, next to OpenSSL's EVP DES-EDE3 ciphers and nettle's des3; then key
// set-up time for each.
//
//   bin/zel_cipher_bench --benchmark_filter=TripleDes [--benchmark_repetitions=5]
//
// Before timing, each benchmark checks that its implementation gives the same
// bytes as ours and reports an error instead when it does not.  When the run
// ends, a table of the ratios ours/theirs (rates in processor time of the timed
// runs, so that other load on the machine matters less; medians over
// repetitions) is printed.
#include "cipher/triple_des.h"

#include <benchmark/benchmark.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

namespace {

constexpr uint32_t kMessageSize = 1u << 20;

using Bytes = std::vector<uint8_t>;

const XBlob& Message()
{
    static const XBlob message = [] {
        XBlob m(kMessageSize);
        m.SetLength(kMessageSize);
        std::mt19937 random(20240612);
        for (uint32_t i = 0; i < kMessageSize; ++i)
            m.At(i) = uint8_t(random());
        return m;
    }();
    return message;
}

// Three independent DES keys.
const uint8_t kKey[24] = {
    0x3c, 0x91, 0x5e, 0x07, 0xa2, 0x6d, 0xf4, 0x18, 0x85, 0x2b, 0xc6, 0x70,
    0x1f, 0xe9, 0x54, 0xb3, 0x0a, 0xd7, 0x62, 0x9e, 0x41, 0xbc, 0x38, 0xf5,
};

XBlob KeyRecord()
{
    XBlob record;
    record.AppendBytes(kKey, sizeof kKey);
    return record;
}

Bytes Content(const XBlob& b)
{
    return Bytes(b.Data(), b.Data() + b.Length());
}

// --- processor-time rates of the timed runs, for the ratio table --------------------

class RateTable {
public:
    // Google Benchmark calls each function several times while it finds an
    // iteration count; only runs long enough to be the timed one are kept.
    void Add(const std::string& name, double seconds, double perSecond)
    {
        if (seconds >= 0.1)
            rates_[name].push_back(perSecond);
    }

    double Median(const std::string& name) const
    {
        const auto it = rates_.find(name);
        if (it == rates_.end() || it->second.empty())
            return 0;
        std::vector<double> v = it->second;
        std::sort(v.begin(), v.end());
        const size_t n = v.size();
        return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
    }

    ~RateTable()
    {
        if (rates_.empty())
            return;
        std::printf("\nTripleDES, three keys, 1 MiB message (MB/s, MB = 10^6 bytes; processor time, medians)\n");
        std::printf("%-12s %10s %10s %10s %8s   %s\n", "", "ours", "OpenSSL", "nettle", "ratio", "target >= 0.90");
        for (const char* op : {"EcbEncrypt", "EcbDecrypt", "CbcEncrypt", "CbcDecrypt"}) {
            const std::string base = std::string("TripleDes/") + op;
            const double ours = Median(base + "/ours");
            const double openssl = Median(base + "/openssl");
            const double nettle = Median(base + "/nettle");
            const double best = std::max(openssl, nettle);
            if (ours == 0 && best == 0)
                continue;
            std::printf("%-12s %10.1f %10.1f %10.1f", op, ours / 1e6, openssl / 1e6, nettle / 1e6);
            if (ours > 0 && best > 0)
                std::printf(" %8.2f   %s\n", ours / best, ours / best >= 0.9 ? "met" : "BELOW TARGET");
            else
                std::printf(" %8s\n", "-");
        }
        const double ours = Median("TripleDes/KeySetup/ours");
        const double openssl = Median("TripleDes/KeySetup/openssl");
        const double nettle = Median("TripleDes/KeySetup/nettle");
        if (ours == 0 && openssl == 0 && nettle == 0)
            return;
        std::printf("%-12s %10s %10s %10s   (ns per 24-byte key)\n", "", "ours", "OpenSSL", "nettle");
        std::printf("%-12s %10.0f %10.0f %10.0f\n", "KeySetup", ours > 0 ? 1e9 / ours : 0,
                    openssl > 0 ? 1e9 / openssl : 0, nettle > 0 ? 1e9 / nettle : 0);
    }

private:
    std::map<std::string, std::vector<double>> rates_;
};

RateTable& Rates()
{
    static RateTable table;
    return table;
}

// Runs `step` for every iteration and records bytes (or keys) per second.
template <typename Step>
void Timed(benchmark::State& state, const std::string& name, double unitsPerStep, Step step)
{
    const std::clock_t start = std::clock();
    for (auto _ : state)
        step();
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    if (seconds > 0)
        Rates().Add(name, seconds, double(state.iterations()) * unitsPerStep / seconds);
}

// --- the reference results ---------------------------------------------------------

enum class Op { kEcbEncrypt, kEcbDecrypt, kCbcEncrypt, kCbcDecrypt };

bool IsEncrypt(Op op)
{
    return op == Op::kEcbEncrypt || op == Op::kCbcEncrypt;
}

bool IsCbc(Op op)
{
    return op == Op::kCbcEncrypt || op == Op::kCbcDecrypt;
}

// Ours on a freshly set-up engine (zero chaining block).
Bytes OursOnce(Op op, const XBlob& input)
{
    XTripleDes des;
    des.Setup(IsCbc(op) ? XBlockCipher::kModeCbc : XBlockCipher::kModeEcb, 0);
    des.SetKey(KeyRecord());
    return Content(IsEncrypt(op) ? des.Encrypt(input) : des.Decrypt(input));
}

const EVP_CIPHER* OpensslCipher(Op op)
{
    return IsCbc(op) ? EVP_des_ede3_cbc() : EVP_des_ede3_ecb();
}

// --- the benchmarks -------------------------------------------------------------------

void Ours(benchmark::State& state, Op op, const std::string& name)
{
    const XBlob& m = Message();
    XTripleDes des;
    des.Setup(IsCbc(op) ? XBlockCipher::kModeCbc : XBlockCipher::kModeEcb, 0);
    des.SetKey(KeyRecord());
    Timed(state, name, m.Length(), [&] {
        XBlob out = IsEncrypt(op) ? des.Encrypt(m) : des.Decrypt(m);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

void Openssl(benchmark::State& state, Op op, const std::string& name)
{
    const XBlob& m = Message();
    Bytes out(m.Length());
    const uint8_t iv[8] = {};
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    int length = 0;
    if (!ctx || !EVP_CipherInit_ex(ctx, OpensslCipher(op), nullptr, kKey, iv, IsEncrypt(op) ? 1 : 0) ||
        !EVP_CIPHER_CTX_set_padding(ctx, 0) || !EVP_CipherUpdate(ctx, out.data(), &length, m.Data(), int(m.Length())) ||
        out != OursOnce(op, m)) {
        state.SkipWithError("OpenSSL differs from ours or is not available");
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    Timed(state, name, m.Length(), [&] {
        EVP_CipherUpdate(ctx, out.data(), &length, m.Data(), int(m.Length()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
    EVP_CIPHER_CTX_free(ctx);
}

void Nettle(benchmark::State& state, Op op, const std::string& name)
{
    const XBlob& m = Message();
    Bytes out(m.Length());
    des3_ctx ctx;
    des3_set_key(&ctx, kKey);
    uint8_t iv[8] = {};
    // nettle's own CBC helpers call the block function through this type.
    const auto encrypt = reinterpret_cast<nettle_cipher_func*>(des3_encrypt);
    const auto decrypt = reinterpret_cast<nettle_cipher_func*>(des3_decrypt);
    const auto run = [&] {
        switch (op) {
        case Op::kEcbEncrypt:
            des3_encrypt(&ctx, m.Length(), out.data(), m.Data());
            break;
        case Op::kEcbDecrypt:
            des3_decrypt(&ctx, m.Length(), out.data(), m.Data());
            break;
        case Op::kCbcEncrypt:
            cbc_encrypt(&ctx, encrypt, DES3_BLOCK_SIZE, iv, m.Length(), out.data(), m.Data());
            break;
        case Op::kCbcDecrypt:
            cbc_decrypt(&ctx, decrypt, DES3_BLOCK_SIZE, iv, m.Length(), out.data(), m.Data());
            break;
        }
    };
    run();
    if (out != OursOnce(op, m)) {
        state.SkipWithError("nettle differs from ours");
        return;
    }
    Timed(state, name, m.Length(), [&] {
        run();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
    state.SetBytesProcessed(int64_t(state.iterations()) * m.Length());
}

// Key set-up: a key record loaded and scheduled (ours), a key given to an
// initialised EVP context (OpenSSL), des3_set_key (nettle).
void OursKeySetup(benchmark::State& state)
{
    const XBlob record = KeyRecord();
    XTripleDes des;
    Timed(state, "TripleDes/KeySetup/ours", 1, [&] {
        des.SetKey(record);
        benchmark::ClobberMemory();
    });
    state.SetItemsProcessed(int64_t(state.iterations()));
}

void OpensslKeySetup(benchmark::State& state)
{
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    if (!ctx || !EVP_EncryptInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, nullptr, nullptr)) {
        state.SkipWithError("OpenSSL DES-EDE3 not available");
        EVP_CIPHER_CTX_free(ctx);
        return;
    }
    Timed(state, "TripleDes/KeySetup/openssl", 1, [&] {
        EVP_EncryptInit_ex(ctx, nullptr, nullptr, kKey, nullptr);
        benchmark::ClobberMemory();
    });
    state.SetItemsProcessed(int64_t(state.iterations()));
    EVP_CIPHER_CTX_free(ctx);
}

void NettleKeySetup(benchmark::State& state)
{
    des3_ctx ctx;
    Timed(state, "TripleDes/KeySetup/nettle", 1, [&] {
        benchmark::DoNotOptimize(des3_set_key(&ctx, kKey));
        benchmark::ClobberMemory();
    });
    state.SetItemsProcessed(int64_t(state.iterations()));
}

const bool kRegistered = [] {
    const struct {
        const char* name;
        Op op;
    } ops[] = {
        {"EcbEncrypt", Op::kEcbEncrypt},
        {"EcbDecrypt", Op::kEcbDecrypt},
        {"CbcEncrypt", Op::kCbcEncrypt},
        {"CbcDecrypt", Op::kCbcDecrypt},
    };
    for (const auto& o : ops) {
        const std::string base = std::string("TripleDes/") + o.name;
        for (const auto& [suffix, function] : {std::pair{"/ours", Ours}, {"/openssl", Openssl}, {"/nettle", Nettle}}) {
            const std::string name = base + suffix;
            benchmark::RegisterBenchmark(name.c_str(), function, o.op, name);
        }
    }
    benchmark::RegisterBenchmark("TripleDes/KeySetup/ours", OursKeySetup);
    benchmark::RegisterBenchmark("TripleDes/KeySetup/openssl", OpensslKeySetup);
    benchmark::RegisterBenchmark("TripleDes/KeySetup/nettle", NettleKeySetup);
    return true;
}();

} // namespace
