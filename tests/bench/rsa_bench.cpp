// The RSA engine next to yardsticks in the same binary:
//
//   bin/zel_rsa_bench [--kernel=portable|adx|ifma] [--benchmark_filter=Keygen] [other Google Benchmark flags]
//
// Keygen/<k>/...: key generation at k = 64, 128 and 256 bytes over a fixed
// set of seed pairs (one iteration = the whole set), ours against the same
// procedure over GMP with candidate-by-candidate trial division
// (mpz_divisible_ui_p for each table prime, then mpz_powm for the Fermat
// test); before timing, both must give the same keys.
//
// RSA2048/<op>/...: Sign, Decrypt (one block), Verify and Encrypt (one block)
// at k = 256 with a generated key; ours against the same operations with
// GMP arithmetic (the private ones through the CRT) around the same encoding
// code, and OpenSSL's raw RSA-2048 private and public operations on the same
// key.  Before timing, GMP's results must equal ours.
//
// The .../ratio benchmarks run ours and the yardstick in turn within each
// iteration, each timed by the thread's processor clock, so that both see
// the same load on a busy machine; the table at the end is built from them
// and shows our time over the faster peer's (lower is better for us).
// RSA2048/Private/...: the bare private operation (CRT, blinding, the check
// with e) on a block, bytes to bytes, next to OpenSSL's raw call and GMP's
// CRT on the same block.
#include "hash/digest.h"
#include "random/random.h"
#include "rsa/bigint.h"
#include "rsa/rsa.h"
#include "tests/native/rsa_gmp_reference.h"
#include "tests/bench/bench_rounds.h"
#include "tests/bench/bench_kernel_argument.h"

#include <benchmark/benchmark.h>
#include <gmp.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/param_build.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

namespace {

using rsa_gmp::Bytes;
using rsa_gmp::Mpz;

XBlob Text(const std::string& s)
{
    XBlob x;
    x.AppendBytes(s.data(), uint32_t(s.size()));
    return x;
}

Mpz ToMpz(const XBigInt& x)
{
    return Mpz(x.ToBytes(0));
}

XBlob ToBlob(const Bytes& b)
{
    XBlob x;
    if (!b.empty())
        x.AppendBytes(b.data(), uint32_t(b.size()));
    return x;
}

// --- Key generation ---------------------------------------------------------------

constexpr int kSeedPairs = 8;

XBlob Seed(int pair, int which)
{
    return Text("benchmark seed " + std::to_string(pair) + (which ? " second" : " first"));
}

void KeygenOurs(uint32_t k)
{
    for (int i = 0; i < kSeedPairs; ++i) {
        XRsa rsa;
        rsa.Keygen(Seed(i, 0), Seed(i, 1), k);
        benchmark::DoNotOptimize(rsa.N());
    }
}

void KeygenGmp(uint32_t k)
{
    for (int i = 0; i < kSeedPairs; ++i) {
        rsa_gmp::Key key = rsa_gmp::Keygen(Seed(i, 0), Seed(i, 1), k);
        benchmark::DoNotOptimize(key.n.get());
    }
}

bool KeygenAgrees(uint32_t k)
{
    for (int i = 0; i < kSeedPairs; ++i) {
        XRsa rsa;
        rsa.Keygen(Seed(i, 0), Seed(i, 1), k);
        const rsa_gmp::Key key = rsa_gmp::Keygen(Seed(i, 0), Seed(i, 1), k);
        if (mpz_cmp(ToMpz(rsa.P()).get(), key.p.get()) || mpz_cmp(ToMpz(rsa.Q()).get(), key.q.get()) ||
            mpz_cmp(ToMpz(rsa.D()).get(), key.d.get()))
            return false;
    }
    return true;
}

// --- RSA-2048 operations ------------------------------------------------------------

// One generated key at k = 256 whose modulus has the full 2048 bits, and the
// inputs of the four operations.
struct Fixture {
    XRsa rsa;
    rsa_gmp::Key key;
    XBlob message;   // signed and verified
    XBlob signature;
    XBlob plain;     // one block: k - 42 bytes
    XBlob cipher;    // one block
    EVP_PKEY* pkey = nullptr;

