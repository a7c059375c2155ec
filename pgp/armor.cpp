#include "pgp/armor.h"

#include "core/alarm.h"
#include "core/codecs.h"
#include "hash/crc.h"

#include <cstring>

const char kArmorBeginLine[] = "-----BEGIN PGP MESSAGE-----";
const char kArmorEndLine[] = "-----END PGP MESSAGE-----";
const char kArmorVersion[] = "Version: ZELCrypto v2.0";

namespace {

const char kSource[] = "PGP";
const char kLineEnd[] = "\r\n";
// The dashes that open every armor boundary line.
const size_t kBoundaryLength = 5;

// The CRC-24 of the message as its 3 bytes, most significant first.
XBlob Crc24Bytes(const XBlob& message)
{
    const uint32_t crc = XCrc24().Compute(message);
    XBlob bytes(3);
    bytes.AppendByte(uint8_t(crc >> 16));
    bytes.AppendByte(uint8_t(crc >> 8));
    bytes.AppendByte(uint8_t(crc));
    return bytes;
}

// Reads the next line as ReadLine does, without the blanks and tabs at its
// end: mail programs and editors add and strip them freely, and no armor
// line means anything by them.
uint32_t ReadArmorLine(const char* text, uint32_t length, uint32_t pos, std::string& line)
{
    pos = ReadLine(text, length, pos, line);
    const size_t kept = line.find_last_not_of(" \t");
    line.resize(kept == std::string::npos ? 0 : kept + 1);
    return pos;
}

} // namespace

std::string Enarmor(const XBlob& message)
{
    const std::string body = Base64Encode(message);
    std::string text;
    text.reserve(body.size() + 128);
    text += kArmorBeginLine;
    text += kLineEnd;
    text += kArmorVersion;
    text += kLineEnd;
    text += kLineEnd;
    text += body;
    text += kLineEnd;
    text += '=';
    text += Base64Encode(Crc24Bytes(message));
    text += kLineEnd;
    text += kArmorEndLine;
    text += kLineEnd;
    return text;
}

uint32_t ReadLine(const char* text, uint32_t length, uint32_t pos, std::string& line)
{
    line.clear();
    uint32_t end = pos;
    while (end < length && text[end] != '\r' && text[end] != '\n')
        ++end;
    line.assign(text + pos, end - pos);
    if (end < length && text[end] == '\r')
        ++end;
    if (end < length && text[end] == '\n')
        ++end;
    return end;
}

uint32_t ReadLine(const XBlob& text, uint32_t pos, std::string& line)
{
    return ReadLine(reinterpret_cast<const char*>(text.Data()), text.Length(), pos, line);
}

XBlob Dearmor(const XBlob& armored)
{
    const char* text = reinterpret_cast<const char*>(armored.Data());
    const void* nul = std::memchr(text, 0, armored.Length());
    const uint32_t length = nul ? uint32_t(static_cast<const char*>(nul) - text) : armored.Length();

    // Any text before the BEGIN line (a mail body, a note) is passed over;
    // the BEGIN line itself starts at the beginning of its line.
    std::string line;
    uint32_t pos = 0;
    bool begun = false;
    while (!begun && pos < length) {
        pos = ReadArmorLine(text, length, pos, line);
        begun = line == kArmorBeginLine;
    }
    if (!begun)
        throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);

    // Armor headers, up to and including the empty line that ends them.
    while (pos < length) {
        pos = ReadArmorLine(text, length, pos, line);
        if (line.empty())
            break;
    }

    // The body, up to an empty line, the checksum line, the END line (any
    // line that starts like an armor boundary: base64 has no '-') or the end.
    std::string base64;
    bool checksum = false;
    while (pos < length) {
        pos = ReadArmorLine(text, length, pos, line);
        if (line.empty() || line.compare(0, kBoundaryLength, kArmorEndLine, kBoundaryLength) == 0)
            break;
        if (line[0] == '=') {
            checksum = true;
            break;
        }
        base64 += line;
        base64 += kLineEnd;
    }

    XBlob message(0);
    Base64Decode(base64.c_str(), message);
    if (checksum) {
        XBlob expected(0);
        Base64Decode(line.c_str() + 1, expected);
        const XBlob actual = Crc24Bytes(message);
        if (expected.Length() < 3 || std::memcmp(expected.Data(), actual.Data(), 3) != 0)
            throw XCryptoAlarm(XMessage::kDataCrcError, kSource);
    }
    return message;
}
