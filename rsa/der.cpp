#include "rsa/der.h"

#include "core/alarm.h"

#include <initializer_list>

void DerCorrupted()
{
    throw XCryptoAlarm(XMessage::kDataCorrupted, "RSA");
}

XDerReader::XDerReader(const uint8_t* data, uint32_t length) : data_(data), pos_(0), end_(length) {}

uint8_t XDerReader::PeekTag() const
{
    if (pos_ >= end_)
        DerCorrupted();
    return data_[pos_];
}

uint8_t XDerReader::Header(uint32_t& start, uint32_t& length)
{
    uint32_t p = pos_;
    if (end_ - p < 2)
        DerCorrupted();
    const uint8_t tag = data_[p++];
    // Tags of more than one byte (low bits 11111) are nothing a key holds.
    if ((tag & 0x1f) == 0x1f)
        DerCorrupted();
    uint32_t n = data_[p++];
    if (n & 0x80) {
        // Long form: 1 to 4 length bytes, no leading zero byte, and only for
        // lengths the short form cannot say.  0x80 alone (indefinite) is BER.
        const uint32_t count = n & 0x7f;
        if (count == 0 || count > 4 || end_ - p < count || data_[p] == 0)
            DerCorrupted();
        n = 0;
        for (uint32_t i = 0; i < count; ++i)
            n = (n << 8) | data_[p++];
        if (n < 0x80)
            DerCorrupted();
    }
    if (n > end_ - p)
        DerCorrupted();
    start = p;
    length = n;
    pos_ = p + n;
    return tag;
}

XDerReader XDerReader::Enter(uint8_t tag)
{
    uint32_t start = 0, length = 0;
    if (Header(start, length) != tag)
        DerCorrupted();
    return XDerReader(data_, start, start + length);
}

XBlob XDerReader::Read(uint8_t tag)
{
    uint32_t start = 0, length = 0;
    if (Header(start, length) != tag)
        DerCorrupted();
    XBlob out(length);
    out.AppendBytes(data_ + start, length);
    return out;
}

XBlob XDerReader::ReadUnsigned()
{
    uint32_t start = 0, length = 0;
    if (Header(start, length) != XDer::kInteger || length == 0)
        DerCorrupted();
    const uint8_t* p = data_ + start;
    // Negative, or a leading 00 that the next byte's top bit does not need.
    if (p[0] & 0x80)
        DerCorrupted();
    if (length > 1 && p[0] == 0 && !(p[1] & 0x80))
        DerCorrupted();
    if (length > 1 && p[0] == 0) {
        ++p;
        --length;
    }
    XBlob out(length);
    out.AppendBytes(p, length);
    return out;
}

uint32_t XDerReader::ReadSmall()
{
    const XBlob bytes = ReadUnsigned();
    if (bytes.Length() > 2)
        DerCorrupted();
    uint32_t v = 0;
    for (uint32_t i = 0; i < bytes.Length(); ++i)
        v = (v << 8) | bytes.At(i);
    return v;
}

XBlob XDerReader::ReadBitString()
{
    uint32_t start = 0, length = 0;
    if (Header(start, length) != XDer::kBitString || length == 0 || data_[start] != 0)
        DerCorrupted();
    XBlob out(length - 1);
    out.AppendBytes(data_ + start + 1, length - 1);
    return out;
}

void XDerReader::ReadNull()
{
    uint32_t start = 0, length = 0;
    if (Header(start, length) != XDer::kNull || length != 0)
        DerCorrupted();
}

void XDerReader::ExpectEnd() const
{
    if (!AtEnd())
        DerCorrupted();
}

XBlob DerElement(uint8_t tag, const XBlob& content)
{
    const uint32_t n = content.Length();
    XBlob out(n + 6);
    out.AppendByte(tag);
    if (n < 0x80) {
        out.AppendByte(uint8_t(n));
    } else {
        uint32_t count = n > 0xffffff ? 4 : n > 0xffff ? 3 : n > 0xff ? 2 : 1;
        out.AppendByte(uint8_t(0x80 | count));
        while (count-- > 0)
            out.AppendByte(uint8_t(n >> (8 * count)));
    }
    out.Append(content);
    return out;
}

XBlob DerUnsigned(const XBlob& bytes)
{
    uint32_t skip = 0;
    while (skip < bytes.Length() && bytes.At(skip) == 0)
        ++skip;
    XBlob content(bytes.Length() - skip + 1);
    if (skip == bytes.Length() || (bytes.At(skip) & 0x80))
        content.AppendByte(0);
    content.AppendBytes(bytes.Data() + skip, bytes.Length() - skip);
    return DerElement(XDer::kInteger, content);
}

XBlob DerSmall(uint32_t value)
{
    XBlob bytes;
    bytes.AppendLong(value);
    return DerUnsigned(bytes);
}

XBlob DerBitString(const XBlob& bytes)
{
    XBlob content(bytes.Length() + 1);
    content.AppendByte(0);
    content.Append(bytes);
    return DerElement(XDer::kBitString, content);
}

XBlob DerSequence(std::initializer_list<const XBlob*> elements)
{
    XBlob content;
    for (const XBlob* e : elements)
        content.Append(*e);
    return DerElement(XDer::kSequence, content);
}
