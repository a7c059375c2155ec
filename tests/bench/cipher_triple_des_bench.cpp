// TripleDES (three independent keys) throughput over a 1 MiB message,
// electronic codebook and cipher block chaining in both directions: ours
// through the whole-message Encrypt and Decrypt with the key loaded from its
// record, next to OpenSSL's DES-EDE3, nettle's des3 and libgcrypt's 3DES;
// and the key set-up time of each.
//
//   bin/zel_cipher_bench --benchmark_filter=TripleDes [--benchmark_repetitions=5]
//
// See legacy_cipher_bench.h for what each benchmark runs and reports.
#include "cipher/triple_des.h"

#include "legacy_cipher_bench.h"

#include <nettle/des.h>

namespace {

struct TripleDesTraits {
    using Engine = XTripleDes;
    static constexpr uint32_t kBlock = 8;
    static constexpr const char* kOpenSsl = "DES-EDE3";
#if ZEL_BENCH_GCRYPT
    static constexpr int kGcrypt = GCRY_CIPHER_3DES;
#endif
    // The record of a three-key TripleDES key is its 24 bytes.
    static void Load(Engine& engine, const XBlob& key) { engine.SetKey(key); }
    using NettleContext = des3_ctx;
    static void NettleSetKey(NettleContext* context, const XBlob& key)
    {
        // Returns 0 for a weak key or a parity error; the schedule is complete either way.
        (void)des3_set_key(context, key.Data());
    }
    static void NettleEncrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        des3_encrypt(static_cast<const des3_ctx*>(context), length, dst, src);
    }
    static void NettleDecrypt(const void* context, size_t length, uint8_t* dst, const uint8_t* src)
    {
        des3_decrypt(static_cast<const des3_ctx*>(context), length, dst, src);
    }
};

const bool registered = legacy_cipher_bench::Register<TripleDesTraits>("TripleDes", 24, {24}, {24});

} // namespace
