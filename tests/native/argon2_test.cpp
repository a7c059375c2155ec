// Argon2d, Argon2i and Argon2id: the published vectors (with secret and
// associated data), a table of parameter sets against libargon2 (lanes 1..5,
// memory sizes that are not whole segments, passes 1..4, tags from 4 bytes to
// 1 KiB through the variable-length hash H'), H' itself against a chain of
// OpenSSL's BLAKE2b-512 digests, and the refused parameters.  Every Argon2
// test runs on each compression engine this CPU has.
#include "hash/argon2.h"

#include "hash/blake2b.h"

#include "test_support.h"

#include <argon2.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <fstream>
#include <memory>
#include <new>
#include <ostream>
#include <stdexcept>
#include <string>

// GoogleTest shows an engine parameter by this (next to the enum, for lookup).
void PrintTo(Argon2Engine engine, std::ostream* out)
{
    *out << (engine == Argon2Engine::kAvx2 ? "Avx2" : "Portable");
}

namespace {

using namespace test_support;

struct Inputs {
    Bytes password, salt, secret, ad;
};

Bytes Ours(XArgon2Type type, const Inputs& in, uint32_t passes, uint32_t lanes, uint32_t memoryKiB,
           uint32_t tagLength)
{
    return Content(Argon2(type, BlobOf(in.password), BlobOf(in.salt), passes, lanes, memoryKiB, tagLength,
                          BlobOf(in.secret), BlobOf(in.ad)));
}

// libargon2 with one thread; empty on failure (with the reason in `error`).
Bytes Reference(XArgon2Type type, const Inputs& in, uint32_t passes, uint32_t lanes, uint32_t memoryKiB,
                uint32_t tagLength, std::string* error = nullptr)
{
    Bytes password = in.password, salt = in.salt, secret = in.secret, ad = in.ad;
    Bytes out(tagLength);
    argon2_context c = {};
    c.out = out.data();
    c.outlen = tagLength;
    c.pwd = password.data();
    c.pwdlen = uint32_t(password.size());
    c.salt = salt.data();
    c.saltlen = uint32_t(salt.size());
    c.secret = secret.empty() ? nullptr : secret.data();
    c.secretlen = uint32_t(secret.size());
    c.ad = ad.empty() ? nullptr : ad.data();
    c.adlen = uint32_t(ad.size());
    c.t_cost = passes;
    c.m_cost = memoryKiB;
    c.lanes = lanes;
    c.threads = 1;
    c.version = ARGON2_VERSION_13;
    c.flags = ARGON2_DEFAULT_FLAGS;
    const int rc = argon2_ctx(&c, argon2_type(int(type)));
    if (rc != ARGON2_OK) {
        if (error)
            *error = argon2_error_message(rc);
        return {};
    }
    return out;
}

const char* TypeName(XArgon2Type type)
{
    switch (type) {
    case XArgon2Type::kD: return "Argon2d";
    case XArgon2Type::kI: return "Argon2i";
    case XArgon2Type::kId: return "Argon2id";
    }
    return "?";
}

class Argon2Test : public ::testing::TestWithParam<Argon2Engine> {
protected:
    void SetUp() override
    {
        if (!Argon2SelectEngine(GetParam()))
            GTEST_SKIP() << "this CPU cannot run the engine";
    }
    void TearDown() override
    {
        Argon2SelectEngine(Argon2EngineAvailable(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2
                                                                        : Argon2Engine::kPortable);
    }
};

// RFC 9106, section 5: 32 KiB, 3 passes, 4 lanes, 32-byte tag, password
// 32 x 01, salt 16 x 02, secret 8 x 03, associated data 12 x 04.
TEST_P(Argon2Test, PublishedVectors)
{
    const Inputs in{Bytes(32, 0x01), Bytes(16, 0x02), Bytes(8, 0x03), Bytes(12, 0x04)};
    struct Case {
        XArgon2Type type;
        const char* tag;
    };
    const Case cases[] = {
        {XArgon2Type::kD, "512b391b6f1162975371d30919734294f868e3be3984f3c1a13a4db9fabe4acb"},
        {XArgon2Type::kI, "c814d9d1dc7f37aa13f0d77f2494bda1c8de6b016dd388d29952a4c4672b6ce8"},
        {XArgon2Type::kId, "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ToHex(Ours(c.type, in, 3, 4, 32, 32)), c.tag) << TypeName(c.type);
}

struct Parameters {
    XArgon2Type type;
    uint32_t passes, lanes, memoryKiB, tagLength;
    size_t passwordLength, saltLength, secretLength, adLength;
};

void PrintTo(const Parameters& p, std::ostream* out)
{
    *out << TypeName(p.type) << " t=" << p.passes << " p=" << p.lanes << " m=" << p.memoryKiB << " T="
         << p.tagLength << " |P|=" << p.passwordLength << " |S|=" << p.saltLength << " |K|=" << p.secretLength
         << " |X|=" << p.adLength;
}

const Parameters kTable[] = {
    // Lanes 1..5, the smallest memory each allows, every type.
    {XArgon2Type::kId, 1, 1, 8, 32, 8, 8, 0, 0},
    {XArgon2Type::kD, 2, 2, 16, 16, 0, 16, 0, 0},
    {XArgon2Type::kI, 3, 3, 24, 64, 20, 8, 0, 0},
    {XArgon2Type::kId, 4, 4, 32, 4, 1, 9, 0, 0},
    {XArgon2Type::kD, 1, 5, 40, 65, 32, 16, 0, 0},
    {XArgon2Type::kI, 2, 5, 40, 100, 32, 16, 0, 0},
    // Memory that is not a whole number of segments per lane: rounded down
    // to a multiple of 4 x lanes, yet the given value goes into H0.
    {XArgon2Type::kId, 2, 1, 10, 32, 12, 16, 0, 0},
    {XArgon2Type::kId, 2, 2, 19, 32, 12, 16, 0, 0},
    {XArgon2Type::kD, 3, 3, 37, 32, 12, 16, 0, 0},
    {XArgon2Type::kI, 1, 5, 63, 32, 12, 16, 0, 0},
    {XArgon2Type::kId, 3, 4, 47, 1024, 12, 16, 0, 0},
    // Segments longer than 128 blocks: several address blocks per segment.
    {XArgon2Type::kI, 2, 1, 1024, 32, 16, 16, 0, 0},
    {XArgon2Type::kId, 2, 4, 2100, 32, 16, 16, 0, 0},
    {XArgon2Type::kD, 2, 3, 1543, 32, 16, 16, 0, 0},
    // Tag lengths around H''s 64-byte step, with secret and associated data.
    {XArgon2Type::kId, 1, 2, 64, 4, 16, 16, 32, 12},
    {XArgon2Type::kId, 1, 2, 64, 16, 16, 16, 8, 0},
    {XArgon2Type::kId, 1, 2, 64, 64, 16, 16, 0, 100},
    {XArgon2Type::kI, 1, 2, 64, 65, 16, 16, 64, 64},
    {XArgon2Type::kD, 1, 2, 64, 100, 16, 16, 1, 1},
    {XArgon2Type::kId, 1, 2, 64, 1024, 16, 16, 16, 16},
    {XArgon2Type::kId, 1, 2, 64, 1025, 16, 16, 16, 16},
    // Long password and salt (several BLAKE2b blocks of H0).
    {XArgon2Type::kId, 2, 1, 64, 32, 300, 200, 0, 0},
};

class Argon2TableTest : public ::testing::TestWithParam<std::tuple<Argon2Engine, Parameters>> {
protected:
    void SetUp() override
    {
        if (!Argon2SelectEngine(std::get<0>(GetParam())))
            GTEST_SKIP() << "this CPU cannot run the engine";
    }
    void TearDown() override
    {
        Argon2SelectEngine(Argon2EngineAvailable(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2
                                                                        : Argon2Engine::kPortable);
    }
};

TEST_P(Argon2TableTest, MatchesLibargon2)
{
    const Parameters& p = std::get<1>(GetParam());
    std::mt19937 random(p.memoryKiB * 31 + p.tagLength);
    const Inputs in{RandomBytes(random, p.passwordLength), RandomBytes(random, p.saltLength),
                    RandomBytes(random, p.secretLength), RandomBytes(random, p.adLength)};
    std::string error;
    const Bytes expected = Reference(p.type, in, p.passes, p.lanes, p.memoryKiB, p.tagLength, &error);
    ASSERT_FALSE(expected.empty()) << "libargon2: " << error;
    EXPECT_EQ(ToHex(Ours(p.type, in, p.passes, p.lanes, p.memoryKiB, p.tagLength)), ToHex(expected));
}

// What an OpenPGP message's Argon2 S2K usually asks for: Argon2id, 3 passes,
// 4 lanes, 64 MiB, a 16-byte salt and a 32-byte key.
TEST_P(Argon2Test, OpenPgpDefaultParametersMatchLibargon2)
{
    std::mt19937 random(9580);
    const Inputs in{TextBytes("correct horse battery staple"), RandomBytes(random, 16), {}, {}};
    const Bytes expected = Reference(XArgon2Type::kId, in, 3, 4, 65536, 32);
    ASSERT_EQ(expected.size(), 32u);
    EXPECT_EQ(ToHex(Ours(XArgon2Type::kId, in, 3, 4, 65536, 32)), ToHex(expected));
}

std::string EngineName(Argon2Engine engine)
{
    return engine == Argon2Engine::kAvx2 ? "Avx2" : "Portable";
}

INSTANTIATE_TEST_SUITE_P(Engines, Argon2Test, ::testing::Values(Argon2Engine::kPortable, Argon2Engine::kAvx2),
                         [](const ::testing::TestParamInfo<Argon2Engine>& info) { return EngineName(info.param); });

INSTANTIATE_TEST_SUITE_P(Engines, Argon2TableTest,
                         ::testing::Combine(::testing::Values(Argon2Engine::kPortable, Argon2Engine::kAvx2),
                                            ::testing::ValuesIn(kTable)),
                         [](const auto& info) {
                             return EngineName(std::get<0>(info.param)) + "_" +
                                    std::to_string(info.index % (sizeof kTable / sizeof kTable[0]));
                         });

// H' for lengths whose last link is a whole 64-byte digest (multiples of 32
// above 64) is a chain of BLAKE2b-512 digests, which OpenSSL computes: the
// first over LE32(T) || X, each next one over the one before, 32 bytes
// taken from each but the last.
TEST(Argon2VariableHash, MatchesChainOfOpenSslDigests)
{
    struct MdDeleter {
        void operator()(EVP_MD* p) const { EVP_MD_free(p); }
    };
    std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, "BLAKE2B-512", nullptr));
    ASSERT_TRUE(md) << "OpenSSL has no BLAKE2B-512";
    std::mt19937 random(3);
    for (size_t inputLength : {0, 72, 1024}) {
        const Bytes x = RandomBytes(random, inputLength);
        for (uint32_t length : {64u, 96u, 128u, 1024u, 4096u}) {
            Bytes v = OpenSslDigest(md.get(), Concat({uint8_t(length), uint8_t(length >> 8), uint8_t(length >> 16),
                                                      uint8_t(length >> 24)},
                                                     x));
            Bytes expected;
            while (expected.size() + 64 < length) {
                expected.insert(expected.end(), v.begin(), v.begin() + 32);
                v = OpenSslDigest(md.get(), v);
            }
            expected.insert(expected.end(), v.begin(), v.end());
            EXPECT_EQ(ToHex(Content(Argon2VariableHash(BlobOf(x), length))), ToHex(expected))
                << "input " << inputLength << ", length " << length;
        }
    }
    EXPECT_THROW(Argon2VariableHash(BlobOf(Bytes(8)), 0), std::invalid_argument);
}

TEST(Argon2Parameters, RefusedWithInvalidArgument)
{
    const XBlob password = BlobOf(TextBytes("password")), salt = BlobOf(Bytes(16, 0x5a)),
                shortSalt = BlobOf(Bytes(7, 0x5a));
    struct Case {
        const char* what;
        XArgon2Type type;
        uint32_t passes, lanes, memoryKiB, tagLength;
        const XBlob* salt;
    };
    const Case cases[] = {
        {"no passes", XArgon2Type::kId, 0, 1, 8, 32, &salt},
        {"no lanes", XArgon2Type::kId, 1, 0, 8, 32, &salt},
        {"2^24 lanes", XArgon2Type::kId, 1, 1u << 24, 1u << 28, 32, &salt},
        {"memory below 8 KiB per lane", XArgon2Type::kId, 1, 4, 31, 32, &salt},
        {"3-byte tag", XArgon2Type::kId, 1, 1, 8, 3, &salt},
        {"7-byte salt", XArgon2Type::kId, 1, 1, 8, 32, &shortSalt},
        {"unknown type", XArgon2Type(3), 1, 1, 8, 32, &salt},
    };
    for (const Case& c : cases)
        EXPECT_THROW(Argon2(c.type, password, *c.salt, c.passes, c.lanes, c.memoryKiB, c.tagLength),
                     std::invalid_argument)
            << c.what;
    // The smallest values allowed.
    EXPECT_EQ(Argon2(XArgon2Type::kId, XBlob(0), BlobOf(Bytes(8)), 1, 1, 8, 4).Length(), 4u);
}

// 4 TiB of blocks: no address space holds them, and the call says so
// instead of failing later.
TEST(Argon2Parameters, MemoryThatCannotBeAllocatedRaisesBadAlloc)
{
    std::ifstream overcommit("/proc/sys/vm/overcommit_memory");
    int mode = 0;
    if (overcommit >> mode && mode == 1)
        GTEST_SKIP() << "the kernel grants any allocation (overcommit_memory = 1)";
    const XBlob password = BlobOf(TextBytes("password")), salt = BlobOf(Bytes(16, 1));
    EXPECT_THROW(Argon2(XArgon2Type::kId, password, salt, 1, 1, 0xffffffffu, 32), std::bad_alloc);
}

} // namespace