    Fixture()
    {
        for (int i = 0;; ++i) {
            rsa.Keygen(Text("rsa bench " + std::to_string(i)), Text("rsa bench partner"), 256);
            if (rsa.N().BitLength() == 2048)
                break;
        }
        key.k = 256;
        key.p = ToMpz(rsa.P());
        key.q = ToMpz(rsa.Q());
        key.n = ToMpz(rsa.N());
        key.e = ToMpz(rsa.E());
        key.d = ToMpz(rsa.D());
        key.dP = ToMpz(rsa.DP());
        key.dQ = ToMpz(rsa.DQ());
        key.qInv = ToMpz(rsa.QInv());
        message = Text("a short message to sign, as scripts sign digests and tokens");
        signature = rsa.Sign(message);
        Bytes p(214);
        for (size_t i = 0; i < p.size(); ++i)
            p[i] = uint8_t(i * 7 + 1);
        plain = ToBlob(p);
        cipher = rsa.Encrypt(plain);
        pkey = MakeOpenSslKey();
    }
    ~Fixture() { EVP_PKEY_free(pkey); }

    EVP_PKEY* MakeOpenSslKey() const
    {
        OSSL_PARAM_BLD* bld = OSSL_PARAM_BLD_new();
        std::vector<BIGNUM*> numbers;
        const std::pair<const char*, const XBigInt*> parts[] = {
            {OSSL_PKEY_PARAM_RSA_N, &rsa.N()},         {OSSL_PKEY_PARAM_RSA_E, &rsa.E()},
            {OSSL_PKEY_PARAM_RSA_D, &rsa.D()},         {OSSL_PKEY_PARAM_RSA_FACTOR1, &rsa.P()},
            {OSSL_PKEY_PARAM_RSA_FACTOR2, &rsa.Q()},   {OSSL_PKEY_PARAM_RSA_EXPONENT1, &rsa.DP()},
            {OSSL_PKEY_PARAM_RSA_EXPONENT2, &rsa.DQ()}, {OSSL_PKEY_PARAM_RSA_COEFFICIENT1, &rsa.QInv()},
        };
        for (const auto& part : parts) {
            const XBlob bytes = part.second->ToBytes(0);
            numbers.push_back(BN_bin2bn(bytes.Data(), int(bytes.Length()), nullptr));
            OSSL_PARAM_BLD_push_BN(bld, part.first, numbers.back());
        }
        OSSL_PARAM* params = OSSL_PARAM_BLD_to_param(bld);
        EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
        EVP_PKEY* result = nullptr;
        if (EVP_PKEY_fromdata_init(ctx) != 1 || EVP_PKEY_fromdata(ctx, &result, EVP_PKEY_KEYPAIR, params) != 1)
            result = nullptr;
        EVP_PKEY_CTX_free(ctx);
        OSSL_PARAM_free(params);
        OSSL_PARAM_BLD_free(bld);
        for (BIGNUM* bn : numbers)
            BN_free(bn);
        return result;
    }
};

Fixture& TheFixture()
{
    static Fixture fixture;
    return fixture;
}

// The four operations over GMP, around the engine's own encoding pieces.

XBlob SignatureBlock(const XBlob& data, uint32_t k)
{
    const XBlob digest = DigestSHA1(data);
    XBlob block;
    block.AppendByte(1);
    for (uint32_t i = 0; i < k - 23; ++i)
        block.AppendByte(0xff);
    block.AppendByte(0);
    block.Append(digest);
    return block;
}

XBlob ExportBytes(const Mpz& z, uint32_t length)
{
    return ToBlob(z.ToBytes(length));
}

XBlob GmpSign(const Fixture& f, const XBlob& data)
{
    Mpz x(SignatureBlock(data, f.key.k)), s;
    rsa_gmp::CrtPower(s, x, f.key);
    return ExportBytes(s, f.key.k);
}

XBlob GmpPrivate(const Fixture& f, const XBlob& block)
{
    Mpz x(block), s;
    rsa_gmp::CrtPower(s, x, f.key);
    return ExportBytes(s, f.key.k);
}

XBlob OursPrivate(const Fixture& f, const XBlob& block)
{
    XBigInt x;
    x.FromBytes(block);
    f.rsa.ApplyPrivate(x);
    return x.ToBytes(f.key.k);
}

int GmpVerify(const Fixture& f, const XBlob& data, const XBlob& signature)
{
    Mpz x(signature), y;
    if (mpz_cmp(x.get(), f.key.n.get()) >= 0)
        return 0;
    mpz_powm(y.get(), x.get(), f.key.e.get(), f.key.n.get());
    return ExportBytes(y, f.key.k - 1) == SignatureBlock(data, f.key.k);
}

XBlob GmpEncrypt(const Fixture& f, const XBlob& data)
{
    // One block of k - 42 bytes, the encoding as the engine makes it.
    const uint32_t k = f.key.k, dbSize = k - 21;
    XBlob db = DigestSHA1([] {
        XBlob zero;
        zero.AppendLong(0);
        return zero;
    }());
    db.AppendByte(1);
    db.Append(data);
    uint8_t seedBytes[20];
    SystemEntropy(seedBytes, 20);
    XBlob seed;
    seed.AppendBytes(seedBytes, 20);
    const XBlob maskedDb = XBlob::Xor(db, XRsa::MaskGen(seed, dbSize));
    XBlob em = XBlob::Xor(seed, XRsa::MaskGen(maskedDb, 20));
    em.Append(maskedDb);
    Mpz x(em), c;
    mpz_powm(c.get(), x.get(), f.key.e.get(), f.key.n.get());
    return ExportBytes(c, k);
}

XBlob GmpDecrypt(const Fixture& f, const XBlob& cipher)
{
    const uint32_t k = f.key.k, dbSize = k - 21;
    Mpz c(cipher), x;
    rsa_gmp::CrtPower(x, c, f.key);
    const XBlob em = ExportBytes(x, k - 1);
    XBlob maskedSeed, maskedDb;
    em.CopyRange(maskedSeed, 0, 20);
    em.CopyRange(maskedDb, 20, dbSize);
    const XBlob seed = XBlob::Xor(maskedSeed, XRsa::MaskGen(maskedDb, 20));
    const XBlob db = XBlob::Xor(maskedDb, XRsa::MaskGen(seed, dbSize));
    uint32_t i = 20;
    while (i < dbSize && db.At(i) == 0)
        ++i;
    XBlob out;
    db.CopyRange(out, i + 1, dbSize);
    return out;
}

// OpenSSL's raw operations: the private one on the signature block (with
// its leading zero byte), the public one on the signature.
Bytes OpenSslPrivate(EVP_PKEY* pkey, const Bytes& block)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    Bytes out(512);
    size_t length = out.size();
    if (EVP_PKEY_sign_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1 ||
        EVP_PKEY_sign(ctx, out.data(), &length, block.data(), block.size()) != 1)
        length = 0;
    EVP_PKEY_CTX_free(ctx);
    out.resize(length);
    return out;
}

