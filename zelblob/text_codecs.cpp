#include "zelblob/text_codecs.h"

#include "core/codecs.h"

namespace zelblob {

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::string At(const char* what, size_t position)
{
    return std::string(what) + " at position " + std::to_string(position + 1);
}

} // namespace

std::wstring HexText(const XBlob& bytes)
{
    std::wstring text;
    text.reserve(size_t(bytes.Length()) * 2);
    for (uint32_t i = 0; i < bytes.Length(); ++i) {
        text += wchar_t(kHexDigits[bytes.At(i) >> 4]);
        text += wchar_t(kHexDigits[bytes.At(i) & 15]);
    }
    return text;
}

std::wstring Base64Text(const XBlob& bytes)
{
    std::wstring text;
    text.reserve((size_t(bytes.Length()) + 2) / 3 * 4);
    const uint32_t n = bytes.Length();
    for (uint32_t i = 0; i < n; i += 3) {
        const uint32_t left = n - i;
        const uint32_t group = uint32_t(bytes.At(i)) << 16 | (left > 1 ? uint32_t(bytes.At(i + 1)) << 8 : 0) |
                               (left > 2 ? bytes.At(i + 2) : 0);
        text += wchar_t(kBase64Alphabet[group >> 18]);
        text += wchar_t(kBase64Alphabet[(group >> 12) & 63]);
        text += left > 1 ? wchar_t(kBase64Alphabet[(group >> 6) & 63]) : L'=';
        text += left > 2 ? wchar_t(kBase64Alphabet[group & 63]) : L'=';
    }
    return text;
}

bool DecodeHex(const wchar_t* text, size_t length, XBlob& out, std::string& error)
{
    XBlob bytes;
    int high = -1;
    for (size_t i = 0; i < length; ++i) {
        if (IsBlank(text[i]))
            continue;
        const int value = HexValue(text[i]);
        if (value < 0) {
            error = At("Hex text has a character that is not a hex digit", i);
            return false;
        }
        if (high < 0) {
            high = value;
        } else {
            bytes.AppendByte(uint8_t(high << 4 | value));
            high = -1;
        }
    }
    if (high >= 0) {
        error = "Hex text has an odd number of digits";
        return false;
    }
    out.Assign(bytes);
    return true;
}

bool DecodeBase64(const wchar_t* text, size_t length, XBlob& out, std::string& error)
{
    XBlob bytes;
    uint32_t group = 0;
    int count = 0;   // base64 digits in the current group of four
    int padding = 0; // '=' seen so far
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (IsBlank(c))
            continue;
        if (c == L'=') {
            // Padding completes a group of two or three digits, and nothing follows it.
            if (count < 2 || count + padding >= 4) {
                error = At("Base64 text has a misplaced '='", i);
                return false;
            }
            ++padding;
            continue;
        }
        const int value = Base64Value(c);
        if (value < 0) {
            error = At("Base64 text has a character outside the base64 alphabet", i);
            return false;
        }
        if (padding) {
            error = At("Base64 text goes on after its '=' padding", i);
            return false;
        }
        group = group << 6 | uint32_t(value);
        if (++count == 4) {
            bytes.AppendByte(uint8_t(group >> 16));
            bytes.AppendByte(uint8_t(group >> 8));
            bytes.AppendByte(uint8_t(group));
            group = 0;
            count = 0;
        }
    }
    if (count == 1) {
        error = "Base64 text ends with a single digit in its last group";
        return false;
    }
    if (padding && count + padding != 4) {
        error = "Base64 text has incomplete '=' padding";
        return false;
    }
    if (count == 2) {
        bytes.AppendByte(uint8_t(group >> 4));
    } else if (count == 3) {
        bytes.AppendByte(uint8_t(group >> 10));
        bytes.AppendByte(uint8_t(group >> 2));
    }
    out.Assign(bytes);
    return true;
}

} // namespace zelblob
