// BLAKE2b: the published "abc" vector, then agreement with independent
// implementations: OpenSSL's BLAKE2B-512 digest and BLAKE2BMAC (any key of
// 1..64 bytes, any digest length) over every message length of the usual
// known-answer table (message 00 01 02 .., key 00 01 .. 3f), libgcrypt's
// unkeyed BLAKE2b-160/256/384, and incremental feeding against one shot.
#include "hash/blake2b.h"

#include "test_support.h"

#include <gcrypt.h>
#include <gtest/gtest.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>

#include <algorithm>
#include <memory>
#include <stdexcept>
#include <string>

namespace {

using namespace test_support;

Bytes Ours(const Bytes& m, uint32_t outLength = 64, const Bytes& key = Bytes())
{
    XBlake2b h(outLength, key.empty() ? nullptr : key.data(), uint32_t(key.size()));
    h.Update(m.data(), m.size());
    Bytes out(outLength);
    h.Final(out.data());
    return out;
}

// 00 01 02 .. of length n.
Bytes Counting(size_t n)
{
    Bytes b(n);
    for (size_t i = 0; i < n; ++i)
        b[i] = uint8_t(i);
    return b;
}

// OpenSSL's keyed BLAKE2b (the key must not be empty there).
Bytes OpenSslMac(const Bytes& m, uint32_t outLength, const Bytes& key)
{
    struct MacDeleter {
        void operator()(EVP_MAC* p) const { EVP_MAC_free(p); }
    };
    struct ContextDeleter {
        void operator()(EVP_MAC_CTX* p) const { EVP_MAC_CTX_free(p); }
    };
    std::unique_ptr<EVP_MAC, MacDeleter> mac(EVP_MAC_fetch(nullptr, "BLAKE2BMAC", nullptr));
    if (!mac)
        return {};
    std::unique_ptr<EVP_MAC_CTX, ContextDeleter> ctx(EVP_MAC_CTX_new(mac.get()));
    size_t size = outLength;
    const OSSL_PARAM params[] = {OSSL_PARAM_construct_size_t(OSSL_MAC_PARAM_SIZE, &size), OSSL_PARAM_construct_end()};
    Bytes out(outLength);
    size_t written = 0;
    if (!ctx || !EVP_MAC_init(ctx.get(), key.data(), key.size(), params) ||
        !EVP_MAC_update(ctx.get(), m.data(), m.size()) || !EVP_MAC_final(ctx.get(), out.data(), &written, out.size()) ||
        written != outLength)
        return {};
    return out;
}

Bytes OpenSslBlake2b512(const Bytes& m)
{
    struct MdDeleter {
        void operator()(EVP_MD* p) const { EVP_MD_free(p); }
    };
    std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, "BLAKE2B-512", nullptr));
    if (!md)
        return {};
    return OpenSslDigest(md.get(), m);
}

// libgcrypt's unkeyed BLAKE2b with 20, 32, 48 or 64 bytes of output.
Bytes GcryptBlake2b(const Bytes& m, uint32_t outLength)
{
    static const bool ready = [] {
        if (!gcry_check_version(nullptr))
            return false;
        gcry_control(GCRYCTL_DISABLE_SECMEM, 0);
        gcry_control(GCRYCTL_INITIALIZATION_FINISHED, 0);
        return true;
    }();
    int algorithm = 0;
    switch (outLength) {
    case 20: algorithm = GCRY_MD_BLAKE2B_160; break;
    case 32: algorithm = GCRY_MD_BLAKE2B_256; break;
    case 48: algorithm = GCRY_MD_BLAKE2B_384; break;
    case 64: algorithm = GCRY_MD_BLAKE2B_512; break;
    default: return {};
    }
    if (!ready)
        return {};
    Bytes out(outLength);
    gcry_md_hash_buffer(algorithm, out.data(), m.data(), m.size());
    return out;
}

// Message lengths around the 128-byte block: the last block is compressed
// with the final flag whether it is full or not.
const size_t kEdgeLengths[] = {0, 1, 63, 64, 127, 128, 129, 255, 256, 257, 383, 384, 385, 1000};

TEST(Blake2b, PublishedVector)
{
    // RFC 7693, appendix A: BLAKE2b-512 of "abc".
    EXPECT_EQ(ToHex(Ours(TextBytes("abc"))),
              "ba80a53f981c4d0d6a2797b69f12f6e94c212f14685ac4b74b12bb6fdbffa2d1"
              "7d87c5392aab792dc252d5de4533cc9518d38aa8dbf1925ab92386edd4009923");
}

