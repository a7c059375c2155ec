// Blowfish throughput over a 1 MiB message with a 16-byte key, electronic
// codebook and cipher block chaining in both directions, next to OpenSSL's
// BF (legacy provider), nettle and libgcrypt; and the key set-up time of
// each for 8-, 16- and 56-byte keys (ours includes the checks of the
// constant tables that run at every set-up).
//
//   bin/zel_cipher_bench --benchmark_filter=Blowfish [--benchmark_repetitions=5]
//
// See legacy_cipher_bench.h for what each benchmark runs and reports.
#include "cipher/blowfish.h"

#include "legacy_cipher_bench.h"

#include <nettle/blowfish.h>

namespace {

struct BlowfishTraits {
    using Engine = XBlowfish;
    static constexpr uint32_t kBlock = 8;
    static constexpr const char* kOpenSsl = "BF";
#if ZEL_BENCH_GCRYPT
    static constexpr int kGcrypt = GCRY_CIPHER_BLOWFISH;
#endif
    static void Load(Engine& engine, const XBlob& key) { engine.MakeKey(key, key.Length()); }
    using NettleContext = blowfish_ctx;
    static void NettleSetKey(NettleContext* context, const XBlob& key)
    {
        // Returns 0 for a weak key, which still gets a complete schedule.
        (void)blowfish_set_key(context, key.Length(), key.Data());
    }
    static void NettleEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        blowfish_encrypt(static_cast<const blowfish_ctx*>(context), length, dst, src);
    }
    static void NettleDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        blowfish_decrypt(static_cast<const blowfish_ctx*>(context), length, dst, src);
    }
};

const bool registered = legacy_cipher_bench::Register<BlowfishTraits>("Blowfish", 16, {8, 16, 56}, {8, 16, 56});

} // namespace
