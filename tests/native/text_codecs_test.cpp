// The blob component's text forms: lower-case hex and one-line base64 out,
// strict decoders in.  Expected texts come from RFC 4648 and from Python's
// base64 and binascii modules.
#include "zelblob/text_codecs.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace test_support;
using zelblob::Base64Text;
using zelblob::DecodeBase64;
using zelblob::DecodeHex;
using zelblob::HexText;

Bytes AllByteValues()
{
    Bytes all(256);
    for (int i = 0; i < 256; ++i)
        all[i] = uint8_t(i);
    return all;
}

std::string Narrow(const std::wstring& w)
{
    std::string s;
    for (wchar_t c : w) {
        EXPECT_LT(unsigned(c), 128u);
        s += char(c);
    }
    return s;
}

std::wstring Wide(const std::string& s)
{
    return std::wstring(s.begin(), s.end());
}

using Decoder = bool (*)(const wchar_t*, size_t, XBlob&, std::string&);

// Decodes `text` into a buffer that already holds other bytes.  On success the
// buffer holds exactly the decoded bytes; on failure it is left as it was.
struct Decoded {
    bool ok;
    Bytes bytes;
    std::string error;
};

Decoded Decode(Decoder decoder, const std::wstring& text)
{
    XBlob out = BlobOf(std::string("previous contents"));
    std::string error;
    const bool ok = decoder(text.data(), text.size(), out, error);
    if (!ok) {
        EXPECT_EQ(Content(out), TextBytes("previous contents")) << "output changed on failure";
        EXPECT_FALSE(error.empty()) << "failure without an error text";
    }
    return {ok, Content(out), error};
}

// RFC 4648, section 10.
struct Vector {
    const char* bytes;
    const char* base64;
    const char* hex;
};
const Vector kRfc4648[] = {
    {"", "", ""},
    {"f", "Zg==", "66"},
    {"fo", "Zm8=", "666f"},
    {"foo", "Zm9v", "666f6f"},
    {"foob", "Zm9vYg==", "666f6f62"},
    {"fooba", "Zm9vYmE=", "666f6f6261"},
    {"foobar", "Zm9vYmFy", "666f6f626172"},
};

// base64.b64encode(bytes(range(256))); every symbol of the alphabet occurs.
const char kAllBytesBase64[] =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4"
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx"
    "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq"
    "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj"
    "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==";

// base64.encodebytes(bytes(range(256))): the same text in 76-column lines.
const char kAllBytesBase64Lines[] =
    "AAECAwQFBgcICQoLDA0ODxAREhMUFRYXGBkaGxwdHh8gISIjJCUmJygpKissLS4vMDEyMzQ1Njc4\n"
    "OTo7PD0+P0BBQkNERUZHSElKS0xNTk9QUVJTVFVWV1hZWltcXV5fYGFiY2RlZmdoaWprbG1ub3Bx\n"
    "cnN0dXZ3eHl6e3x9fn+AgYKDhIWGh4iJiouMjY6PkJGSk5SVlpeYmZqbnJ2en6ChoqOkpaanqKmq\n"
    "q6ytrq+wsbKztLW2t7i5uru8vb6/wMHCw8TFxsfIycrLzM3Oz9DR0tPU1dbX2Nna29zd3t/g4eLj\n"
    "5OXm5+jp6uvs7e7v8PHy8/T19vf4+fr7/P3+/w==\n";

// ---------------------------------------------------------------------------
// Encoding

TEST(TextEncode, PublishedVectors)
{
    for (const Vector& v : kRfc4648) {
        SCOPED_TRACE(v.bytes);
        const XBlob b = BlobOf(std::string(v.bytes));
        EXPECT_EQ(Narrow(Base64Text(b)), v.base64);
        EXPECT_EQ(Narrow(HexText(b)), v.hex);
    }
}

TEST(TextEncode, EveryByteValue)
{
    const XBlob all = BlobOf(AllByteValues());
    EXPECT_EQ(Narrow(Base64Text(all)), kAllBytesBase64);

    std::string hex;
    char pair[3];
    for (int i = 0; i < 256; ++i) {
        std::snprintf(pair, sizeof pair, "%02x", i);
        hex += pair;
    }
    EXPECT_EQ(Narrow(HexText(all)), hex);
}

