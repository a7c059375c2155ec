// Password-encrypted OpenPGP messages: Encrypt and Decrypt of a 1 MiB
// plaintext with AES-128 (cipher id 7) and Blowfish (id 4), salted
// string-to-key with SHA-1, next to OpenSSL's AES-128-CFB and BF-CFB (legacy
// provider) over the same bytes.  A benchmark, not a test: built in the
// optimised host tree only and run by hand.
//
//   bin/zel_pgp_bench [--benchmark_filter=AES128] [--benchmark_repetitions=5]
//
// PGP/<cipher>/<direction>/ours runs the whole Encrypt or Decrypt (key
// derivation, random prefix, packet headers, result buffer allocated per
// call, as a script gets it); .../openssl runs the EVP CFB cipher into a
// buffer allocated once, from a zero IV.  .../ratio runs ours, OpenSSL's CFB
// (restarted at the resync) and libgcrypt's OpenPGP CFB (with its resync)
// over the data packet's bytes in rotating rounds, timed by thread processor
// time, and reports the medians in MB/s (10^6 bytes of plaintext) and ours
// over the best peer.  Before timing, the message's data packet is
// deciphered with OpenSSL's CFB (zero IV over the prefix, then the resync:
// the IV becomes prefix bytes 2 .. bs + 1) and must give back the literal
// packet with the plaintext; a mismatch is reported as an error.
// PGP/AES128/<direction>/format<N> runs each message format (see Format).
#include "core/xblob.h"
#include "pgp/message.h"
#include "tests/bench/bench_rounds.h"

#include <benchmark/benchmark.h>
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

namespace {

constexpr uint32_t kMessageSize = 1u << 20;

const XBlob& Plaintext()
{
    static const XBlob message = [] {
        XBlob m(kMessageSize);
        m.SetLength(kMessageSize);
        std::mt19937 random(0x9C9);
        for (uint32_t i = 0; i < kMessageSize; ++i)
            m.At(i) = uint8_t(random());
        return m;
    }();
    return message;
}

struct Cipher {
    uint8_t id;
    const char* openssl; // EVP name of the CFB cipher with the full-block shift
    uint32_t blockSize;
};

const Cipher kAes128 = {7, "AES-128-CFB", 16};
const Cipher kBlowfish = {4, "BF-CFB", 8};

XBlob Password()
{
    XBlob p;
    p.AssignText("benchmark password");
    return p;
}

std::unique_ptr<XPgpMessage> NewMessage(const Cipher& c)
{
    auto m = std::make_unique<XPgpMessage>();
    m->SetPassword(Password());
    m->SetAlgorithms(2, c.id);
    m->SetS2K(XPgpMessage::kS2KSalted, 0);
    return m;
}

// OpenSSL's CFB keyed once; each Run starts from the given IV (zero when none).
class OpenSslCfb {
public:
    OpenSslCfb(const Cipher& c, const uint8_t* key, bool encrypt)
        : ctx_(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free), encrypt_(encrypt)
    {
        static const bool providers =
            OSSL_PROVIDER_load(nullptr, "legacy") != nullptr && OSSL_PROVIDER_load(nullptr, "default") != nullptr;
        cipher_ = EVP_CIPHER_fetch(nullptr, c.openssl, nullptr);
        ok_ = providers && cipher_ && ctx_ &&
              EVP_CipherInit_ex2(ctx_.get(), cipher_, nullptr, nullptr, encrypt, nullptr) == 1 &&
              EVP_CIPHER_CTX_set_key_length(ctx_.get(), 16) == 1 &&
              EVP_CipherInit_ex2(ctx_.get(), nullptr, key, nullptr, encrypt, nullptr) == 1;
    }
    ~OpenSslCfb() { EVP_CIPHER_free(cipher_); }
    OpenSslCfb(const OpenSslCfb&) = delete;
    OpenSslCfb& operator=(const OpenSslCfb&) = delete;

