// Base64 and hex codecs of the engine (armor bodies, RSA exponents).
#include "core/codecs.h"

#include "test_support.h"

#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <random>
#include <string>
#include <vector>

namespace {

using namespace test_support;

// OpenSSL's one-line base64 cut into 76-character lines joined by CR LF.
std::string OpensslLines(const XBlob& data)
{
    std::string flat(4 * ((data.Length() + 2) / 3) + 1, '\0');
    const int n = EVP_EncodeBlock(reinterpret_cast<unsigned char*>(&flat[0]), data.Data(), int(data.Length()));
    flat.resize(size_t(n));
    std::string lines;
    for (size_t i = 0; i < flat.size(); i += 76) {
        if (i)
            lines += "\r\n";
        lines += flat.substr(i, 76);
    }
    return lines;
}

TEST(Base64Codec, EncodesGroupsPaddingAndLines)
{
    EXPECT_EQ(Base64Encode(BlobOf("abc")), "YWJj");
    EXPECT_EQ(Base64Encode(BlobOf("ab")), "YWI=");
    EXPECT_EQ(Base64Encode(BlobOf("a")), "YQ==");
    EXPECT_EQ(Base64Encode(XBlob()), "");
    // 57 bytes fill exactly one line, with no line break after it.
    const std::string one = Base64Encode(BlobOf(std::string(57, 'x')));
    EXPECT_EQ(one.size(), 76u);
    EXPECT_EQ(one.find('\r'), std::string::npos);
    // 58 bytes: a full line, CR LF, then four characters ending in "==".
    const std::string two = Base64Encode(BlobOf(std::string(58, 'x')));
    ASSERT_EQ(two.size(), 76u + 2 + 4);
    EXPECT_EQ(two.substr(76, 2), "\r\n");
    EXPECT_EQ(two.substr(78), "eA==");
}

TEST(Base64Codec, MatchesOpensslAndRoundTripsAtEveryLength)
{
    std::mt19937 random(7);
    for (uint32_t length = 0; length <= 400; ++length) {
        XBlob data;
        for (uint32_t i = 0; i < length; ++i)
            data.AppendByte(uint8_t(random()));
        const std::string text = Base64Encode(data);
        ASSERT_EQ(text, OpensslLines(data)) << "length " << length;
        XBlob back;
        Base64Decode(text.c_str(), back);
        ASSERT_TRUE(back == data) << "length " << length;
    }
}

TEST(Base64Codec, DecodingSkipsForeignCharactersAndStopsAtPadding)
{
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"YW Jj", {'a', 'b', 'c'}},
        {"YWJj\r\n", {'a', 'b', 'c'}},
        {"Y\tW*J-j", {'a', 'b', 'c'}},
        {"YQ==", {'a'}},
        {"AA==", {0}},
        {"AAA=", {0, 0}},
        {"YQ==YWJj", {'a'}},    // nothing after the first "=" is read
        {"YWJjY", {'a', 'b', 'c'}}, // a single leftover character gives nothing
        {"YR", {'a'}},          // unused low bits are ignored
        {"", {}},
        {"=YWJj", {}},
    };
    for (const Case& c : cases) {
        XBlob out;
        out.AppendByte(0x55); // decoding clears what was there
        Base64Decode(c.text, out);
        EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.Length()), c.bytes) << c.text;
    }
}

TEST(HexCodec, DecodesPairsWithALeadingZeroForOddLengths)
{
    struct Case {
        const char* text;
        std::vector<uint8_t> bytes;
    };
    const Case cases[] = {
        {"10001", {0x01, 0x00, 0x01}},
        {"ff", {0xFF}},
        {"FfA0", {0xFF, 0xA0}},
        {"abc", {0x0A, 0xBC}},
        {"", {}},
        {"0", {0x00}},
        {"zz01", {0x01}},   // a pair that is not two hex digits is skipped
        {"0g11", {0x11}},
        {"x0102", {0x01, 0x02}}, // odd length: "0x" is the skipped pair
    };
    for (const Case& c : cases) {
        XBlob out;
        out.AppendByte(0x55);
        HexDecode(c.text, out);
        EXPECT_EQ(std::vector<uint8_t>(out.Data(), out.Data() + out.Length()), c.bytes) << c.text;
    }
}

} // namespace
