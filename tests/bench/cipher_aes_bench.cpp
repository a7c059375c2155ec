// AES throughput over a 1 MiB message, codebook (ECB) and chaining (CBC),
// enciphering and deciphering, for the three key sizes: ours through the
// whole-message Encrypt/Decrypt (with the AES instructions and with the
// portable tables), ours through the batch block functions alone, OpenSSL's
// EVP ciphers and nettle.  Then the time of a key set-up.
//
//   bin/zel_cipher_bench --benchmark_filter=Aes [--benchmark_repetitions=5]
//
// After the benchmarks, a table of ratios ours/theirs is printed (median
// rate over the full-length runs of each benchmark).  Every "ours" benchmark
// first checks its output against OpenSSL's and reports an error instead of
// a rate when they differ.
#include "cipher/aes.h"

#include <benchmark/benchmark.h>
#include <nettle/aes.h>
#include <nettle/cbc.h>
#include <openssl/evp.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <random>
#include <string>
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

Bytes KeyOf(uint32_t size)
{
    Bytes key(size);
    for (uint32_t i = 0; i < size; ++i)
        key[i] = uint8_t(0x3b * i + 7);
    return key;
}

XBlob BlobOf(const Bytes& v)
{
    XBlob b;
    b.AppendBytes(v.data(), uint32_t(v.size()));
    return b;
}

// --- the rate table --------------------------------------------------------

// Bytes per second of each run of each benchmark, timed here around the
// benchmark loop (processor time); printed as ratios when the program ends.
struct Run {
    double seconds;
    double bytes;
};

class RateTable {
public:
    void Add(const std::string& name, double seconds, double bytes) { runs_[name].push_back({seconds, bytes}); }

    // Median rate of the runs that took at least half as long as the longest
    // (the runs the library used to pick an iteration count are shorter).
    double Rate(const std::string& name) const
    {
        const auto it = runs_.find(name);
        if (it == runs_.end())
            return 0;
        double longest = 0;
        for (const Run& r : it->second)
            longest = std::max(longest, r.seconds);
        std::vector<double> rates;
        for (const Run& r : it->second)
            if (r.seconds >= longest / 2 && r.seconds > 0)
                rates.push_back(r.bytes / r.seconds);
        if (rates.empty())
            return 0;
        std::sort(rates.begin(), rates.end());
        const size_t n = rates.size();
        return n % 2 ? rates[n / 2] : (rates[n / 2 - 1] + rates[n / 2]) / 2;
    }

    ~RateTable() { Print(); }

private:
    void Ratio(const std::string& label, const std::string& ours, const std::string& theirs, double target) const
    {
        const double a = Rate(ours), b = Rate(theirs);
        if (a == 0 || b == 0)
            return;
        std::printf("%-34s %8.0f MB/s %8.0f MB/s %6.2f", label.c_str(), a / 1e6, b / 1e6, a / b);
        if (target > 0)
            std::printf("   >= %.2f%s", target, a / b >= target ? "" : "  BELOW TARGET");
        std::printf("\n");
    }

    void Print() const
    {
        if (runs_.empty())
            return;
        std::printf("\n%-34s %13s %13s %6s\n", "AES, 1 MiB message", "ours", "theirs", "ratio");
        std::printf("(MB = 10^6 bytes; ours = whole-message Encrypt/Decrypt; blocks = batch block functions)\n");
        for (const char* bits : {"128", "192", "256"}) {
            for (const char* op : {"ecb_encrypt", "ecb_decrypt", "cbc_encrypt", "cbc_decrypt"}) {
                const std::string base = std::string("Aes") + bits + "/" + op + "/";
                const std::string label = std::string("AES-") + bits + " " + op;
                // CBC deciphering has no target: it is the codebook path plus an XOR.
                const double target = std::strcmp(op, "cbc_decrypt") == 0 ? 0 : 0.8;
                Ratio(label + " vs OpenSSL", base + "ours", base + "openssl", target);
                Ratio(label + " blocks vs OpenSSL", base + "ours_blocks", base + "openssl", 0);
                Ratio(label + " portable vs OpenSSL", base + "ours_portable", base + "openssl", 0);
                Ratio(label + " vs nettle", base + "ours", base + "nettle", 0);
            }
        }
        for (const char* bits : {"128", "192", "256"}) {
            const std::string base = std::string("Aes") + bits + "/key_setup/";
            const double ours = Rate(base + "ours_make_key"), openssl = Rate(base + "openssl"),
                         nettle = Rate(base + "nettle");
            if (ours == 0)
                continue;
            // Rates here are key set-ups per second.
            std::printf("AES-%s key set-up (both schedules): ours %.0f ns", bits, 1e9 / ours);
            if (openssl > 0)
                std::printf(", OpenSSL %.0f ns", 1e9 / openssl);
            if (nettle > 0)
                std::printf(", nettle %.0f ns", 1e9 / nettle);
            std::printf("\n");
        }
        std::printf("AES engine by default: %s\n",
                    AesEngineAvailable(AesEngine::kAesNi) ? "AES instructions" : "portable");
    }