Bytes OpenSslPublic(EVP_PKEY* pkey, const Bytes& block)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(pkey, nullptr);
    Bytes out(512);
    size_t length = out.size();
    if (EVP_PKEY_verify_recover_init(ctx) != 1 || EVP_PKEY_CTX_set_rsa_padding(ctx, RSA_NO_PADDING) != 1 ||
        EVP_PKEY_verify_recover(ctx, out.data(), &length, block.data(), block.size()) != 1)
        length = 0;
    EVP_PKEY_CTX_free(ctx);
    out.resize(length);
    return out;
}

Bytes Content(const XBlob& x)
{
    return Bytes(x.Data(), x.Data() + x.Length());
}

// The operations by name: ours, GMP's, and OpenSSL's raw counterpart.
struct Operation {
    std::function<void()> ours, gmp, openssl;
    bool isPrivate;
};

std::map<std::string, Operation>& Operations()
{
    static std::map<std::string, Operation> ops = [] {
        Fixture& f = TheFixture();
        std::map<std::string, Operation> m;
        const Bytes signBlock = [&] {
            Bytes b{0};
            const Bytes rest = Content(SignatureBlock(f.message, 256));
            b.insert(b.end(), rest.begin(), rest.end());
            return b;
        }();
        const Bytes signature = Content(f.signature);
        m["Sign"] = {[&f] { benchmark::DoNotOptimize(f.rsa.Sign(f.message)); },
                     [&f] { benchmark::DoNotOptimize(GmpSign(f, f.message)); },
                     [&f, signBlock] { benchmark::DoNotOptimize(OpenSslPrivate(f.pkey, signBlock)); }, true};
        m["Decrypt"] = {[&f] { benchmark::DoNotOptimize(f.rsa.Decrypt(f.cipher)); },
                        [&f] { benchmark::DoNotOptimize(GmpDecrypt(f, f.cipher)); },
                        [&f, signBlock] { benchmark::DoNotOptimize(OpenSslPrivate(f.pkey, signBlock)); }, true};
        // The bare private operation on the same block: bytes in, bytes
        // out, like OpenSSL's raw call (no encoding, no digest).
        const XBlob blockBlob = [&] {
            XBlob b;
            b.AppendBytes(signBlock.data(), uint32_t(signBlock.size()));
            return b;
        }();
        m["Private"] = {[&f, blockBlob] { benchmark::DoNotOptimize(OursPrivate(f, blockBlob)); },
                        [&f, blockBlob] { benchmark::DoNotOptimize(GmpPrivate(f, blockBlob)); },
                        [&f, signBlock] { benchmark::DoNotOptimize(OpenSslPrivate(f.pkey, signBlock)); }, true};
        m["Verify"] = {[&f] { benchmark::DoNotOptimize(f.rsa.Verify(f.message, f.signature)); },
                       [&f] { benchmark::DoNotOptimize(GmpVerify(f, f.message, f.signature)); },
                       [&f, signature] { benchmark::DoNotOptimize(OpenSslPublic(f.pkey, signature)); }, false};
        m["Encrypt"] = {[&f] { benchmark::DoNotOptimize(f.rsa.Encrypt(f.plain)); },
                        [&f] { benchmark::DoNotOptimize(GmpEncrypt(f, f.plain)); },
                        [&f, signature] { benchmark::DoNotOptimize(OpenSslPublic(f.pkey, signature)); }, false};
        return m;
    }();
    return ops;
}

