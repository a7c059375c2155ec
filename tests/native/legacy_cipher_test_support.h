// Helpers shared by the Blowfish and CAST-128 tests: byte strings, alarm
// checks, and OpenSSL's EVP ciphers (legacy provider) as the independent
// implementation.
#pragma once

#include "cipher/block_cipher.h"
#include "core/alarm.h"
#include "core/xblob.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/provider.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace legacy_cipher_test {

using Bytes = std::vector<uint8_t>;

inline Bytes Content(const XBlob& b)
{
    return Bytes(b.Data(), b.Data() + b.Length());
}

inline XBlob BlobOf(const Bytes& v)
{
    XBlob b;
    b.AppendBytes(v.data(), uint32_t(v.size()));
    return b;
}

inline Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

inline Bytes RandomBytes(std::mt19937& random, size_t n)
{
    Bytes v(n);
    for (auto& b : v)
        b = uint8_t(random());
    return v;
}

inline Bytes Concat(Bytes a, const Bytes& b)
{
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

// The message completed to whole 8-byte blocks with the filler byte.
inline Bytes PadWith(Bytes m, uint8_t filler)
{
    while (m.size() % 8)
        m.push_back(filler);
    return m;
}

// A key record: the 4-byte big-endian number, then the bytes.
inline Bytes Record(uint32_t number, const Bytes& key)
{
    Bytes r = {uint8_t(number >> 24), uint8_t(number >> 16), uint8_t(number >> 8), uint8_t(number)};
    return Concat(r, key);
}

// The composed text of the alarm the call raises ("" when it raises none).
template <typename Call>
std::string AlarmText(Call call)
{
    try {
        call();
    } catch (const XAlarm& alarm) {
        EXPECT_NE(dynamic_cast<const XCryptoAlarm*>(&alarm), nullptr);
        char text[128];
        alarm.Text(text, sizeof text - 1);
        return text;
    }
    return "";
}

// --- OpenSSL -----------------------------------------------------------------

enum class Chaining { kEcb, kCbc };

// Blowfish and CAST5 live in OpenSSL's legacy provider; load it (with the
// default one, which an explicit load would otherwise switch off) once, and
// unload both at exit so that the leak checker of the sanitizer build sees
// OpenSSL free them.
inline void LoadLegacyProvider()
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

// `algorithm` is "BF" or "CAST5"; the key length is set explicitly, so any
// length the cipher accepts can be used.  No padding: data is whole blocks.
inline Bytes OpenSsl(const char* algorithm, Chaining chaining, bool encrypt, const Bytes& key, const Bytes& data,
                     const Bytes& iv = Bytes(8, 0))
{
    LoadLegacyProvider();
    const std::string name = std::string(algorithm) + (chaining == Chaining::kEcb ? "-ECB" : "-CBC");
    std::unique_ptr<EVP_CIPHER, void (*)(EVP_CIPHER*)> cipher(EVP_CIPHER_fetch(nullptr, name.c_str(), nullptr),
                                                              EVP_CIPHER_free);
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 8);
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

} // namespace legacy_cipher_test