    bool Ok() const { return ok_; }

    void Run(const uint8_t* in, uint8_t* out, size_t length, const uint8_t* iv = nullptr)
    {
        static const uint8_t zero[16] = {};
        int n = 0;
        EVP_CipherInit_ex2(ctx_.get(), nullptr, nullptr, iv ? iv : zero, encrypt_, nullptr);
        EVP_CipherUpdate(ctx_.get(), out, &n, in, int(length));
    }

private:
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx_;
    EVP_CIPHER* cipher_ = nullptr;
    bool encrypt_;
    bool ok_ = false;
};

// The data packet of `message` deciphered by OpenSSL ends in the plaintext.
bool Agrees(const Cipher& c, const XPgpMessage& m, const XBlob& message)
{
    const XBlob& p = Plaintext();
    // Session key packet (2 + 12 bytes for the salted type), then tag 9 with
    // a 5-byte length, then the body.
    const uint32_t bodyAt = 14 + 6;
    if (message.Length() < bodyAt + c.blockSize + 2 + p.Length() || message.At(14) != 0xC9)
        return false;
    OpenSslCfb openssl(c, m.Key().Data(), false);
    if (!openssl.Ok())
        return false;
    const uint8_t* body = message.Data() + bodyAt;
    const uint32_t bodyLength = message.Length() - bodyAt;
    std::vector<uint8_t> plain(bodyLength);
    const uint32_t prefix = c.blockSize + 2;
    openssl.Run(body, plain.data(), prefix);
    openssl.Run(body + prefix, plain.data() + prefix, bodyLength - prefix, body + 2);
    const bool check = plain[c.blockSize] == plain[c.blockSize - 2] && plain[c.blockSize + 1] == plain[c.blockSize - 1];
    // Literal packet: tag, 5-byte length, 'b', empty name, 4-byte date, data.
    const uint8_t* literal = plain.data() + prefix;
    return check && literal[0] == 0xCB && literal[6] == 'b' && literal[7] == 0 &&
           bodyLength - prefix == 12 + p.Length() && std::memcmp(literal + 12, p.Data(), p.Length()) == 0;
}

XBlob OursRun(XPgpMessage& m, bool encrypt, const XBlob& input)
{
    return encrypt ? m.Encrypt(input) : m.Decrypt(input);
}

// The input of each direction: the plaintext, or a message of it.
XBlob Input(const Cipher& c, bool encrypt)
{
    if (encrypt)
        return Plaintext();
    return NewMessage(c)->Encrypt(Plaintext());
}

void Ours(benchmark::State& state, Cipher c, bool encrypt)
{
    auto m = NewMessage(c);
    const XBlob input = Input(c, encrypt);
    for (auto _ : state) {
        XBlob out = OursRun(*m, encrypt, input);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMessageSize);
}

void OpenSsl(benchmark::State& state, Cipher c, bool encrypt)
{
    const uint8_t key[16] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16};
    OpenSslCfb openssl(c, key, encrypt);
    if (!openssl.Ok()) {
        state.SkipWithError("OpenSSL refused the cipher");
        return;
    }
    const XBlob& in = Plaintext();
    std::vector<uint8_t> out(in.Length());
    for (auto _ : state) {
        openssl.Run(in.Data(), out.data(), in.Length());
        benchmark::DoNotOptimize(out.data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMessageSize);
}

#if ZEL_BENCH_GCRYPT
// libgcrypt's OpenPGP CFB keyed once: each Run goes from a zero IV over the
// bs + 2 prefix bytes, its resync, then the rest.
class GcryptPgpCfb {
public:
    GcryptPgpCfb(const Cipher& c, const uint8_t* key, bool encrypt) : encrypt_(encrypt), blockSize_(c.blockSize)
    {
        static const bool ready = [] {
            if (!gcry_check_version(nullptr))
                return false;
            gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
            gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
            return true;
        }();
        ok_ = ready &&
              gcry_cipher_open(&h_, c.id == 7 ? GCRY_CIPHER_AES128 : GCRY_CIPHER_BLOWFISH, GCRY_CIPHER_MODE_CFB,
                               GCRY_CIPHER_ENABLE_SYNC) == 0 &&
              gcry_cipher_setkey(h_, key, 16) == 0;
    }
    ~GcryptPgpCfb() { gcry_cipher_close(h_); }
    GcryptPgpCfb(const GcryptPgpCfb&) = delete;
    GcryptPgpCfb& operator=(const GcryptPgpCfb&) = delete;