    std::map<std::string, std::vector<Run>> runs_;
};

RateTable& Rates()
{
    static RateTable table;
    return table;
}

// Times the benchmark loop around `body` and records bytes per second
// (`unit` bytes per iteration) in the rate table as well as in the library's.
template <typename Body>
void TimedLoop(benchmark::State& state, const std::string& name, double unit, Body body)
{
    // Processor time, as the library's own rates use: on a busy machine the
    // wall clock also counts the time other processes had the CPU.
    const std::clock_t start = std::clock();
    for (auto _ : state)
        body();
    const double seconds = double(std::clock() - start) / CLOCKS_PER_SEC;
    state.SetBytesProcessed(int64_t(state.iterations() * unit));
    Rates().Add(name, seconds, double(state.iterations()) * unit);
}

enum class Op { kEcbEncrypt, kEcbDecrypt, kCbcEncrypt, kCbcDecrypt };

bool IsEcb(Op op)
{
    return op == Op::kEcbEncrypt || op == Op::kEcbDecrypt;
}

bool IsEncrypt(Op op)
{
    return op == Op::kEcbEncrypt || op == Op::kCbcEncrypt;
}

const EVP_CIPHER* EvpCipher(uint32_t keySize, Op op)
{
    const bool ecb = IsEcb(op);
    switch (keySize) {
    case 16:
        return ecb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
    case 24:
        return ecb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
    default:
        return ecb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
    }
}

using EvpContext = std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)>;

EvpContext OpenSslContext(uint32_t keySize, Op op)
{
    EvpContext ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    const Bytes key = KeyOf(keySize);
    const uint8_t iv[16] = {};
    EVP_CipherInit_ex(ctx.get(), EvpCipher(keySize, op), nullptr, key.data(), iv, IsEncrypt(op) ? 1 : 0);
    EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    return ctx;
}

// OpenSSL's result for the message under a zero IV.
Bytes OpenSslResult(uint32_t keySize, Op op, const XBlob& m)
{
    EvpContext ctx = OpenSslContext(keySize, op);
    Bytes out(m.Length());
    int n = 0;
    EVP_CipherUpdate(ctx.get(), out.data(), &n, m.Data(), int(m.Length()));
    out.resize(size_t(n));
    return out;
}

// Ours through Encrypt/Decrypt, as the scriptable objects use it.
void Ours(benchmark::State& state, const std::string& name, uint32_t keySize, Op op, AesEngine engine)
{
    const XBlob& m = Message();
    if (!AesSelectEngine(engine)) {
        state.SkipWithError("engine not available on this CPU");
        return;
    }
    XAes aes;
    aes.Setup(IsEcb(op) ? 1 : 2, 0);
    aes.MakeKey(BlobOf(KeyOf(keySize)), keySize);
    const XBlob first = IsEncrypt(op) ? aes.Encrypt(m) : aes.Decrypt(m);
    if (Bytes(first.Data(), first.Data() + first.Length()) != OpenSslResult(keySize, op, m)) {
        state.SkipWithError("result differs from OpenSSL's");
        return;
    }
    TimedLoop(state, name, m.Length(), [&] {
        XBlob out = IsEncrypt(op) ? aes.Encrypt(m) : aes.Decrypt(m);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    });
}

