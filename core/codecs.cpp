#include "core/codecs.h"

#include <cstring>

const char kBase64Alphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
const char kBase64UrlAlphabet[65] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
const char kHexDigits[17] = "0123456789abcdef";

namespace {

// The value of c among the 62 digits both base64 alphabets share, or -1.
int SharedBase64Value(uint32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return int(c - 'A');
    if (c >= 'a' && c <= 'z')
        return int(c - 'a') + 26;
    if (c >= '0' && c <= '9')
        return int(c - '0') + 52;
    return -1;
}

} // namespace

int Base64Value(uint32_t c)
{
    if (c == '+')
        return 62;
    if (c == '/')
        return 63;
    return SharedBase64Value(c);
}

int Base64UrlValue(uint32_t c)
{
    if (c == '-')
        return 62;
    if (c == '_')
        return 63;
    return SharedBase64Value(c);
}

int HexValue(uint32_t c)
{
    if (c >= '0' && c <= '9')
        return int(c - '0');
    if (c >= 'a' && c <= 'f')
        return int(c - 'a') + 10;
    if (c >= 'A' && c <= 'F')
        return int(c - 'A') + 10;
    return -1;
}

namespace {

constexpr int kGroupsPerLine = 19;

} // namespace

std::string Base64Encode(const XBlob& data)
{
    const uint32_t n = data.Length();
    const size_t groups = (size_t(n) + 2) / 3;
    std::string text;
    text.reserve(groups * 4 + (groups / kGroupsPerLine) * 2);
    int onLine = 0;
    for (uint32_t i = 0; i < n; i += 3) {
        if (onLine == kGroupsPerLine) {
            text += "\r\n";
            onLine = 0;
        }
        const uint32_t left = n - i;
        const uint32_t group = uint32_t(data.At(i)) << 16 | (left > 1 ? uint32_t(data.At(i + 1)) << 8 : 0) |
                               (left > 2 ? data.At(i + 2) : 0);
        text += kBase64Alphabet[group >> 18];
        text += kBase64Alphabet[(group >> 12) & 63];
        text += left > 1 ? kBase64Alphabet[(group >> 6) & 63] : '=';
        text += left > 2 ? kBase64Alphabet[group & 63] : '=';
        ++onLine;
    }
    return text;
}

void Base64Decode(const char* text, XBlob& out)
{
    out.Clear();
    uint32_t group = 0;
    int count = 0;
    for (const char* p = text; *p && *p != '='; ++p) {
        const int value = Base64Value(static_cast<unsigned char>(*p));
        if (value < 0)
            continue;
        group = group << 6 | uint32_t(value);
        if (++count == 4) {
            const uint8_t bytes[3] = {uint8_t(group >> 16), uint8_t(group >> 8), uint8_t(group)};
            out.AppendBytes(bytes, 3);
            group = 0;
            count = 0;
        }
    }
    if (count == 2) {
        out.AppendByte(uint8_t(group >> 4));
    } else if (count == 3) {
        out.AppendByte(uint8_t(group >> 10));
        out.AppendByte(uint8_t(group >> 2));
    }
}

void HexDecode(const char* text, XBlob& out)
{
    out.Clear();
    const size_t length = std::strlen(text);
    // An odd length reads as if a "0" stood in front: the first pair is "0" + text[0].
    size_t i = 0;
    if (length % 2) {
        const int low = HexValue(text[0]);
        if (low >= 0)
            out.AppendByte(uint8_t(low));
        i = 1;
    }
    for (; i + 1 < length; i += 2) {
        const int high = HexValue(text[i]);
        const int low = HexValue(text[i + 1]);
        if (high >= 0 && low >= 0)
            out.AppendByte(uint8_t(high << 4 | low));
    }
}