// GMP's results equal ours (Encrypt: GMP's ciphertext decrypts with ours and
// ours with GMP's), and OpenSSL's raw operations invert each other's work.
std::string CheckOperations()
{
    Fixture& f = TheFixture();
    if (!f.pkey)
        return "OpenSSL refused the key";
    if (GmpSign(f, f.message) != f.signature)
        return "GMP's signature differs";
    if (GmpVerify(f, f.message, f.signature) != 1 || f.rsa.Verify(f.message, f.signature) != 1)
        return "a signature did not verify";
    if (GmpDecrypt(f, f.cipher) != f.plain || f.rsa.Decrypt(GmpEncrypt(f, f.plain)) != f.plain)
        return "GMP's encryption and ours disagree";
    if (!f.rsa.DecryptsWithCrt())
        return "Decrypt does not take the CRT path for a generated key";
    Bytes block{0};
    const Bytes rest = Content(SignatureBlock(f.message, 256));
    block.insert(block.end(), rest.begin(), rest.end());
    if (OpenSslPrivate(f.pkey, block) != Content(f.signature) || OpenSslPublic(f.pkey, Content(f.signature)) != block)
        return "OpenSSL's raw operations disagree with our signature";
    XBlob blockBlob;
    blockBlob.AppendBytes(block.data(), uint32_t(block.size()));
    if (OursPrivate(f, blockBlob) != f.signature || GmpPrivate(f, blockBlob) != f.signature)
        return "the bare private operations disagree with the signature";
    return "";
}