// Ours through the batch block functions into a buffer allocated once
// (codebook and chained enciphering; chained deciphering has none).
void OursBlocks(benchmark::State& state, const std::string& name, uint32_t keySize, Op op)
{
    const XBlob& m = Message();
    AesSelectEngine(AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi : AesEngine::kPortable);
    XAes aes;
    aes.MakeKey(BlobOf(KeyOf(keySize)), keySize);
    Bytes out(m.Length());
    const size_t blocks = m.Length() / 16;
    uint8_t chain[16] = {};
    auto run = [&] {
        switch (op) {
        case Op::kEcbEncrypt:
            aes.EncryptBlocks(m.Data(), out.data(), blocks);
            break;
        case Op::kEcbDecrypt:
            aes.DecryptBlocks(m.Data(), out.data(), blocks);
            break;
        default:
            aes.EncryptBlocksChained(m.Data(), out.data(), blocks, chain);
            break;
        }
    };
    run();
    if (out != OpenSslResult(keySize, op, m)) {
        state.SkipWithError("result differs from OpenSSL's");
        return;
    }
    TimedLoop(state, name, m.Length(), [&] {
        run();
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}

void OpenSsl(benchmark::State& state, const std::string& name, uint32_t keySize, Op op)
{
    const XBlob& m = Message();
    EvpContext ctx = OpenSslContext(keySize, op);
    Bytes out(m.Length());
    TimedLoop(state, name, m.Length(), [&] {
        int n = 0;
        EVP_CipherUpdate(ctx.get(), out.data(), &n, m.Data(), int(m.Length()));
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}

// nettle's per-size contexts behind one interface.
struct NettleAes {
    explicit NettleAes(uint32_t keySize, bool encrypt) : size(keySize)
    {
        const Bytes key = KeyOf(keySize);
        if (size == 16) {
            encrypt ? aes128_set_encrypt_key(&c128, key.data()) : aes128_set_decrypt_key(&c128, key.data());
            f = encrypt ? reinterpret_cast<nettle_cipher_func*>(aes128_encrypt)
                        : reinterpret_cast<nettle_cipher_func*>(aes128_decrypt);
            ctx = &c128;
        } else if (size == 24) {
            encrypt ? aes192_set_encrypt_key(&c192, key.data()) : aes192_set_decrypt_key(&c192, key.data());
            f = encrypt ? reinterpret_cast<nettle_cipher_func*>(aes192_encrypt)
                        : reinterpret_cast<nettle_cipher_func*>(aes192_decrypt);
            ctx = &c192;
        } else {
            encrypt ? aes256_set_encrypt_key(&c256, key.data()) : aes256_set_decrypt_key(&c256, key.data());
            f = encrypt ? reinterpret_cast<nettle_cipher_func*>(aes256_encrypt)
                        : reinterpret_cast<nettle_cipher_func*>(aes256_decrypt);
            ctx = &c256;
        }
    }
    uint32_t size;
    aes128_ctx c128;
    aes192_ctx c192;
    aes256_ctx c256;
    const void* ctx = nullptr;
    nettle_cipher_func* f = nullptr;
};

void Nettle(benchmark::State& state, const std::string& name, uint32_t keySize, Op op)
{
    const XBlob& m = Message();
    NettleAes aes(keySize, IsEncrypt(op));
    Bytes out(m.Length());
    uint8_t iv[16] = {};
    TimedLoop(state, name, m.Length(), [&] {
        switch (op) {
        case Op::kEcbEncrypt:
        case Op::kEcbDecrypt:
            aes.f(aes.ctx, m.Length(), out.data(), m.Data());
            break;
        case Op::kCbcEncrypt:
            cbc_encrypt(aes.ctx, aes.f, 16, iv, m.Length(), out.data(), m.Data());
            break;
        case Op::kCbcDecrypt:
            cbc_decrypt(aes.ctx, aes.f, 16, iv, m.Length(), out.data(), m.Data());
            break;
        }
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    });
}

// --- key set-up: rates are set-ups per second ----------------------------------

void OursMakeKey(benchmark::State& state, const std::string& name, uint32_t keySize)
{
    const XBlob material = BlobOf(KeyOf(keySize));
    XAes aes;
    aes.Setup(1, 0);
    TimedLoop(state, name, 1, [&] {
        aes.MakeKey(material, keySize);
        benchmark::ClobberMemory();
    });
    state.SetLabel("both schedules");
}

void OursSetKey(benchmark::State& state, const std::string& name, uint32_t keySize)
{
    XAes source;
    source.MakeKey(BlobOf(KeyOf(keySize)), keySize);
    const XBlob record = source.GetKey();
    XAes aes;
    TimedLoop(state, name, 1, [&] {
        aes.SetKey(record);
        benchmark::ClobberMemory();
    });
}

// The encryption and the decryption key, as MakeKey builds both.
void OpenSslKeySetup(benchmark::State& state, const std::string& name, uint32_t keySize)
{
    const Bytes key = KeyOf(keySize);
    EvpContext enc = OpenSslContext(keySize, Op::kEcbEncrypt);
    EvpContext dec = OpenSslContext(keySize, Op::kEcbDecrypt);
    TimedLoop(state, name, 1, [&] {
        EVP_CipherInit_ex(enc.get(), nullptr, nullptr, key.data(), nullptr, 1);
        EVP_CipherInit_ex(dec.get(), nullptr, nullptr, key.data(), nullptr, 0);
        benchmark::ClobberMemory();
    });
}

void NettleKeySetup(benchmark::State& state, const std::string& name, uint32_t keySize)
{
    const Bytes key = KeyOf(keySize);
    aes128_ctx e128, d128;
    aes192_ctx e192, d192;
    aes256_ctx e256, d256;
    TimedLoop(state, name, 1, [&] {
        if (keySize == 16) {
            aes128_set_encrypt_key(&e128, key.data());
            aes128_set_decrypt_key(&d128, key.data());
        } else if (keySize == 24) {
            aes192_set_encrypt_key(&e192, key.data());
            aes192_set_decrypt_key(&d192, key.data());
        } else {
            aes256_set_encrypt_key(&e256, key.data());
            aes256_set_decrypt_key(&d256, key.data());
        }
        benchmark::ClobberMemory();
    });
}

// --- registration -------------------------------------------------------------

// Registers `function` under `name`, which it also receives for the rate table.
template <typename Function, typename... Args>
void Register(const std::string& name, Function function, Args... args)
{
    benchmark::RegisterBenchmark(name.c_str(), function, name, args...);
}

const bool kRegistered = [] {
    struct OpName {
        Op op;
        const char* name;
    };
    const OpName ops[] = {
        {Op::kEcbEncrypt, "ecb_encrypt"},
        {Op::kEcbDecrypt, "ecb_decrypt"},
        {Op::kCbcEncrypt, "cbc_encrypt"},
        {Op::kCbcDecrypt, "cbc_decrypt"},
    };
    for (uint32_t keySize : {16u, 24u, 32u}) {
        const std::string prefix = "Aes" + std::to_string(keySize * 8) + "/";
        for (const OpName& o : ops) {
            const std::string base = prefix + o.name + "/";
            Register(base + "ours", Ours, keySize, o.op, AesEngine::kAesNi);
            if (o.op != Op::kCbcDecrypt)
                Register(base + "ours_blocks", OursBlocks, keySize, o.op);
            Register(base + "ours_portable", Ours, keySize, o.op, AesEngine::kPortable);
            Register(base + "openssl", OpenSsl, keySize, o.op);
            Register(base + "nettle", Nettle, keySize, o.op);
        }
        Register(prefix + "key_setup/ours_make_key", OursMakeKey, keySize);
        Register(prefix + "key_setup/ours_set_key", OursSetKey, keySize);
        Register(prefix + "key_setup/openssl", OpenSslKeySetup, keySize);
        Register(prefix + "key_setup/nettle", NettleKeySetup, keySize);
    }
    return true;
}();

} // namespace