TEST(TextEncode, HighSymbolsAndPadding)
{
    struct Case {
        Bytes bytes;
        const char* base64;
    };
    const Case cases[] = {
        {{0xFF}, "/w=="}, {{0xFF, 0xFE}, "//4="}, {{0xFB, 0xFF}, "+/8="},
        {{0x00, 0x00, 0x00}, "AAAA"}, {{0xFB, 0xEF, 0xBE}, "++++"}, {{0xFF, 0xFF, 0xFF}, "////"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.base64);
        EXPECT_EQ(Narrow(Base64Text(BlobOf(c.bytes))), c.base64);
    }
}

// Only the used bytes are encoded, whatever lies beyond the length.
TEST(TextEncode, LooksAtUsedBytesOnly)
{
    XBlob b = BlobOf(std::string("foobar"));
    b.SetLength(3);
    EXPECT_EQ(Narrow(Base64Text(b)), "Zm9v");
    EXPECT_EQ(Narrow(HexText(b)), "666f6f");
}

// ---------------------------------------------------------------------------
// Decoding valid texts

TEST(TextDecode, PublishedVectors)
{
    for (const Vector& v : kRfc4648) {
        SCOPED_TRACE(v.bytes);
        const Decoded base64 = Decode(DecodeBase64, Wide(v.base64));
        EXPECT_TRUE(base64.ok) << base64.error;
        EXPECT_EQ(base64.bytes, TextBytes(v.bytes));
        const Decoded hex = Decode(DecodeHex, Wide(v.hex));
        EXPECT_TRUE(hex.ok) << hex.error;
        EXPECT_EQ(hex.bytes, TextBytes(v.bytes));
    }
}

TEST(TextDecode, Base64SkipsLineBreaksAndBlanks)
{
    const Bytes all = AllByteValues();
    std::string crlf;
    for (const char* p = kAllBytesBase64Lines; *p; ++p)
        crlf += *p == '\n' ? std::string(" \t\r\n") : std::string(1, *p);
    for (const std::string& text : {std::string(kAllBytesBase64), std::string(kAllBytesBase64Lines), crlf}) {
        const Decoded d = Decode(DecodeBase64, Wide(text));
        EXPECT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.bytes, all);
    }

    struct Case {
        const char* text;
        const char* bytes;
    };
    const Case cases[] = {
        {"Zg", "f"},              // padding left out
        {"Zm8", "fo"},
        {"Zm9vYg", "foob"},
        {" Zm9v YmFy ", "foobar"},
        {"Zg = =", "f"},          // blanks inside the padding
        {"Zm8=\r\n", "fo"},       // line break after the padding
        {" \t\r\n", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Decoded d = Decode(DecodeBase64, Wide(c.text));
        EXPECT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.bytes, TextBytes(c.bytes));
    }
}