    bool Ok() const { return ok_; }

    void Run(const uint8_t* in, uint8_t* out, size_t length)
    {
        static const uint8_t zero[16] = {};
        gcry_cipher_setiv(h_, zero, blockSize_);
        const size_t prefix = blockSize_ + 2;
        Step(in, out, prefix);
        gcry_cipher_sync(h_);
        Step(in + prefix, out + prefix, length - prefix);
    }

private:
    void Step(const uint8_t* in, uint8_t* out, size_t n)
    {
        if (encrypt_)
            gcry_cipher_encrypt(h_, out, n, in, n);
        else
            gcry_cipher_decrypt(h_, out, n, in, n);
    }

    gcry_cipher_hd_t h_ = nullptr;
    bool encrypt_;
    size_t blockSize_;
    bool ok_ = false;
};
#endif

// The rows of the ratio benchmarks, printed when the program ends.
struct RatioTable {
    std::map<std::string, std::string> rows;
    ~RatioTable()
    {
        if (rows.empty())
            return;
        std::printf("\n%-18s %8s %8s %9s %9s\n", "PGP format 0, MB/s", "ours", "OpenSSL", "libgcrypt", "ours/best");
        for (const auto& [name, row] : rows)
            std::printf("%s\n", row.c_str());
        std::printf("ours: the whole Encrypt or Decrypt of the class; the peers: their bare CFB over the data packet\n");
    }
};

std::map<std::string, std::string>& RatioRows()
{
    static RatioTable table;
    return table.rows;
}

// The whole message of ours next to the bare CFB of the peers over the data
// packet's bytes (the prefix and the literal packet with the plaintext):
// rounds in rotating order, medians of the per-round rates (of the 1 MiB
// plaintext), ours over the best peer.
void Ratio(benchmark::State& state, Cipher c, bool encrypt)
{
    auto m = NewMessage(c);
    const XBlob input = Input(c, encrypt);
    // Agreement: the message written (or read) by ours, deciphered by OpenSSL.
    const XBlob message = encrypt ? m->Encrypt(input) : input;
    auto reader = NewMessage(c);
    if (!(reader->Decrypt(message) == Plaintext()) || !Agrees(c, *reader, message)) {
        state.SkipWithError("ours differs from OpenSSL");
        return;
    }
    // The data packet's body (14 bytes of session packet, 6 of header before it).
    const uint32_t bodyAt = 14 + 6;
    const std::vector<uint8_t> body(message.Data() + bodyAt, message.Data() + message.Length());
    std::vector<uint8_t> out(body.size());
    OpenSslCfb openssl(c, reader->Key().Data(), encrypt);
    const uint32_t prefix = c.blockSize + 2;
    std::vector<std::function<void()>> runs = {
        [&] {
            XBlob result = OursRun(*m, encrypt, input);
            benchmark::DoNotOptimize(result.Data());
        },
        [&] {
            openssl.Run(body.data(), out.data(), prefix);
            openssl.Run(body.data() + prefix, out.data() + prefix, body.size() - prefix,
                        (encrypt ? out.data() : body.data()) + 2);
        },
    };
#if ZEL_BENCH_GCRYPT
    GcryptPgpCfb gcrypt(c, reader->Key().Data(), encrypt);
    if (!gcrypt.Ok()) {
        state.SkipWithError("libgcrypt refused the cipher");
        return;
    }
    runs.push_back([&] { gcrypt.Run(body.data(), out.data(), body.size()); });
#endif
    std::vector<std::vector<double>> rates(runs.size());
    size_t round = 0;
    for (auto _ : state) {
        for (size_t k = 0; k < runs.size(); ++k) {
            const size_t i = (round + k) % runs.size();
            const double start = ThreadSeconds();
            runs[i]();
            benchmark::ClobberMemory();
            const double seconds = ThreadSeconds() - start;
            if (seconds > 0)
                rates[i].push_back(kMessageSize / seconds);
        }
        ++round;
    }
    const double ours = Median(rates[0]), theirs = Median(rates[1]);
    const double gcryptRate = runs.size() > 2 ? Median(rates[2]) : 0;
    state.counters["ours_MBps"] = ours / 1e6;
    state.counters["openssl_MBps"] = theirs / 1e6;
    if (runs.size() > 2)
        state.counters["gcrypt_MBps"] = gcryptRate / 1e6;
    const double best = std::max(theirs, gcryptRate);
    state.counters["ratio"] = best > 0 ? ours / best : 0;
    char row[160];
    std::snprintf(row, sizeof row, "%-18s %8.0f %8.0f %9.0f %9.2f", (std::string(c.id == 7 ? "AES-128 " : "Blowfish ") +
                  (encrypt ? "encrypt" : "decrypt")).c_str(), ours / 1e6, theirs / 1e6, gcryptRate / 1e6,
                  best > 0 ? ours / best : 0);
    RatioRows()[std::string(row, 18)] = row; // the last run of a benchmark is the measured one
}

// One message format: Encrypt or Decrypt of the 1 MiB with AES-128, as
// .../ours does for the classic format.  Format 0 is the classic message,
// 1 integrity-protected (the same CFB plus SHA-1), 2 RFC 9580 (OCB in 256
// KiB chunks).  Each format runs in a loop of its own: interleaving them in
// one loop measured the C library's heap trimming and refaulting (each
// format frees a differently sized buffer) more than the formats.
void Format(benchmark::State& state, uint8_t format, bool encrypt)
{
    auto m = NewMessage(kAes128);
    m->SetFormat(format);
    const XBlob input = encrypt ? Plaintext() : m->Encrypt(Plaintext());
    if (!encrypt && !(m->Decrypt(input) == Plaintext())) {
        state.SkipWithError("the message does not read back");
        return;
    }
    for (auto _ : state) {
        XBlob out = OursRun(*m, encrypt, input);
        benchmark::DoNotOptimize(out.Data());
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * kMessageSize);
}

const bool registered = [] {
    for (bool encrypt : {true, false}) {
        for (uint8_t format : {0, 1, 2}) {
            const std::string name = std::string("PGP/AES128/") + (encrypt ? "Encrypt" : "Decrypt") + "/format" +
                                     char('0' + format);
            benchmark::RegisterBenchmark(name.c_str(), [=](benchmark::State& s) { Format(s, format, encrypt); });
        }
    }
    for (const auto& [name, cipher] : {std::pair<const char*, Cipher>{"AES128", kAes128}, {"Blowfish", kBlowfish}}) {
        for (bool encrypt : {true, false}) {
            const std::string prefix = std::string("PGP/") + name + (encrypt ? "/Encrypt/" : "/Decrypt/");
            const Cipher c = cipher;
            benchmark::RegisterBenchmark((prefix + "ours").c_str(),
                                         [=](benchmark::State& s) { Ours(s, c, encrypt); });
            benchmark::RegisterBenchmark((prefix + "openssl").c_str(),
                                         [=](benchmark::State& s) { OpenSsl(s, c, encrypt); });
            benchmark::RegisterBenchmark((prefix + "ratio").c_str(),
                                         [=](benchmark::State& s) { Ratio(s, c, encrypt); });
        }
    }
    return true;
}();

} // namespace

BENCHMARK_MAIN();
