// The blob component's text forms: lower-case hex, one-line base64 and
// URL-safe base64 out, strict decoders in; UTF-8 bytes to UTF-16 text and
// back.  Expected texts come from RFC 4648 and from Python's base64 and
// binascii modules and its UTF-8 and UTF-16 codecs (text_codecs_vectors.h,
// written by make_text_codecs_vectors.py).
#include "zelblob/text_codecs.h"

#include "core/codecs.h"
#include "test_support.h"
#include "text_codecs_vectors.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace {

using namespace test_support;
using zelblob::Base64Text;
using zelblob::Base64UrlText;
using zelblob::DecodeBase64;
using zelblob::DecodeBase64Url;
using zelblob::DecodeHex;
using zelblob::HexText;
using zelblob::Utf8Bytes;
using zelblob::Utf8Text;

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

// ---------------------------------------------------------------------------
// The alphabets

// Each value function is the inverse of its alphabet table, for every
// character a script can send, and the two alphabets differ in their last
// two digits only.
TEST(Alphabets, ValueFunctionsInvertTheirTables)
{
    struct Alphabet {
        const char* name;
        const char* table;
        int (*value)(uint32_t);
    };
    const Alphabet alphabets[] = {
        {"base64", kBase64Alphabet, Base64Value},
        {"base64url", kBase64UrlAlphabet, Base64UrlValue},
    };
    for (const Alphabet& a : alphabets) {
        SCOPED_TRACE(a.name);
        ASSERT_EQ(std::strlen(a.table), 64u);
        for (uint32_t c = 0; c <= 0x10FFFF; ++c) {
            const char* at = c > 0 && c < 128 ? std::strchr(a.table, int(c)) : nullptr;
            const int expected = at ? int(at - a.table) : -1;
            ASSERT_EQ(a.value(c), expected) << "character " << c;
        }
    }
    EXPECT_EQ(std::string(kBase64Alphabet, 62), std::string(kBase64UrlAlphabet, 62));
    EXPECT_EQ(std::string(kBase64Alphabet + 62), "+/");
    EXPECT_EQ(std::string(kBase64UrlAlphabet + 62), "-_");
}

// ---------------------------------------------------------------------------
// URL-safe base64

// Against base64.urlsafe_b64encode: the unpadded text out, and both the
// unpadded and the padded text back in.
TEST(Base64Url, MatchesPython)
{
    for (const auto& v : text_codecs_vectors::kBase64Url) {
        SCOPED_TRACE(v.hex);
        const Bytes bytes = FromHex(v.hex);
        EXPECT_EQ(Narrow(Base64UrlText(BlobOf(bytes))), v.unpadded);
        for (const char* text : {v.unpadded, v.padded}) {
            const Decoded d = Decode(DecodeBase64Url, Wide(text));
            EXPECT_TRUE(d.ok) << text << ": " << d.error;
            EXPECT_EQ(d.bytes, bytes) << text;
        }
    }
}