TEST(TextDecode, HexTakesEitherCaseAndSkipsBlanks)
{
    struct Case {
        const char* text;
        Bytes bytes;
    };
    const Case cases[] = {
        {"deadBEEF", {0xDE, 0xAD, 0xBE, 0xEF}},
        {"DE AD\tbe\r\nef\n", {0xDE, 0xAD, 0xBE, 0xEF}},
        {"0 0f f", {0x00, 0xFF}}, // blanks may even split a byte
        {"09afAF", {0x09, 0xAF, 0xAF}},
        {"\r\n", {}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        const Decoded d = Decode(DecodeHex, Wide(c.text));
        EXPECT_TRUE(d.ok) << d.error;
        EXPECT_EQ(d.bytes, c.bytes);
    }
}

// The text comes with its length (a script's string may hold NULs); the
// decoders read exactly that many characters.
TEST(TextDecode, ReadsExactlyTheGivenLength)
{
    const std::wstring base64 = L"Zm9vYmFy";
    XBlob out;
    std::string error;
    ASSERT_TRUE(DecodeBase64(base64.data(), 4, out, error)) << error;
    EXPECT_EQ(Content(out), TextBytes("foo"));

    const std::wstring hex = L"666fzz";
    ASSERT_TRUE(DecodeHex(hex.data(), 4, out, error)) << error;
    EXPECT_EQ(Content(out), TextBytes("fo"));

    const wchar_t with_nul[] = {L'6', L'6', L'\0', L'6', L'f'};
    EXPECT_FALSE(DecodeHex(with_nul, 5, out, error));
    EXPECT_EQ(Content(out), TextBytes("fo"));
}

TEST(TextDecode, RoundTripsEveryLengthThroughBothForms)
{
    Bytes bytes;
    uint32_t state = 12345;
    for (int length = 0; length <= 70; ++length) {
        SCOPED_TRACE(length);
        const XBlob blob = BlobOf(bytes);
        const std::wstring base64 = Base64Text(blob);
        EXPECT_EQ(base64.size(), size_t((length + 2) / 3 * 4));
        EXPECT_EQ(base64.find_first_of(L" \t\r\n"), std::wstring::npos);
        const Decoded from_base64 = Decode(DecodeBase64, base64);
        EXPECT_TRUE(from_base64.ok) << from_base64.error;
        EXPECT_EQ(from_base64.bytes, bytes);

        const std::wstring hex = HexText(blob);
        EXPECT_EQ(hex.size(), size_t(length) * 2);
        const Decoded from_hex = Decode(DecodeHex, hex);
        EXPECT_TRUE(from_hex.ok) << from_hex.error;
        EXPECT_EQ(from_hex.bytes, bytes);

        state = state * 1103515245u + 12345u;
        bytes.push_back(uint8_t(state >> 16));
    }
}

// ---------------------------------------------------------------------------
// Refusing malformed texts

struct Malformed {
    std::wstring text;
    const char* what;
    int position; // 1-based position of the offending character, 0 when none
};

void ExpectRefused(Decoder decoder, const Malformed& m)
{
    SCOPED_TRACE(m.what);
    const Decoded d = Decode(decoder, m.text);
    EXPECT_FALSE(d.ok);
    if (m.position) {
        EXPECT_NE(d.error.find("position " + std::to_string(m.position)), std::string::npos) << d.error;
    }
}

TEST(TextDecode, HexRefusesMalformedText)
{
    const Malformed cases[] = {
        {L"a", "single digit", 0},
        {L"abc", "odd number of digits", 0},
        {L"12 3", "odd after blanks are skipped", 0},
        {L"0g", "letter past f", 2},
        {L"0x00", "0x prefix", 2},
        {L"12-4", "minus sign", 3},
        {L"ab\vcd", "vertical tab is not a blank", 3},
        {L"ab\x00e9", "non-ASCII letter", 3},
        {std::wstring(L"\xff31") + L"1", "wide character whose low byte is a digit", 1},
    };
    for (const Malformed& m : cases)
        ExpectRefused(DecodeHex, m);
}

TEST(TextDecode, Base64RefusesMalformedText)
{
    const Malformed cases[] = {
        {L"Z", "single digit", 0},
        {L"Zm9vY", "single digit in the last group", 0},
        {L"Zg=", "incomplete padding", 0},
        {L"Zm9vYg=", "incomplete padding after a full group", 0},
        {L"=", "padding alone", 1},
        {L"==", "padding alone", 1},
        {L"Z===", "padding after one digit", 2},
        {L"Zg===", "three padding characters", 5},
        {L"Zm9v=", "padding after a full group", 5},
        {L"Zm8==", "padding past four characters", 5},
        {L"Zg==Zg==", "text after the padding", 5},
        {L"Zg= =Zm9v", "text after blanks after the padding", 6},
        {L"Zm9v!", "outside the alphabet", 5},
        {L"Zm9v-_", "URL-safe alphabet", 5},
        {L"Zm9v\vYmFy", "vertical tab is not a blank", 5},
        {L"Zm9\x00e9", "non-ASCII letter", 4},
        {L"Zm9\x0141", "wide character whose low byte is in the alphabet", 4},
    };
    for (const Malformed& m : cases)
        ExpectRefused(DecodeBase64, m);
}

} // namespace
