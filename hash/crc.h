// CRC-32 (ISO 3309 / IEEE 802.3, the zip and PNG checksum) and CRC-24 (the
// OpenPGP ASCII armor checksum of RFC 2440 section 6.1), each an accumulator
// over any number of byte runs.  Use a fresh object per checksum.
#pragma once

#include "core/xblob.h"

#include <cstddef>
#include <cstdint>

// Reflected CRC-32, polynomial 0xEDB88320: register starts at 0xFFFFFFFF,
// the checksum is its complement.  "123456789" gives 0xCBF43926.
class XCrc32 {
public:
    XCrc32() : register_(0xFFFFFFFFu) {}

    void UpdateByte(uint8_t b);
    void Update(const uint8_t* data, size_t length);
    // Feeds the bytes of `data` and returns the checksum of everything fed so
    // far; the register runs on, so a second call covers the concatenation.
    uint32_t Compute(const XBlob& data);
    uint32_t Value() const { return ~register_; }

private:
    uint32_t register_;
};

// CRC-24, polynomial 0x1864CFB, most significant bit first: register starts
// at 0xB704CE, no final XOR, result in the low 24 bits.  "123456789" gives
// 0x21CF02.
class XCrc24 {
public:
    XCrc24() : register_(0xB704CEu) {}

    void UpdateByte(uint8_t b);
    void Update(const uint8_t* data, size_t length);
    // As XCrc32::Compute; the result always has its top 8 bits clear.
    uint32_t Compute(const XBlob& data);
    uint32_t Value() const { return register_ & 0xFFFFFFu; }

private:
    uint32_t register_; // the 24-bit register (bits 24..31 always clear)
};
