// The Argon2 engine as the MinGW compiler builds it for the DLLs (the 64-bit
// build adds the AVX2 compression, with the Windows calling convention): the
// published Argon2d, Argon2i and Argon2id vectors on every engine this CPU
// runs, and both engines agreeing at 64 MiB, 3 passes, 4 lanes.  The
// independent checks against libargon2 run natively.
#include "hash/argon2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <string>

namespace {

std::string Hex(const XBlob& b)
{
    static const char kDigits[] = "0123456789abcdef";
    std::string s;
    for (uint32_t i = 0; i < b.Length(); ++i) {
        s += kDigits[b.At(i) >> 4];
        s += kDigits[b.At(i) & 15];
    }
    return s;
}

XBlob Repeated(uint8_t byte, uint32_t n)
{
    XBlob b;
    for (uint32_t i = 0; i < n; ++i)
        b.AppendByte(byte);
    return b;
}

const Argon2Engine kEngines[] = {Argon2Engine::kPortable, Argon2Engine::kAvx2};

class Argon2Engines : public testing::Test {
protected:
    void TearDown() override
    {
        Argon2SelectEngine(Argon2EngineAvailable(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2
                                                                        : Argon2Engine::kPortable);
    }
};

// RFC 9106, section 5.
TEST_F(Argon2Engines, PublishedVectors)
{
    const XBlob password = Repeated(1, 32), salt = Repeated(2, 16), secret = Repeated(3, 8), ad = Repeated(4, 12);
    struct Case {
        XArgon2Type type;
        const char* tag;
    };
    const Case cases[] = {
        {XArgon2Type::kD, "512b391b6f1162975371d30919734294f868e3be3984f3c1a13a4db9fabe4acb"},
        {XArgon2Type::kI, "c814d9d1dc7f37aa13f0d77f2494bda1c8de6b016dd388d29952a4c4672b6ce8"},
        {XArgon2Type::kId, "0d640df58d78766c08c037a34a8b53c9d01ef0452d75b65eb52520e96b01e659"},
    };
    for (Argon2Engine engine : kEngines) {
        if (!Argon2SelectEngine(engine))
            continue;
        for (const Case& c : cases)
            EXPECT_EQ(Hex(Argon2(c.type, password, salt, 3, 4, 32, 32, secret, ad)), c.tag)
                << "type " << int(c.type) << ", engine " << int(engine);
    }
}

TEST_F(Argon2Engines, OpenPgpParametersAgreeOnEveryEngine)
{
    XBlob password, salt = Repeated(0x5a, 16);
    password.AssignText("correct horse battery staple");
    std::string first;
    for (Argon2Engine engine : kEngines) {
        if (!Argon2SelectEngine(engine))
            continue;
        const auto start = std::chrono::steady_clock::now();
        const std::string tag = Hex(Argon2(XArgon2Type::kId, password, salt, 3, 4, 65536, 32));
        const double ms =
            std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
        std::printf("Argon2id 64 MiB, 3 passes, 4 lanes, %s engine: %.0f ms\n",
                    engine == Argon2Engine::kAvx2 ? "AVX2" : "portable", ms);
        EXPECT_EQ(tag.size(), 64u);
        if (first.empty())
            first = tag;
        else
            EXPECT_EQ(tag, first) << "engine " << int(engine);
    }
}

} // namespace
