// Fresh RSA keys (XRsa::Generate) next to OpenSSL, in one run:
//
//   bin/zel_rsa_generate_bench [runs] [bits ...]      (default: 20 runs of 2048, 3072, 4096)
//
// Each round generates one key with each contender in turn, so that all see
// the same load on a shared machine: ours, OpenSSL's EVP_PKEY_keygen in this
// process (e = 65537, two primes), and the `openssl genpkey` command (a whole
// process, as a script author would run it).  Key generation time varies with
// the distance to the next prime, so the medians of the runs are compared;
// the ratios are ours / peer (below 1 is faster).
#include "rsa/rsa.h"
#include "tests/bench/bench_rounds.h"

#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

double Seconds(std::chrono::steady_clock::time_point start)
{
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

bool OpenSslKeygen(unsigned bits)
{
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new_from_name(nullptr, "RSA", nullptr);
    EVP_PKEY* key = nullptr;
    const bool ok = ctx && EVP_PKEY_keygen_init(ctx) == 1 && EVP_PKEY_CTX_set_rsa_keygen_bits(ctx, int(bits)) == 1 &&
                    EVP_PKEY_keygen(ctx, &key) == 1;
    EVP_PKEY_free(key);
    EVP_PKEY_CTX_free(ctx);
    return ok;
}

} // namespace

int main(int argc, char** argv)
{
    const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
    std::vector<unsigned> sizes;
    for (int i = 2; i < argc; ++i)
        sizes.push_back(unsigned(std::atoi(argv[i])));
    if (sizes.empty())
        sizes = {2048, 3072, 4096};
    std::printf("%-6s %12s %14s %14s %10s %10s\n", "bits", "ours ms", "EVP ms", "genpkey ms", "ours/EVP",
                "ours/genpkey");
    for (unsigned bits : sizes) {
        std::vector<double> ours, evp, command;
        const std::string genpkey = "openssl genpkey -algorithm RSA -pkeyopt rsa_keygen_bits:" + std::to_string(bits) +
                                    " -out /dev/null 2>/dev/null";
        for (int i = 0; i < runs; ++i) {
            auto start = std::chrono::steady_clock::now();
            XRsa rsa;
            rsa.Generate(bits);
            ours.push_back(Seconds(start));
            start = std::chrono::steady_clock::now();
            if (!OpenSslKeygen(bits))
                return 1;
            evp.push_back(Seconds(start));
            start = std::chrono::steady_clock::now();
            if (std::system(genpkey.c_str()) != 0)
                return 1;
            command.push_back(Seconds(start));
        }
        const double o = Median(ours), e = Median(evp), c = Median(command);
        std::printf("%-6u %12.1f %14.1f %14.1f %10.2f %10.2f\n", bits, o * 1e3, e * 1e3, c * 1e3, o / e, o / c);
    }
    return 0;
}
