// Fuzz target: the text codecs.  The blob component's Hex, Base64 and
// Base64Url properties decode strictly (zelblob/text_codecs: DecodeHex,
// DecodeBase64, DecodeBase64Url) and encode on one line (HexText,
// Base64Text, Base64UrlText), and its Utf8 property converts between UTF-8
// bytes and UTF-16 text (Utf8Text, Utf8Bytes); the engine decodes leniently
// (core/codecs: HexDecode, Base64Decode, which never fail) and encodes
// base64 in 76-character lines (Base64Encode).  These must hold:
//
// - what the strict decoder accepts, the lenient one decodes to the same
//   bytes (hex once the blanks the strict decoder skips are taken out: the
//   lenient one reads positional pairs); the accepted text is what HexText
//   writes, up to blanks and case, and base64 gives 6 bits per digit;
// - a refused text leaves the output as it was, and the error's position
//   points at a character that is in fact wrong;
// - every encoding of the input bytes decodes back to them, strictly and
//   leniently; Base64Encode is Base64Text broken into lines of 76;
// - the lenient decoders keep their documented rules: base64 stops at the
//   first "=" and skips characters outside the alphabet; hex of odd length
//   reads as if a "0" stood in front;
// - base64url is base64 with "-_" for "+/" and no blanks: the URL-safe
//   decoder takes a text exactly when it holds no blank, "+" or "/" and the
//   standard decoder takes it with "-_" turned into "+/", and both give the
//   same bytes;
// - UTF-8: bytes that convert to text come back from that text unchanged;
//   bytes refused at byte N convert up to N, and not from N on; text that
//   converts to bytes comes back from them unchanged; text refused at
//   character N holds an unpaired surrogate there and converts up to it.
//
// Input: a flag byte (bit 0: the text is UTF-16 code units, two bytes each
// little-endian, as a Windows script hands them over; else one byte per
// character), then the text; the whole input is also the data encoded, and
// the bytes after the flag byte the UTF-8 that is converted to text.
#include "core/codecs.h"
#include "core/xblob.h"
#include "tests/fuzz/fuzz_support.h"
#include "zelblob/text_codecs.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

using fuzz::Blob;
using fuzz::Bytes;

namespace {

using Model = std::vector<uint8_t>;

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

bool IsHexDigit(wchar_t c)
{
    return (c >= L'0' && c <= L'9') || (c >= L'a' && c <= L'f') || (c >= L'A' && c <= L'F');
}

bool IsBase64Digit(wchar_t c)
{
    return (c >= L'A' && c <= L'Z') || (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'+' ||
           c == L'/';
}

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text) {
        FUZZ_CHECK(c > 0 && c < 0x80);
        out += char(c);
    }
    return out;
}

std::wstring Widen(const std::string& text)
{
    return std::wstring(text.begin(), text.end());
}

std::wstring WithoutBlanks(const std::wstring& text)
{
    std::wstring out;
    for (wchar_t c : text)
        if (!IsBlank(c))
            out += c;
    return out;
}

// The 1-based position in "... at position N", or 0 when there is none.
size_t ErrorPosition(const std::string& error)
{
    const std::string marker = " at position ";
    const size_t at = error.rfind(marker);
    if (at == std::string::npos)
        return 0;
    return std::stoul(error.substr(at + marker.size()));
}

const Model kSentinel = {0xde, 0xad, 0xbe, 0xef};

void CheckHexText(const std::wstring& text)
{
    XBlob out = Blob(kSentinel);
    std::string error;
    if (!zelblob::DecodeHex(text.data(), text.size(), out, error)) {
        FUZZ_CHECK(Bytes(out) == kSentinel);
        FUZZ_CHECK(!error.empty());
        if (const size_t position = ErrorPosition(error)) {
            FUZZ_CHECK(position <= text.size());
            const wchar_t c = text[position - 1];
            FUZZ_CHECK(!IsBlank(c) && !IsHexDigit(c));
        } else {
            // An odd number of digits: nothing else is wrong with the text.
            const std::wstring digits = WithoutBlanks(text);
            FUZZ_CHECK(digits.size() % 2 == 1);
            FUZZ_CHECK(std::all_of(digits.begin(), digits.end(), IsHexDigit));
        }
        return;
    }
    const std::wstring digits = WithoutBlanks(text);
    FUZZ_CHECK(out.Length() * 2 == digits.size());
    XBlob lenient;
    HexDecode(Narrow(digits).c_str(), lenient);
    FUZZ_CHECK(lenient == out);
    std::wstring lower = digits;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](wchar_t c) { return c >= L'A' && c <= L'F' ? c + 32 : c; });
    FUZZ_CHECK(zelblob::HexText(out) == lower);
}

