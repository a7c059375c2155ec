// CAST-128 throughput over a 1 MiB message with a 16-byte (16-round) key,
// electronic codebook and cipher block chaining in both directions, next to
// OpenSSL's CAST5 (legacy provider), nettle and libgcrypt; and the key
// set-up time of each for 10-byte (12-round) and 16-byte keys (libgcrypt
// takes 16-byte keys only).
//
//   bin/zel_cipher_bench --benchmark_filter=Cast [--benchmark_repetitions=5]
//
// See legacy_cipher_bench.h for what each benchmark runs and reports.
#include "cipher/cast.h"

#include "legacy_cipher_bench.h"

#include <nettle/cast128.h>

namespace {

struct CastTraits {
    using Engine = XCast;
    static constexpr uint32_t kBlock = 8;
    static constexpr const char* kOpenSsl = "CAST5";
#if ZEL_BENCH_GCRYPT
    static constexpr int kGcrypt = GCRY_CIPHER_CAST5;
#endif
    static void Load(Engine& engine, const XBlob& key) { engine.MakeKey(key, key.Length()); }
    using NettleContext = cast128_ctx;
    static void NettleSetKey(NettleContext* context, const XBlob& key)
    {
        cast5_set_key(context, key.Length(), key.Data());
    }
    static void NettleEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        cast128_encrypt(static_cast<const cast128_ctx*>(context), length, dst, src);
    }
    static void NettleDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        cast128_decrypt(static_cast<const cast128_ctx*>(context), length, dst, src);
    }
};

const bool registered = legacy_cipher_bench::Register<CastTraits>("Cast", 16, {10, 16}, {16});

} // namespace
