// Helpers shared by the AES engine tests and the block-cipher framework
// tests: byte vectors, OpenSSL's AES as the independent implementation, and
// a check of the alarm a call raises.
#pragma once

#include "cipher/aes.h"
#include "core/alarm.h"
#include "core/xblob.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace aes_test {

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

// The plaintext completed to whole blocks with the filler byte, as the
// engines pad it.
inline Bytes PadWith(Bytes m, uint8_t filler)
{
    while (m.size() % 16)
        m.push_back(filler);
    return m;
}

enum class Chaining { kEcb, kCbc };

// OpenSSL's AES without padding (the input must be whole blocks); for CBC
// the IV is `iv` (16 bytes).
inline Bytes OpenSslAes(Chaining chaining, bool encrypt, const Bytes& key, const Bytes& iv, const Bytes& data)
{
    const EVP_CIPHER* cipher = nullptr;
    switch (key.size()) {
    case 16:
        cipher = chaining == Chaining::kEcb ? EVP_aes_128_ecb() : EVP_aes_128_cbc();
        break;
    case 24:
        cipher = chaining == Chaining::kEcb ? EVP_aes_192_ecb() : EVP_aes_192_cbc();
        break;
    case 32:
        cipher = chaining == Chaining::kEcb ? EVP_aes_256_ecb() : EVP_aes_256_cbc();
        break;
    default:
        ADD_FAILURE() << "key of " << key.size() << " bytes";
        return {};
    }
    std::unique_ptr<EVP_CIPHER_CTX, void (*)(EVP_CIPHER_CTX*)> ctx(EVP_CIPHER_CTX_new(), EVP_CIPHER_CTX_free);
    Bytes out(data.size() + 32);
    int n = 0, tail = 0;
    const bool ok = EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(),
                                      chaining == Chaining::kCbc ? iv.data() : nullptr, encrypt ? 1 : 0) == 1 &&
                    EVP_CIPHER_CTX_set_padding(ctx.get(), 0) == 1 &&
                    EVP_CipherUpdate(ctx.get(), out.data(), &n, data.data(), int(data.size())) == 1 &&
                    EVP_CipherFinal_ex(ctx.get(), out.data() + n, &tail) == 1;
    EXPECT_TRUE(ok) << "OpenSSL refused the operation";
    out.resize(size_t(n + tail));
    return out;
}

inline Bytes ZeroIv()
{
    return Bytes(16, 0);
}

// Runs `call`, which must raise an XCryptoAlarm with this message and source
// (null: none).  Returns whether it did.
template <typename Call>
bool RaisesAlarm(Call call, const char* message, const char* source)
{
    try {
        call();
    } catch (const XCryptoAlarm& alarm) {
        EXPECT_STREQ(alarm.Message(), message);
        if (source)
            EXPECT_STREQ(alarm.Source(), source);
        else
            EXPECT_EQ(alarm.Source(), nullptr) << alarm.Source();
        return std::strcmp(alarm.Message(), message) == 0;
    } catch (...) {
        ADD_FAILURE() << "another exception than XCryptoAlarm";
        return false;
    }
    ADD_FAILURE() << "no alarm raised, expected " << message;
    return false;
}

// The fastest available AES engine, which the process uses by default.
inline AesEngine BestAesEngine()
{
    return AesEngineAvailable(AesEngine::kAesNi) ? AesEngine::kAesNi : AesEngine::kPortable;
}

} // namespace aes_test