void CheckBase64Text(const std::wstring& text)
{
    XBlob out = Blob(kSentinel);
    std::string error;
    if (!zelblob::DecodeBase64(text.data(), text.size(), out, error)) {
        FUZZ_CHECK(Bytes(out) == kSentinel);
        FUZZ_CHECK(!error.empty());
        if (const size_t position = ErrorPosition(error)) {
            FUZZ_CHECK(position <= text.size());
            // The character the error names is of the kind it says.
            const wchar_t c = text[position - 1];
            if (error.find("outside the base64 alphabet") != std::string::npos)
                FUZZ_CHECK(!IsBlank(c) && !IsBase64Digit(c) && c != L'=');
            else if (error.find("misplaced '='") != std::string::npos)
                FUZZ_CHECK(c == L'=');
            else
                FUZZ_CHECK(IsBase64Digit(c));
        }
        return;
    }
    const std::wstring digits = WithoutBlanks(text);
    const size_t padding = size_t(std::count(digits.begin(), digits.end(), L'='));
    const size_t count = digits.size() - padding;
    // Padding only at the end, and six bits per digit.
    FUZZ_CHECK(std::all_of(digits.begin(), digits.begin() + count, IsBase64Digit));
    FUZZ_CHECK(out.Length() == count * 6 / 8);
    XBlob lenient;
    Base64Decode(Narrow(text).c_str(), lenient);
    FUZZ_CHECK(lenient == out);
}

void CheckEncodings(const XBlob& data)
{
    std::string error;
    const std::wstring hex = zelblob::HexText(data);
    const std::wstring base64 = zelblob::Base64Text(data);
    const std::string lines = Base64Encode(data);

    XBlob strict;
    FUZZ_CHECK(zelblob::DecodeHex(hex.data(), hex.size(), strict, error) && strict == data);
    const std::wstring base64Url = zelblob::Base64UrlText(data);
    FUZZ_CHECK(zelblob::DecodeBase64Url(base64Url.data(), base64Url.size(), strict, error) && strict == data);
    // The standard text with "-_" for "+/" and without its padding.
    std::wstring translated = base64.substr(0, base64.find(L'='));
    for (wchar_t& c : translated)
        c = c == L'+' ? L'-' : c == L'/' ? L'_' : c;
    FUZZ_CHECK(base64Url == translated);
    FUZZ_CHECK(zelblob::DecodeBase64(base64.data(), base64.size(), strict, error) && strict == data);
    const std::wstring wideLines = Widen(lines);
    FUZZ_CHECK(zelblob::DecodeBase64(wideLines.data(), wideLines.size(), strict, error) && strict == data);

    XBlob lenient;
    HexDecode(Narrow(hex).c_str(), lenient);
    FUZZ_CHECK(lenient == data);
    std::string upper = Narrow(hex);
    std::transform(upper.begin(), upper.end(), upper.begin(), [](char c) { return c >= 'a' && c <= 'f' ? c - 32 : c; });
    HexDecode(upper.c_str(), lenient);
    FUZZ_CHECK(lenient == data);
    Base64Decode(lines.c_str(), lenient);
    FUZZ_CHECK(lenient == data);

    // Lines of 76 characters joined by CR LF, the last one possibly shorter.
    std::string joined;
    size_t start = 0;
    for (;;) {
        const size_t end = lines.find("\r\n", start);
        const std::string line = lines.substr(start, end == std::string::npos ? std::string::npos : end - start);
        joined += line;
        if (end == std::string::npos) {
            FUZZ_CHECK(line.size() <= 76 && (line.size() > 0 || data.Length() == 0));
            break;
        }
        FUZZ_CHECK(line.size() == 76);
        start = end + 2;
    }
    FUZZ_CHECK(Widen(joined) == base64);
}

void CheckBase64UrlText(const std::wstring& text)
{
    XBlob out = Blob(kSentinel);
    std::string error;
    const bool taken = zelblob::DecodeBase64Url(text.data(), text.size(), out, error);

    std::wstring standard = text;
    bool foreign = false;
    for (wchar_t& c : standard) {
        foreign = foreign || IsBlank(c) || c == L'+' || c == L'/';
        c = c == L'-' ? L'+' : c == L'_' ? L'/' : c;
    }
    XBlob expected;
    std::string standardError;
    const bool standardTaken = zelblob::DecodeBase64(standard.data(), standard.size(), expected, standardError);
    FUZZ_CHECK(taken == (standardTaken && !foreign));
    if (taken) {
        FUZZ_CHECK(out == expected);
    } else {
        FUZZ_CHECK(Bytes(out) == kSentinel);
        FUZZ_CHECK(error.rfind("Base64Url text ", 0) == 0);
        if (const size_t position = ErrorPosition(error)) {
            FUZZ_CHECK(position <= text.size());
            // The character the error names is of the kind it says.
            const wchar_t c = text[position - 1];
            const bool urlDigit = (IsBase64Digit(c) && c != L'+' && c != L'/') || c == L'-' || c == L'_';
            if (error.find("outside the base64url alphabet") != std::string::npos)
                FUZZ_CHECK(!urlDigit && c != L'=');
            else if (error.find("misplaced '='") != std::string::npos)
                FUZZ_CHECK(c == L'=');
            else
                FUZZ_CHECK(urlDigit);
        }
    }
}