void RunSide(benchmark::State& state, const std::string& op, int side)
{
    const std::string problem = CheckOperations();
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const Operation& o = Operations().at(op);
    const std::function<void()>& f = side == 0 ? o.ours : side == 1 ? o.gmp : o.openssl;
    for (auto _ : state)
        f();
}

void RunRatio(benchmark::State& state, const std::string& op)
{
    const std::string problem = CheckOperations();
    if (!problem.empty()) {
        state.SkipWithError(problem.c_str());
        return;
    }
    const Operation& o = Operations().at(op);
    std::vector<double> ours, gmp, openssl;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        o.ours();
        const double t1 = ThreadSeconds();
        o.gmp();
        const double t2 = ThreadSeconds();
        o.openssl();
        const double t3 = ThreadSeconds();
        ours.push_back(t1 - t0);
        gmp.push_back(t2 - t1);
        openssl.push_back(t3 - t2);
    }
    state.counters["ours_us"] = Median(ours) * 1e6;
    state.counters["gmp_us"] = Median(gmp) * 1e6;
    state.counters["openssl_us"] = Median(openssl) * 1e6;
}

void KeygenSide(benchmark::State& state, uint32_t k, bool ours)
{
    for (auto _ : state) {
        if (ours)
            KeygenOurs(k);
        else
            KeygenGmp(k);
    }
}

void KeygenRatio(benchmark::State& state, uint32_t k)
{
    if (!KeygenAgrees(k)) {
        state.SkipWithError("the keys differ from GMP's");
        return;
    }
    double ours = 0, gmp = 0;
    for (auto _ : state) {
        const double t0 = ThreadSeconds();
        KeygenOurs(k);
        const double t1 = ThreadSeconds();
        KeygenGmp(k);
        const double t2 = ThreadSeconds();
        ours += t1 - t0;
        gmp += t2 - t1;
    }
    // Milliseconds per key, averaged over the seed set and the iterations.
    const double keys = double(state.iterations()) * kSeedPairs;
    state.counters["ours_ms"] = ours / keys * 1e3;
    state.counters["gmp_ms"] = gmp / keys * 1e3;
}

// Keeps the console output and the counters of the ratio runs by name.
class CollectingReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override
    {
        ConsoleReporter::ReportRuns(runs);
        for (const Run& run : runs) {
            if (run.error_occurred || run.run_type != Run::RT_Iteration)
                continue;
            for (const auto& counter : run.counters)
                values_[run.run_name.function_name][counter.first].push_back(counter.second.value);
        }
    }

    // The median over repetitions of one counter; false when missing.
    bool Value(const std::string& name, const std::string& counter, double& value) const
    {
        const auto run = values_.find(name);
        if (run == values_.end())
            return false;
        const auto c = run->second.find(counter);
        if (c == run->second.end() || c->second.empty())
            return false;
        value = Median(c->second);
        return true;
    }

private:
    std::map<std::string, std::map<std::string, std::vector<double>>> values_;
};

} // namespace

