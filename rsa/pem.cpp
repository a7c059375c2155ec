#include "rsa/pem.h"

#include "core/codecs.h"
#include "rsa/der.h"

namespace {

const char kDashes[] = "-----";
const char kBegin[] = "-----BEGIN ";
const char kEnd[] = "-----END ";

// The label of a "-----BEGIN label-----" (or END) line starting at `pos`,
// and the position after its closing dashes; false when the line is not one.
bool ReadBoundary(const std::string& text, size_t pos, const char* opener, std::string& label, size_t& after)
{
    const std::string open(opener);
    if (text.compare(pos, open.size(), open) != 0)
        return false;
    const size_t start = pos + open.size();
    const size_t close = text.find(kDashes, start);
    const size_t eol = text.find_first_of("\r\n", start);
    if (close == std::string::npos || (eol != std::string::npos && eol < close))
        return false;
    label = text.substr(start, close - start);
    after = close + 5;
    return true;
}

} // namespace

void PemDecode(const std::string& text, std::string& label, XBlob& der)
{
    // The BEGIN line must start a line.
    size_t pos = 0, after = 0;
    for (;;) {
        pos = text.find(kBegin, pos);
        if (pos == std::string::npos)
            DerCorrupted();
        if ((pos == 0 || text[pos - 1] == '\n' || text[pos - 1] == '\r') &&
            ReadBoundary(text, pos, kBegin, label, after))
            break;
        ++pos;
    }
    const size_t bodyStart = after;
    const size_t endPos = text.find(kEnd, bodyStart);
    std::string endLabel;
    size_t endAfter = 0;
    if (endPos == std::string::npos || !ReadBoundary(text, endPos, kEnd, endLabel, endAfter) || endLabel != label)
        DerCorrupted();

    // The body: base64 digits, then at most two '=' at the very end.
    der.Clear();
    uint32_t bits = 0, count = 0, padding = 0;
    for (size_t i = bodyStart; i < endPos; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == ' ' || c == '\t' || c == '\r' || c == '\n')
            continue;
        if (c == '=') {
            ++padding;
            continue;
        }
        const int v = Base64Value(c);
        if (v < 0 || padding)
            DerCorrupted();
        bits = (bits << 6) | uint32_t(v);
        if (++count % 4 == 0) {
            der.AppendByte(uint8_t(bits >> 16));
            der.AppendByte(uint8_t(bits >> 8));
            der.AppendByte(uint8_t(bits));
            bits = 0;
        }
    }
    switch (count % 4) {
    case 0:
        if (padding)
            DerCorrupted();
        break;
    case 2:
        if (padding != 0 && padding != 2)
            DerCorrupted();
        der.AppendByte(uint8_t(bits >> 4));
        break;
    case 3:
        if (padding > 1)
            DerCorrupted();
        der.AppendByte(uint8_t(bits >> 10));
        der.AppendByte(uint8_t(bits >> 2));
        break;
    default:
        DerCorrupted();
    }
    if (der.Length() == 0)
        DerCorrupted();
}

std::string PemEncode(const char* label, const XBlob& der)
{
    std::string out = std::string(kBegin) + label + kDashes + "\n";
    for (uint32_t i = 0; i < der.Length(); i += 48) {
        XBlob line;
        der.CopyRange(line, i, der.Length() - i < 48 ? der.Length() - i : 48);
        out += Base64Encode(line);
        out += "\n";
    }
    out += std::string(kEnd) + label + kDashes + "\n";
    return out;
}