// The rule both base64 forms share for the last digit: the bits past the
// last byte are not checked.
TEST(Base64Url, TrailingBitsAreNotCheckedInEitherForm)
{
    struct Case {
        const char* text;
        const char* bytes;
    };
    const Case cases[] = {
        {"Zg", "f"}, {"Zh", "f"}, {"Zv", "f"}, {"Zm8", "fo"}, {"Zm9", "fo"}, {"Zh==", "f"}, {"Zm9=", "fo"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        for (Decoder decoder : {DecodeBase64, DecodeBase64Url}) {
            const Decoded d = Decode(decoder, Wide(c.text));
            EXPECT_TRUE(d.ok) << d.error;
            EXPECT_EQ(d.bytes, TextBytes(c.bytes));
        }
    }
}

// Every refusal with its exact text: the standard alphabet's '+' and '/',
// blanks and line breaks, a length of 1 mod 4, wrong padding.
TEST(Base64Url, RefusesAnythingElse)
{
    struct Case {
        std::wstring text;
        const char* error;
    };
    const std::string outside = "Base64Url text has a character outside the base64url alphabet at position ";
    const Case cases[] = {
        {L"Zm9v+w", "5"},
        {L"Zm9v/w", "5"},
        {L"+/8", "1"},
        {L"Zm9v Yg", "5"},
        {L"Zm9v\r\nYg", "5"},
        {L"\tZg", "1"},
        {L"Zg\n", "3"},
        {L"Zg= =", "4"},
        {L"Zm9v!", "5"},
        {L"Zm9\x00e9", "4"},
        {std::wstring(L"Zm9") + wchar_t(0x012d), "4"}, // low byte is '-'
        {L"Z", "Base64Url text ends with a single digit in its last group"},
        {L"Zm9vY", "Base64Url text ends with a single digit in its last group"},
        {L"Zm9vYmFyZ", "Base64Url text ends with a single digit in its last group"},
        {L"Zg=", "Base64Url text has incomplete '=' padding"},
        {L"Zm9vYg=", "Base64Url text has incomplete '=' padding"},
        {L"=", "Base64Url text has a misplaced '=' at position 1"},
        {L"Z===", "Base64Url text has a misplaced '=' at position 2"},
        {L"Zg===", "Base64Url text has a misplaced '=' at position 5"},
        {L"Zm9v=", "Base64Url text has a misplaced '=' at position 5"},
        {L"Zm8==", "Base64Url text has a misplaced '=' at position 5"},
        {L"Zg==Zg==", "Base64Url text goes on after its '=' padding at position 5"},
    };
    for (const Case& c : cases) {
        const std::string expected = std::strlen(c.error) <= 2 ? outside + c.error : c.error;
        SCOPED_TRACE(expected);
        const Decoded d = Decode(DecodeBase64Url, c.text);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, expected);
    }
    // The standard base64 refuses the URL-safe digits in turn.
    const Decoded standard = Decode(DecodeBase64, L"Zm9v-_");
    EXPECT_FALSE(standard.ok);
    EXPECT_EQ(standard.error, "Base64 text has a character outside the base64 alphabet at position 5");
}

// ---------------------------------------------------------------------------
// UTF-8

// UTF-16 units from 4-digit hex.
std::wstring UnitsFromHex(const std::string& hex)
{
    std::wstring units;
    for (size_t i = 0; i + 3 < hex.size(); i += 4)
        units += wchar_t(std::stoul(hex.substr(i, 4), nullptr, 16));
    return units;
}

struct TextResult {
    bool ok;
    std::wstring text;
    std::string error;
};

TextResult TextOf(const Bytes& bytes)
{
    std::wstring text = L"previous text";
    std::string error;
    const bool ok = Utf8Text(BlobOf(bytes), text, error);
    if (!ok) {
        EXPECT_TRUE(text.empty()) << "text left behind on failure";
    }
    return {ok, text, error};
}

Decoded BytesOf(const std::wstring& text)
{
    return Decode(Utf8Bytes, text);
}