int main(int argc, char** argv)
{
    if (!TakeKernelArgument(argc, argv))
        return 1;
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv))
        return 1;

    const uint32_t sizes[] = {64, 128, 256};
    for (uint32_t k : sizes) {
        const std::string prefix = "Keygen/" + std::to_string(k) + "/";
        const int iterations = k == 256 ? 3 : k == 128 ? 20 : 100;
        benchmark::RegisterBenchmark((prefix + "ours").c_str(), KeygenSide, k, true)
            ->Unit(benchmark::kMillisecond)->Iterations(iterations);
        benchmark::RegisterBenchmark((prefix + "gmp").c_str(), KeygenSide, k, false)
            ->Unit(benchmark::kMillisecond)->Iterations(iterations);
        benchmark::RegisterBenchmark((prefix + "ratio").c_str(), KeygenRatio, k)
            ->Unit(benchmark::kMillisecond)->Iterations(iterations);
    }
    const char* ops[] = {"Private", "Sign", "Decrypt", "Verify", "Encrypt"};
    for (const char* op : ops) {
        const std::string prefix = std::string("RSA2048/") + op + "/";
        benchmark::RegisterBenchmark((prefix + "ours").c_str(), RunSide, op, 0)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "gmp_crt").c_str(), RunSide, op, 1)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "openssl").c_str(), RunSide, op, 2)->Unit(benchmark::kMicrosecond);
        benchmark::RegisterBenchmark((prefix + "ratio").c_str(), RunRatio, op)->Unit(benchmark::kMicrosecond);
    }

    CollectingReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();

    std::printf("\n%-22s %11s %11s %9s   %s\n", "Key generation", "ours", "GMP", "speed", "target");
    std::printf("(ms per key over %d seed pairs, ours and GMP's procedure in turn; speed = GMP time / ours)\n",
                kSeedPairs);
    for (uint32_t k : sizes) {
        const std::string name = "Keygen/" + std::to_string(k) + "/ratio";
        const std::string label = "k = " + std::to_string(k);
        double ours = 0, gmp = 0;
        if (!reporter.Value(name, "ours_ms", ours) || !reporter.Value(name, "gmp_ms", gmp) || ours <= 0) {
            std::printf("%-22s no result\n", label.c_str());
            continue;
        }
        const double speed = gmp / ours;
        std::printf("%-22s %8.2f ms %8.2f ms %9.2f   >= 1.00%s\n", label.c_str(), ours, gmp, speed,
                    speed >= 1.0 ? "" : "  BELOW TARGET");
    }

    std::printf("\n%-22s %11s %11s %11s %10s   %s\n", "RSA-2048 (k = 256)", "ours", "GMP+CRT", "OpenSSL",
                "ours/best", "target");
    const XBigIntKernel kernel = XBigIntActiveKernel();
    std::printf("(medians of processor time per call, the three in turn; ours/best = our time / the faster "
                "peer's, lower is better; Private: the bare operation on a block, bytes to bytes; kernel %s)\n",
                kernel == XBigIntKernel::kIfma ? "ifma" : kernel == XBigIntKernel::kAdx ? "adx" : "portable");
    for (const char* op : ops) {
        const std::string name = std::string("RSA2048/") + op + "/ratio";
        double ours = 0, gmp = 0, openssl = 0;
        if (!reporter.Value(name, "ours_us", ours) || !reporter.Value(name, "gmp_us", gmp) ||
            !reporter.Value(name, "openssl_us", openssl) || ours <= 0) {
            std::printf("%-22s no result\n", op);
            continue;
        }
        const bool isPrivate = std::strcmp(op, "Sign") == 0 || std::strcmp(op, "Decrypt") == 0 ||
                               std::strcmp(op, "Private") == 0;
        const double best = std::min(gmp, openssl);
        const double ratio = ours / best;
        const char* peer = openssl <= gmp ? "OpenSSL" : "GMP";
        if (isPrivate)
            std::printf("%-22s %8.1f us %8.1f us %8.1f us %10.2f   <= 1.00 (best: %s)%s\n", op, ours, gmp, openssl,
                        ratio, peer, ratio <= 1.0 ? "" : "  ABOVE TARGET");
        else
            std::printf("%-22s %8.1f us %8.1f us %8.1f us %10.2f   (best: %s)\n", op, ours, gmp, openssl, ratio,
                        peer);
    }
    return 0;
}