// The 0-based byte or 1-based character in "Invalid UTF-... at <unit> N".
size_t Utf8ErrorPosition(const std::string& error, const std::string& prefix)
{
    FUZZ_CHECK(error.rfind(prefix, 0) == 0);
    return std::stoul(error.substr(prefix.size()));
}

void CheckUtf8(const XBlob& bytes)
{
    std::wstring text = L"previous";
    std::string error;
    if (zelblob::Utf8Text(bytes, text, error)) {
        FUZZ_CHECK(text.size() <= bytes.Length());
        XBlob back = Blob(kSentinel);
        FUZZ_CHECK(zelblob::Utf8Bytes(text.data(), text.size(), back, error));
        FUZZ_CHECK(back == bytes);
        return;
    }
    FUZZ_CHECK(text.empty());
    const size_t at = Utf8ErrorPosition(error, "Invalid UTF-8 at byte ");
    FUZZ_CHECK(at < bytes.Length());
    XBlob head, tail;
    bytes.CopyRange(head, 0, uint32_t(at));
    bytes.CopyRange(tail, uint32_t(at), bytes.Length());
    FUZZ_CHECK(zelblob::Utf8Text(head, text, error));
    FUZZ_CHECK(!zelblob::Utf8Text(tail, text, error));
    FUZZ_CHECK(error == "Invalid UTF-8 at byte 0");
}

void CheckUtf16(const std::wstring& text)
{
    XBlob bytes = Blob(kSentinel);
    std::string error;
    if (zelblob::Utf8Bytes(text.data(), text.size(), bytes, error)) {
        std::wstring back;
        FUZZ_CHECK(zelblob::Utf8Text(bytes, back, error));
        FUZZ_CHECK(back == text);
        return;
    }
    FUZZ_CHECK(Bytes(bytes) == kSentinel);
    const size_t at = Utf8ErrorPosition(error, "Invalid UTF-16 at character ");
    FUZZ_CHECK(at >= 1 && at <= text.size());
    const uint32_t unit = uint32_t(text[at - 1]);
    FUZZ_CHECK(unit >= 0xD800 && unit <= 0xDFFF);
    XBlob head;
    FUZZ_CHECK(zelblob::Utf8Bytes(text.data(), at - 1, head, error));
}

// The lenient decoders' own rules, on any text without NUL.
void CheckLenientRules(const std::string& text)
{
    XBlob whole, cut, filtered;
    Base64Decode(text.c_str(), whole);
    const std::string beforePad = text.substr(0, text.find('='));
    Base64Decode(beforePad.c_str(), cut);
    FUZZ_CHECK(whole == cut);
    std::string alphabetOnly;
    for (char c : beforePad)
        if (IsBase64Digit(wchar_t(static_cast<unsigned char>(c))))
            alphabetOnly += c;
    Base64Decode(alphabetOnly.c_str(), filtered);
    FUZZ_CHECK(whole == filtered);
    const size_t digits = alphabetOnly.size();
    FUZZ_CHECK(whole.Length() == digits / 4 * 3 + (digits % 4 >= 2 ? digits % 4 - 1 : 0));

    XBlob hex, padded;
    HexDecode(text.c_str(), hex);
    FUZZ_CHECK(hex.Length() <= (text.size() + 1) / 2);
    if (text.size() % 2) {
        HexDecode(("0" + text).c_str(), padded);
        FUZZ_CHECK(hex == padded);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1 || size > (1u << 20))
        return 0;
    const bool wide = data[0] & 1;
    std::wstring text;
    if (wide) {
        for (size_t i = 1; i + 1 < size; i += 2)
            text += wchar_t(data[i] | data[i + 1] << 8);
    } else {
        for (size_t i = 1; i < size; ++i)
            text += wchar_t(data[i]);
    }

    CheckHexText(text);
    CheckBase64Text(text);
    CheckBase64UrlText(text);
    CheckEncodings(Blob(data, size));
    CheckUtf8(Blob(data + 1, size - 1));
    CheckUtf16(text);

    if (!wide) {
        std::string narrow(reinterpret_cast<const char*>(data) + 1, size - 1);
        narrow = narrow.substr(0, narrow.find('\0'));
        CheckLenientRules(narrow);
    }
    return 0;
}
