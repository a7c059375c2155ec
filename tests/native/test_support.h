// What every engine test needs: byte vectors and their conversions to and
// from XBlob and hex, repeatable random data, OpenSSL's digests as the
// independent implementation, and the one check of the alarm a call raises.
#pragma once

#include "core/alarm.h"
#include "core/xblob.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace test_support {

using Bytes = std::vector<uint8_t>;

inline Bytes Content(const XBlob& b)
{
    return Bytes(b.Data(), b.Data() + b.Length());
}

inline XBlob BlobOf(const uint8_t* p, size_t n)
{
    XBlob b;
    if (n)
        b.AppendBytes(p, uint32_t(n));
    return b;
}

inline XBlob BlobOf(const Bytes& v)
{
    return BlobOf(v.data(), v.size());
}

inline XBlob BlobOf(const std::string& s)
{
    return BlobOf(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

inline Bytes TextBytes(const std::string& s)
{
    return Bytes(s.begin(), s.end());
}

// Pairs of hex digits, either case; an odd last digit is ignored.
inline Bytes FromHex(const std::string& hex)
{
    Bytes out;
    for (size_t i = 0; i + 1 < hex.size(); i += 2)
        out.push_back(uint8_t(std::stoul(hex.substr(i, 2), nullptr, 16)));
    return out;
}

// Lower-case hex, two digits a byte.
inline std::string ToHex(const Bytes& b)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t v : b) {
        s += kDigits[v >> 4];
        s += kDigits[v & 15];
    }
    return s;
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

// The 4-byte big-endian form of v, as XBlob::AppendLong writes it.
inline Bytes BigEndian32(uint32_t v)
{
    return {uint8_t(v >> 24), uint8_t(v >> 16), uint8_t(v >> 8), uint8_t(v)};
}

// m completed to whole blocks of `blockSize` bytes with the filler byte, as
// the block ciphers pad a message.
inline Bytes PadWith(Bytes m, uint8_t filler, size_t blockSize)
{
    while (m.size() % blockSize)
        m.push_back(filler);
    return m;
}

// OpenSSL's digest `md` (EVP_md5(), EVP_sha1(), EVP_ripemd160() ...) of n bytes.
inline Bytes OpenSslDigest(const EVP_MD* md, const uint8_t* p, size_t n)
{
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    EXPECT_EQ(EVP_Digest(p, n, out, &length, md, nullptr), 1);
    return Bytes(out, out + length);
}

inline Bytes OpenSslDigest(const EVP_MD* md, const Bytes& m)
{
    return OpenSslDigest(md, m.data(), m.size());
}

// Runs `call`, which must raise an XCryptoAlarm with this message and source
// (null: the alarm names none).  The text a script would see is checked with
// it: "Crypto System: <message>", then " - <source>" when there is one.
template <typename Call>
::testing::AssertionResult RaisesAlarm(Call&& call, const char* message, const char* source)
{
    const std::string expected =
        std::string("\"") + message + "\" / " + (source ? source : "(no source)");
    try {
        call();
    } catch (const XAlarm& alarm) {
        if (!dynamic_cast<const XCryptoAlarm*>(&alarm))
            return ::testing::AssertionFailure() << "an XAlarm that is not an XCryptoAlarm";
        const std::string got = std::string("\"") + alarm.Message() + "\" / " +
                                (alarm.Source() ? alarm.Source() : "(no source)");
        if (got != expected)
            return ::testing::AssertionFailure() << "raised " << got << ", expected " << expected;
        if (std::strcmp(alarm.Category(), XCryptoAlarm::kCategory) != 0)
            return ::testing::AssertionFailure() << "category \"" << alarm.Category() << "\"";
        char text[257];
        alarm.Text(text, sizeof text - 1);
        const std::string composed =
            std::string(XCryptoAlarm::kCategory) + message + (source ? std::string(" - ") + source : "");
        if (composed != text)
            return ::testing::AssertionFailure() << "text \"" << text << "\", expected \"" << composed << "\"";
        return ::testing::AssertionSuccess();
    } catch (...) {
        return ::testing::AssertionFailure() << "another exception than XCryptoAlarm, expected " << expected;
    }
    return ::testing::AssertionFailure() << "no alarm, expected " << expected;
}

} // namespace test_support
