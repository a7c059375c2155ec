// Shared by the block-cipher tests: independent implementations of the five
// ciphers (OpenSSL, nettle and libgcrypt), run without padding on whole
// blocks; the key records the engines read and write; the AES path choice.
#pragma once

#include "test_support.h"

#include "cipher/aes.h"

#include <gcrypt.h>
#include <nettle/aes.h>
#include <nettle/blowfish.h>
#include <nettle/cast128.h>
#include <nettle/cbc.h>
#include <nettle/des.h>
#include <nettle/twofish.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdlib>
#include <functional>
#include <memory>
#include <string>

namespace test_support {

enum class Chaining { kEcb, kCbc };

// A key record: the 4-byte big-endian number, then the key bytes.
inline Bytes Record(uint32_t number, const Bytes& key)
{
    return Concat(BigEndian32(number), key);
}

// --- OpenSSL -------------------------------------------------------------------

// Blowfish and CAST5 live in OpenSSL's legacy provider; load it (with the
// default one, which an explicit load would otherwise switch off) once, and
// unload both at exit so that the leak checker of the sanitizer build sees
// OpenSSL free them.
inline void LoadOpenSslLegacyProvider()
{
    static OSSL_PROVIDER* legacy = nullptr;
    static OSSL_PROVIDER* standard = nullptr;
    static const bool loaded = [] {
        legacy = OSSL_PROVIDER_load(nullptr, "legacy");
        standard = OSSL_PROVIDER_load(nullptr, "default");
        std::atexit([] {
            if (legacy)
                OSSL_PROVIDER_unload(legacy);
            if (standard)
                OSSL_PROVIDER_unload(standard);
        });
        return legacy != nullptr && standard != nullptr;
    }();
    ASSERT_TRUE(loaded) << "OpenSSL's legacy provider is not available";
}

// `algorithm` is an OpenSSL cipher name without its mode: "AES-128",
// "AES-192", "AES-256", "BF", "CAST5" or "DES-EDE3".  The key length is set
// explicitly, so any length the cipher accepts can be used; for CBC the
// chain starts from `iv` (one block).
inline Bytes OpenSsl(const std::string& algorithm, Chaining chaining, bool encrypt, const Bytes& key,
                     const Bytes& iv, const Bytes& data)
{
    LoadOpenSslLegacyProvider();
    const std::string name = algorithm + (chaining == Chaining::kEcb ? "-ECB" : "-CBC");
    std::unique_ptr<EVP_CIPHER, void (*)(EVP_CIPHER*)> cipher(EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr),
                                                              EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 32);
    int n = 0, tail = 0;
    const bool ok = cipher && ctx &&
                    EVP_CipherInit_ex2(ctx.get(), cipher.get(), nullptr, nullptr, encrypt ? 1 : 0, nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_key_length(ctx.get(), int(key.size())) == 1 &&
                    EVP_CipherInit_ex2(ctx.get(), nullptr, key.data(),
                                       chaining == Chaining::kCbc ? iv.data() : nullptr, encrypt ? 1 : 0,
                                       nullptr) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    EXPECT_TRUE(ok) << "OpenSSL " << name << " with a " << key.size() << "-byte key failed";
    out.resize(ok ? size_t(n + tail) : 0);
    return out;
}

// OpenSSL's AES under a key of 16, 24 or 32 bytes.
inline Bytes OpenSslAes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    return OpenSsl("AES-" + std::to_string(key.size() * 8), chaining, encrypt, key, iv, data);
}

// --- nettle ----------------------------------------------------------------------

// ECB or CBC over nettle's block functions for one keyed context.
inline Bytes NettleRun(const void* context, nettle_cipher_func* encryptFn, nettle_cipher_func* decryptFn,
                       size_t blockSize, Chaining chaining, bool encrypt, const Bytes& iv, const Bytes& data)
{
    Bytes out(data.size());
    Bytes chain = iv;
    if (chaining == Chaining::kEcb)
        (encrypt ? encryptFn : decryptFn)(context, data.size(), out.data(), data.data());
    else if (encrypt)
        cbc_encrypt(context, encryptFn, blockSize, chain.data(), data.size(), out.data(), data.data());
    else
        cbc_decrypt(context, decryptFn, blockSize, chain.data(), data.size(), out.data(), data.data());
    return out;
}

// nettle keeps separate encryption and decryption schedules for AES.
template <typename Context>
Bytes NettleAesWith(void (*setEncryptKey)(Context*, const uint8_t*), void (*setDecryptKey)(Context*, const uint8_t*),
                    void (*encryptFn)(const Context*, size_t, uint8_t*, const uint8_t*),
                    void (*decryptFn)(const Context*, size_t, uint8_t*, const uint8_t*), Chaining chaining,
                    bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    Context context;
    (encrypt ? setEncryptKey : setDecryptKey)(&context, key.data());
    return NettleRun(&context, (nettle_cipher_func*)encryptFn, (nettle_cipher_func*)decryptFn, 16, chaining, encrypt,
                     iv, data);
}

