#include "zelblob/text_codecs.h"

#include "core/codecs.h"
#include "core/wipe.h"

namespace zelblob {

namespace {

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n';
}

std::string At(const std::string& what, size_t position)
{
    return what + " at position " + std::to_string(position + 1);
}

// One base64 text form: its alphabet and the rules of text_codecs.h that
// differ between the two forms.  `name` and `alphabetName` make the error
// texts ("Base64 text has a character outside the base64 alphabet ...").
struct Base64Form {
    const char* name;
    const char* alphabetName;
    const char* alphabet;
    int (*value)(uint32_t c);
    bool skipsBlanks;
    bool writesPadding;
};

const Base64Form kBase64 = {"Base64", "base64", kBase64Alphabet, Base64Value, true, true};
const Base64Form kBase64Url = {"Base64Url", "base64url", kBase64UrlAlphabet, Base64UrlValue, false, false};

std::wstring EncodeBase64(const XBlob& bytes, const Base64Form& form)
{
    std::wstring text;
    text.reserve((size_t(bytes.Length()) + 2) / 3 * 4);
    const uint32_t n = bytes.Length();
    const char* alphabet = form.alphabet;
    for (uint32_t i = 0; i < n; i += 3) {
        const uint32_t left = n - i;
        const uint32_t group = uint32_t(bytes.At(i)) << 16 | (left > 1 ? uint32_t(bytes.At(i + 1)) << 8 : 0) |
                               (left > 2 ? bytes.At(i + 2) : 0);
        text += wchar_t(alphabet[group >> 18]);
        text += wchar_t(alphabet[(group >> 12) & 63]);
        if (left > 1)
            text += wchar_t(alphabet[(group >> 6) & 63]);
        else if (form.writesPadding)
            text += L'=';
        if (left > 2)
            text += wchar_t(alphabet[group & 63]);
        else if (form.writesPadding)
            text += L'=';
    }
    return text;
}

bool DecodeBase64Form(const wchar_t* text, size_t length, XBlob& out, std::string& error, const Base64Form& form)
{
    const std::string name = std::string(form.name) + " text ";
    XBlob bytes;
    uint32_t group = 0;
    int count = 0;   // base64 digits in the current group of four
    int padding = 0; // '=' seen so far
    for (size_t i = 0; i < length; ++i) {
        const wchar_t c = text[i];
        if (form.skipsBlanks && IsBlank(c))
            continue;
        if (c == L'=') {
            // Padding completes a group of two or three digits, and nothing follows it.
            if (count < 2 || count + padding >= 4) {
                error = At(name + "has a misplaced '='", i);
                return false;
            }
            ++padding;
            continue;
        }
        const int value = form.value(uint32_t(c));
        if (value < 0) {
            error = At(name + "has a character outside the " + form.alphabetName + " alphabet", i);
            return false;
        }
        if (padding) {
            error = At(name + "goes on after its '=' padding", i);
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
        error = name + "ends with a single digit in its last group";
        return false;
    }
    if (padding && count + padding != 4) {
        error = name + "has incomplete '=' padding";
        return false;
    }
    // The bits of the last digit beyond the last byte are dropped unchecked.
    if (count == 2) {
        bytes.AppendByte(uint8_t(group >> 4));
    } else if (count == 3) {
        bytes.AppendByte(uint8_t(group >> 10));
        bytes.AppendByte(uint8_t(group >> 2));
    }
    out.Assign(bytes);
    return true;
}

bool IsContinuation(uint8_t b)
{
    return (b & 0xC0) == 0x80;
}

void AppendUtf16(std::wstring& text, uint32_t codePoint)
{
    if (codePoint < 0x10000) {
        text += wchar_t(codePoint);
    } else {
        codePoint -= 0x10000;
        text += wchar_t(0xD800 + (codePoint >> 10));
        text += wchar_t(0xDC00 + (codePoint & 0x3FF));
    }
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
    return EncodeBase64(bytes, kBase64);
}

std::wstring Base64UrlText(const XBlob& bytes)
{
    return EncodeBase64(bytes, kBase64Url);
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
    return DecodeBase64Form(text, length, out, error, kBase64);
}

bool DecodeBase64Url(const wchar_t* text, size_t length, XBlob& out, std::string& error)
{
    return DecodeBase64Form(text, length, out, error, kBase64Url);
}

bool Utf8Text(const XBlob& bytes, std::wstring& text, std::string& error)
{
    const uint32_t n = bytes.Length();
    text.clear();
    // No sequence gives more UTF-16 units than it has bytes: with this much
    // room the text never moves, and no copy of it is left in freed memory.
    text.reserve(n);
    uint32_t i = 0;
    while (i < n) {
        const uint8_t lead = bytes.At(i);
        if (lead < 0x80) {
            text += wchar_t(lead);
            ++i;
            continue;
        }
        // The well-formed sequences (RFC 3629, section 4): how many bytes
        // follow the lead byte, and the range of the first of them, which
        // rules out overlong forms (E0, F0), surrogates (ED) and code
        // points above U+10FFFF (F4).  C0, C1 and F5 to FF never lead.
        int following = 0;
        uint8_t low = 0x80, high = 0xBF;
        if (lead >= 0xC2 && lead <= 0xDF) {
            following = 1;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            following = 2;
            if (lead == 0xE0)
                low = 0xA0;
            else if (lead == 0xED)
                high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            following = 3;
            if (lead == 0xF0)
                low = 0x90;
            else if (lead == 0xF4)
                high = 0x8F;
        }
        bool wellFormed = following > 0 && n - i > uint32_t(following);
        if (wellFormed) {
            const uint8_t second = bytes.At(i + 1);
            wellFormed = second >= low && second <= high;
            for (int k = 2; wellFormed && k <= following; ++k)
                wellFormed = IsContinuation(bytes.At(i + uint32_t(k)));
        }
        if (!wellFormed) {
            SecureWipe(&text[0], text.size() * sizeof(wchar_t));
            text.clear();
            error = "Invalid UTF-8 at byte " + std::to_string(i);
            return false;
        }
        uint32_t codePoint = lead & (0x3F >> following);
        for (int k = 1; k <= following; ++k)
            codePoint = codePoint << 6 | (bytes.At(i + uint32_t(k)) & 0x3F);
        AppendUtf16(text, codePoint);
        i += uint32_t(following) + 1;
    }
    return true;
}

bool Utf8Bytes(const wchar_t* text, size_t length, XBlob& out, std::string& error)
{
    XBlob bytes;
    for (size_t i = 0; i < length; ++i) {
        uint32_t unit = uint32_t(text[i]);
        if (unit < 0x80) {
            bytes.AppendByte(uint8_t(unit));
            continue;
        }
        if (unit < 0x800) {
            bytes.AppendByte(uint8_t(0xC0 | unit >> 6));
            bytes.AppendByte(uint8_t(0x80 | (unit & 0x3F)));
            continue;
        }
        const bool isHigh = unit >= 0xD800 && unit <= 0xDBFF;
        if (isHigh && i + 1 < length && uint32_t(text[i + 1]) >= 0xDC00 && uint32_t(text[i + 1]) <= 0xDFFF) {
            const uint32_t codePoint = 0x10000 + ((unit - 0xD800) << 10) + (uint32_t(text[i + 1]) - 0xDC00);
            bytes.AppendByte(uint8_t(0xF0 | codePoint >> 18));
            bytes.AppendByte(uint8_t(0x80 | ((codePoint >> 12) & 0x3F)));
            bytes.AppendByte(uint8_t(0x80 | ((codePoint >> 6) & 0x3F)));
            bytes.AppendByte(uint8_t(0x80 | (codePoint & 0x3F)));
            ++i;
            continue;
        }
        // An unpaired surrogate, or (where wchar_t is wider than 16 bits) a
        // value that is no UTF-16 unit at all.
        if (isHigh || (unit >= 0xDC00 && unit <= 0xDFFF) || unit > 0xFFFF) {
            error = "Invalid UTF-16 at character " + std::to_string(i + 1);
            return false;
        }
        bytes.AppendByte(uint8_t(0xE0 | unit >> 12));
        bytes.AppendByte(uint8_t(0x80 | ((unit >> 6) & 0x3F)));
        bytes.AppendByte(uint8_t(0x80 | (unit & 0x3F)));
    }
    out.Assign(bytes);
    return true;
}

} // namespace zelblob
