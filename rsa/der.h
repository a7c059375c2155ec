// DER: the distinguished encoding of ASN.1 that key files use.  The reader
// takes only what DER allows for the types a key file holds, so that one key
// has one encoding: single-byte tags, definite lengths in their shortest
// form, integers in their shortest form, nothing after the last element.
// Anything else is "Data is corrupted" / "RSA".  Lengths are checked against
// the bytes that are there before anything is read, so a huge length is an
// error and never an allocation.
#pragma once

#include "core/xblob.h"

#include <cstdint>
#include <initializer_list>

namespace XDer {
constexpr uint8_t kInteger = 0x02;
constexpr uint8_t kBitString = 0x03;
constexpr uint8_t kOctetString = 0x04;
constexpr uint8_t kNull = 0x05;
constexpr uint8_t kObjectId = 0x06;
constexpr uint8_t kSequence = 0x30;
} // namespace XDer

// Reads the elements of one level in order.  A reader never owns the bytes:
// the blob it was made from must outlive it.
class XDerReader {
public:
    // The elements of the whole buffer.
    XDerReader(const uint8_t* data, uint32_t length);
    explicit XDerReader(const XBlob& blob) : XDerReader(blob.Data(), blob.Length()) {}

    bool AtEnd() const { return pos_ == end_; }
    // The tag of the next element (no element: corrupted).
    uint8_t PeekTag() const;

    // The next element, which must carry `tag`: its content as a reader.
    XDerReader Enter(uint8_t tag);
    // The content bytes of the next element, which must carry `tag`.
    XBlob Read(uint8_t tag);
    // A non-negative INTEGER as unsigned big-endian bytes without the sign
    // byte (zero is one byte 00).  A negative one is corrupted.
    XBlob ReadUnsigned();
    // A small non-negative INTEGER (a version number): at most 0xffff.
    uint32_t ReadSmall();
    // A BIT STRING with no unused bits: the bytes after the count.
    XBlob ReadBitString();
    void ReadNull();
    // Raises "Data is corrupted" unless every element has been read.
    void ExpectEnd() const;

private:
    XDerReader(const uint8_t* data, uint32_t pos, uint32_t end) : data_(data), pos_(pos), end_(end) {}
    // Reads the next header: returns the tag and puts the content's place
    // in `start` and `length`.
    uint8_t Header(uint32_t& start, uint32_t& length);

    const uint8_t* data_;
    uint32_t pos_;
    uint32_t end_;
};

// Writing: each function returns one whole element.
XBlob DerElement(uint8_t tag, const XBlob& content);
// An INTEGER from unsigned big-endian bytes (leading zeros dropped, a sign
// byte added where the top bit is set).
XBlob DerUnsigned(const XBlob& bytes);
XBlob DerSmall(uint32_t value);
// A BIT STRING holding whole bytes.
XBlob DerBitString(const XBlob& bytes);
// A SEQUENCE of the given elements, in order.
XBlob DerSequence(std::initializer_list<const XBlob*> elements);

// Raises "Data is corrupted" / "RSA".
[[noreturn]] void DerCorrupted();