// Texts a script author writes, both ways: Cyrillic and Japanese (two and
// three bytes a character), a character that needs a surrogate pair (four
// bytes), ASCII with a NUL, a byte order mark, and nothing.
TEST(Utf8, RoundTripsScriptTexts)
{
    struct Case {
        const char* what;
        std::wstring text;
        const char* bytes;
    };
    const Case cases[] = {
        {"Russian", L"\x041f\x0440\x0438\x0432\x0435\x0442", "d09fd180d0b8d0b2d0b5d182"},
        {"Japanese", L"\x65e5\x672c\x8a9e", "e697a5e69cace8aa9e"},
        {"grinning face U+1F600", L"\xd83d\xde00", "f09f9880"},
        {"last code point U+10FFFF", L"\xdbff\xdfff", "f48fbfbf"},
        {"mixed", L"a\x00e9\x20ac\xd834\xdd1e", "61c3a9e282acf09d849e"},
        {"NUL inside", std::wstring(L"a\0b", 3), "610062"},
        {"byte order mark kept", L"\xfeff" L"A", "efbbbf41"},
        {"empty", L"", ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded encoded = BytesOf(c.text);
        EXPECT_TRUE(encoded.ok) << encoded.error;
        EXPECT_EQ(ToHex(encoded.bytes), c.bytes);
        const TextResult decoded = TextOf(FromHex(c.bytes));
        EXPECT_TRUE(decoded.ok) << decoded.error;
        EXPECT_EQ(decoded.text, c.text);
    }
}

// Each kind of ill-formed UTF-8 and the offset reported: the first byte of
// the sequence that is not well-formed.
TEST(Utf8, RefusesIllFormedBytesAndSaysWhere)
{
    struct Case {
        const char* what;
        const char* bytes;
        int at;
    };
    const Case cases[] = {
        {"stray continuation byte", "61628063", 2},
        {"continuation byte first", "bf", 0},
        {"overlong two-byte form (C0)", "c080", 0},
        {"overlong two-byte form (C1)", "4142c1bf", 2},
        {"overlong three-byte form", "e08080", 0},
        {"overlong three-byte form, highest", "e09fbf", 0},
        {"overlong four-byte form", "f08fbfbf", 0},
        {"encoded high surrogate D800", "eda080", 0},
        {"encoded low surrogate DFFF", "41edbfbf", 1},
        {"above U+10FFFF", "f4908080", 0},
        {"lead byte F5", "f5808080", 0},
        {"five-byte lead F8", "f888808080", 0},
        {"FE", "41fe", 1},
        {"FF", "ff", 0},
        {"two-byte sequence cut short by the end", "48656c6c6fc3", 5},
        {"three-byte sequence cut short by the end", "e282", 0},
        {"four-byte sequence cut short by the end", "61f09f98", 1},
        {"two-byte sequence cut short by ASCII", "c241", 0},
        {"three-byte sequence cut short by ASCII", "e28241", 0},
        {"a good character, then a bad one", "d09fff", 2},
        {"after a four-byte character", "f09f98808080", 4},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const TextResult r = TextOf(FromHex(c.bytes));
        EXPECT_FALSE(r.ok);
        EXPECT_EQ(r.error, "Invalid UTF-8 at byte " + std::to_string(c.at));
    }
}

// Against Python's codec: well-formed bytes give its UTF-16 text and come
// back from it unchanged; ill-formed ones fail where Python's decoder does.
TEST(Utf8, DecodesAsPythonDoes)
{
    size_t good = 0, bad = 0;
    for (const auto& v : text_codecs_vectors::kUtf8) {
        SCOPED_TRACE(v.bytes);
        const Bytes bytes = FromHex(v.bytes);
        const TextResult r = TextOf(bytes);
        if (v.errorAt < 0) {
            ++good;
            EXPECT_TRUE(r.ok) << r.error;
            EXPECT_EQ(r.text, UnitsFromHex(v.units));
            const Decoded back = BytesOf(r.text);
            EXPECT_TRUE(back.ok) << back.error;
            EXPECT_EQ(back.bytes, bytes);
        } else {
            ++bad;
            EXPECT_FALSE(r.ok);
            EXPECT_EQ(r.error, "Invalid UTF-8 at byte " + std::to_string(v.errorAt));
        }
    }
    // The fixture holds plenty of both.
    EXPECT_GT(good, 100u);
    EXPECT_GT(bad, 100u);
}

// Against Python's codec, the other way: UTF-16 units (lone surrogates
// among them) to UTF-8, or the 1-based character where that fails.
TEST(Utf8, EncodesAsPythonDoes)
{
    size_t good = 0, bad = 0;
    for (const auto& v : text_codecs_vectors::kUtf16) {
        SCOPED_TRACE(v.units);
        const Decoded d = BytesOf(UnitsFromHex(v.units));
        if (v.errorAt == 0) {
            ++good;
            EXPECT_TRUE(d.ok) << d.error;
            EXPECT_EQ(ToHex(d.bytes), v.bytes);
        } else {
            ++bad;
            EXPECT_FALSE(d.ok);
            EXPECT_EQ(d.error, "Invalid UTF-16 at character " + std::to_string(v.errorAt));
        }
    }
    EXPECT_GT(good, 50u);
    EXPECT_GT(bad, 50u);
}

TEST(Utf8, RefusesUnpairedSurrogatesAndSaysWhere)
{
    struct Case {
        const char* what;
        std::wstring text;
        int at;
    };
    const Case cases[] = {
        {"high surrogate at the end", L"ab\xd83d", 3},
        {"high surrogate before a letter", L"\xd83d" L"A", 1},
        {"two high surrogates", L"\xd83d\xd83d\xde00", 1},
        {"low surrogate alone", L"\xde00", 1},
        {"low surrogate before its high one", L"x\xde00\xd83d", 2},
        {"after a good pair", L"\xd83d\xde00\xdc00", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const Decoded d = BytesOf(c.text);
        EXPECT_FALSE(d.ok);
        EXPECT_EQ(d.error, "Invalid UTF-16 at character " + std::to_string(c.at));
    }
}

} // namespace
