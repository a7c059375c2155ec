// Twofish throughput over a 1 MiB message with a 32-byte key, electronic
// codebook and cipher block chaining in both directions, next to nettle and
// libgcrypt (OpenSSL has no Twofish); and the key set-up time of each for
// 16-, 24- and 32-byte keys (libgcrypt takes 16- and 32-byte keys only).
//
//   bin/zel_cipher_bench --benchmark_filter=Twofish [--benchmark_repetitions=5]
//
// See legacy_cipher_bench.h for what each benchmark runs and reports.
#include "cipher/twofish.h"

#include "legacy_cipher_bench.h"

#include <nettle/twofish.h>

namespace {

struct TwofishTraits {
    using Engine = XTwofish;
    static constexpr uint32_t kBlock = 16;
    static constexpr const char* kOpenSsl = nullptr;
#if ZEL_BENCH_GCRYPT
    static constexpr int kGcrypt = GCRY_CIPHER_TWOFISH;
#endif
    static void Load(Engine& engine, const XBlob& key) { engine.MakeKey(key, key.Length()); }
    using NettleContext = twofish_ctx;
    static void NettleSetKey(NettleContext* context, const XBlob& key)
    {
        twofish_set_key(context, key.Length(), key.Data());
    }
    static void NettleEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        twofish_encrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
    }
    static void NettleDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        twofish_decrypt(static_cast<const twofish_ctx*>(context), length, dst, src);
    }
};

const bool registered = legacy_cipher_bench::Register<TwofishTraits>("Twofish", 32, {16, 24, 32}, {16, 32});

} // namespace