inline Bytes NettleAes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    switch (key.size()) {
    case 16:
        return NettleAesWith<aes128_ctx>(aes128_set_encrypt_key, aes128_set_decrypt_key, aes128_encrypt,
                                         aes128_decrypt, chaining, encrypt, key, iv, data);
    case 24:
        return NettleAesWith<aes192_ctx>(aes192_set_encrypt_key, aes192_set_decrypt_key, aes192_encrypt,
                                         aes192_decrypt, chaining, encrypt, key, iv, data);
    case 32:
        return NettleAesWith<aes256_ctx>(aes256_set_encrypt_key, aes256_set_decrypt_key, aes256_encrypt,
                                         aes256_decrypt, chaining, encrypt, key, iv, data);
    }
    ADD_FAILURE() << "AES key of " << key.size() << " bytes";
    return {};
}

inline Bytes NettleTwofish(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    twofish_ctx ctx;
    twofish_set_key(&ctx, key.size(), key.data());
    return NettleRun(&ctx, (nettle_cipher_func*)twofish_encrypt, (nettle_cipher_func*)twofish_decrypt, 16, chaining,
                     encrypt, iv, data);
}

inline Bytes NettleBlowfish(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    blowfish_ctx ctx;
    // The result only reports weak keys (a repeated S-box entry); the schedule is complete either way.
    (void)blowfish_set_key(&ctx, key.size(), key.data());
    return NettleRun(&ctx, (nettle_cipher_func*)blowfish_encrypt, (nettle_cipher_func*)blowfish_decrypt, 8, chaining,
                     encrypt, iv, data);
}

inline Bytes NettleCast(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    cast128_ctx ctx;
    cast5_set_key(&ctx, key.size(), key.data());
    return NettleRun(&ctx, (nettle_cipher_func*)cast128_encrypt, (nettle_cipher_func*)cast128_decrypt, 8, chaining,
                     encrypt, iv, data);
}

inline Bytes NettleTripleDes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    des3_ctx ctx;
    des3_set_key(&ctx, key.data()); // 0 only for a weak DES key; random keys are not
    return NettleRun(&ctx, (nettle_cipher_func*)des3_encrypt, (nettle_cipher_func*)des3_decrypt, 8, chaining,
                     encrypt, iv, data);
}

// Single DES, for the relations between the three keys of TripleDES.
inline Bytes NettleDes(bool encrypt, const Bytes& key8, const Bytes& block)
{
    des_ctx ctx;
    des_set_key(&ctx, key8.data()); // the result only flags weak keys
    Bytes out(8);
    if (encrypt)
        des_encrypt(&ctx, 8, out.data(), block.data());
    else
        des_decrypt(&ctx, 8, out.data(), block.data());
    return out;
}

// --- libgcrypt -------------------------------------------------------------------

inline bool GcryptReady()
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    return ready;
}

// `algorithm` is a GCRY_CIPHER_ number.
inline Bytes Gcrypt(int algorithm, Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv,
                    const Bytes& data)
{
    if (!GcryptReady()) {
        ADD_FAILURE() << "libgcrypt did not initialise";
        return {};
    }
    gcry_cipher_hd_t handle = nullptr;
    const int mode = chaining == Chaining::kEcb ? GCRY_CIPHER_MODE_ECB : GCRY_CIPHER_MODE_CBC;
    if (gcry_cipher_open(&handle, algorithm, mode, 0)) {
        ADD_FAILURE() << "gcry_cipher_open";
        return {};
    }
    Bytes out(data.size());
    gcry_error_t error = gcry_cipher_setkey(handle, key.data(), key.size());
    if (!error && chaining == Chaining::kCbc)
        error = gcry_cipher_setiv(handle, iv.data(), iv.size());
    if (!error && !data.empty())
        error = encrypt ? gcry_cipher_encrypt(handle, out.data(), out.size(), data.data(), data.size())
                        : gcry_cipher_decrypt(handle, out.data(), out.size(), data.data(), data.size());
    gcry_cipher_close(handle);
    if (error) {
        ADD_FAILURE() << "libgcrypt: " << gcry_strerror(error);
        return {};
    }
    return out;
}

inline Bytes GcryptAes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    const int algorithm =
        key.size() == 16 ? GCRY_CIPHER_AES128 : key.size() == 24 ? GCRY_CIPHER_AES192 : GCRY_CIPHER_AES256;
    return Gcrypt(algorithm, chaining, encrypt, key, iv, data);
}

// libgcrypt's Twofish takes 128- and 256-bit keys only.
inline Bytes GcryptTwofish(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    return Gcrypt(GCRY_CIPHER_TWOFISH, chaining, encrypt, key, iv, data);
}

inline Bytes GcryptTripleDes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    return Gcrypt(GCRY_CIPHER_3DES, chaining, encrypt, key, iv, data);
}

// --- one name for each -------------------------------------------------------------

// An independent implementation of one cipher, and which key lengths it takes.
struct CipherOracle {
    const char* name;
    std::function<Bytes(Chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)> run;
    std::function<bool(size_t keyLength)> takes = [](size_t) { return true; };
};

// The fastest available AES path, which the process uses by default.
inline AesEngine BestAesEngine()
{
    if (AesEngineAvailable(AesEngine::kVaes))
        return AesEngine::kVaes;
    return AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi : AesEngine::kPortable;
}

} // namespace test_support