// Message 00 01 .. of every length 0..255, unkeyed and with the 64-byte key
// 00 01 .. 3f: the known-answer table, computed here by OpenSSL.
TEST(Blake2b, KnownAnswerTableMatchesOpenSsl)
{
    const Bytes key = Counting(64);
    for (size_t n = 0; n < 256; ++n) {
        const Bytes m = Counting(n);
        const Bytes unkeyed = OpenSslBlake2b512(m);
        ASSERT_EQ(unkeyed.size(), 64u) << "OpenSSL has no BLAKE2B-512";
        EXPECT_EQ(ToHex(Ours(m)), ToHex(unkeyed)) << "unkeyed, length " << n;
        const Bytes keyed = OpenSslMac(m, 64, key);
        ASSERT_EQ(keyed.size(), 64u) << "OpenSSL has no BLAKE2BMAC";
        EXPECT_EQ(ToHex(Ours(m, 64, key)), ToHex(keyed)) << "keyed, length " << n;
    }
}

// Every digest length with keys of every length 1..64 (the parameter block
// carries both), over messages around the block boundary.
TEST(Blake2b, EveryDigestAndKeyLengthMatchesOpenSsl)
{
    std::mt19937 random(7693);
    for (uint32_t outLength = 1; outLength <= 64; ++outLength) {
        for (uint32_t keyLength : {1u, outLength, 65u - outLength, 64u}) {
            const Bytes key = RandomBytes(random, keyLength);
            for (size_t n : kEdgeLengths) {
                const Bytes m = RandomBytes(random, n);
                EXPECT_EQ(ToHex(Ours(m, outLength, key)), ToHex(OpenSslMac(m, outLength, key)))
                    << "digest " << outLength << ", key " << keyLength << ", message " << n;
            }
        }
    }
}

// Unkeyed digests shorter than 64 bytes: OpenSSL computes none, libgcrypt
// has three lengths; a few more from Python's hashlib.blake2b.
TEST(Blake2b, ShortUnkeyedDigests)
{
    std::mt19937 random(20);
    for (uint32_t outLength : {20u, 32u, 48u, 64u}) {
        for (size_t n : kEdgeLengths) {
            const Bytes m = RandomBytes(random, n);
            EXPECT_EQ(ToHex(Ours(m, outLength)), ToHex(GcryptBlake2b(m, outLength)))
                << "digest " << outLength << ", message " << n;
        }
    }
    struct Case {
        uint32_t outLength;
        const char* hex;
    };
    const Case cases[] = {
        {1, "b5"},
        {7, "65dc553f86cf51"},
        {33, "1118cf9a841ee21ba342f7b632068e71b4763e720e56a91dbd75de70429281c384"},
        {63, "549fb130c7c7c830e402b873706b678ef839a648dca98b3d17b82716ab8409d72b74d3a2e4767fbdd58b9d9fabcdcf4d58f472b59835fa30a5362f3429bccd"},
    };
    const Bytes fox = TextBytes("The quick brown fox jumps over the lazy dog");
    for (const Case& c : cases)
        EXPECT_EQ(ToHex(Ours(fox, c.outLength)), c.hex) << "digest " << c.outLength;
}

// The message in pieces of every size pattern gives the one-shot digest,
// keyed and unkeyed; a piece that ends exactly on a block boundary must
// not be compressed as the last block before the next piece arrives.
TEST(Blake2b, PiecesMatchOneShot)
{
    std::mt19937 random(128);
    const Bytes key = RandomBytes(random, 32);
    for (size_t n : {size_t(128), size_t(256), size_t(1000)}) {
        const Bytes m = RandomBytes(random, n);
        for (bool keyed : {false, true}) {
            const Bytes expected = Ours(m, 64, keyed ? key : Bytes());
            for (size_t piece : {1, 7, 64, 127, 128, 129, 300}) {
                XBlake2b h(64, keyed ? key.data() : nullptr, keyed ? 32 : 0);
                for (size_t at = 0; at < n; at += piece)
                    h.Update(m.data() + at, std::min(piece, n - at));
                h.Update(nullptr, 0); // an empty piece changes nothing
                Bytes out(64);
                h.Final(out.data());
                EXPECT_EQ(ToHex(out), ToHex(expected)) << "message " << n << ", pieces of " << piece
                                                       << (keyed ? ", keyed" : "");
            }
        }
    }
}

TEST(Blake2b, RefusesBadLengthsAndUseAfterFinal)
{
    const uint8_t key[65] = {};
    EXPECT_THROW(XBlake2b(0), std::invalid_argument);
    EXPECT_THROW(XBlake2b(65), std::invalid_argument);
    EXPECT_THROW(XBlake2b(64, key, 65), std::invalid_argument);
    EXPECT_THROW(XBlake2b(64, nullptr, 16), std::invalid_argument);
    EXPECT_NO_THROW(XBlake2b(64, key, 64));

    XBlake2b h(32);
    uint8_t out[32];
    h.Final(out);
    EXPECT_THROW(h.Update(key, 1), std::logic_error);
    EXPECT_THROW(h.Final(out), std::logic_error);
}

} // namespace
