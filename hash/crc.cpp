#include "hash/crc.h"

#include "core/bytes.h"

// Both CRCs run sixteen bytes per step ("slicing by 16"): sixteen lookup
// tables, where table k maps a byte to its contribution to the register
// after k further zero bytes, so that the contributions of sixteen input
// bytes are combined by XORs that do not depend on one another.  Only the
// first four lookups depend on the previous register value, which keeps the
// loop-carried chain short (with eight bytes per step that chain, not the
// table loads, sets the speed).  The tables are computed at compile time:
// read-only data, shared by all threads with nothing to initialise.

namespace {

constexpr int kSlices = 16;

struct SliceTables {
    uint32_t t[kSlices][256];
};

// Reflected CRC-32, polynomial 0xEDB88320, bits in least significant first.
constexpr SliceTables MakeCrc32Tables()
{
    SliceTables s{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 1) ? (c >> 1) ^ 0xEDB88320u : c >> 1;
        s.t[0][i] = c;
    }
    for (int k = 1; k < kSlices; ++k)
        for (int i = 0; i < 256; ++i)
            s.t[k][i] = (s.t[k - 1][i] >> 8) ^ s.t[0][s.t[k - 1][i] & 0xFF];
    return s;
}

// CRC-24, polynomial 0x1864CFB, bits in most significant first.  The 24-bit
// register is kept in the top three bytes of a 32-bit word (the polynomial
// becomes 0x864CFB00), so that the next input byte lines up with the top
// byte, exactly as in a 32-bit CRC.
constexpr SliceTables MakeCrc24Tables()
{
    SliceTables s{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t c = i << 24;
        for (int bit = 0; bit < 8; ++bit)
            c = (c & 0x80000000u) ? (c << 1) ^ 0x864CFB00u : c << 1;
        s.t[0][i] = c;
    }
    for (int k = 1; k < kSlices; ++k)
        for (int i = 0; i < 256; ++i)
            s.t[k][i] = (s.t[k - 1][i] << 8) ^ s.t[0][s.t[k - 1][i] >> 24];
    return s;
}

constexpr SliceTables kCrc32 = MakeCrc32Tables();
constexpr SliceTables kCrc24 = MakeCrc24Tables();

// The familiar entries of the byte-wise tables.
static_assert(kCrc32.t[0][1] == 0x77073096u && kCrc32.t[0][255] == 0x2D02EF8Du, "CRC-32 table");
static_assert(kCrc24.t[0][1] == 0x864CFB00u, "CRC-24 table");

using Table = uint32_t[256];

// The contribution of four consecutive input bytes, loaded as the word w,
// that k more bytes of the sixteen follow: the last of the four goes through
// table k, the one before through table k + 1, and so on.  Least
// significant bit first: the first of the four bytes is the low byte of w.
inline uint32_t Slice4Lsb(const Table* t, int k, uint32_t w)
{
    return (t[k + 3][w & 0xFF] ^ t[k + 2][(w >> 8) & 0xFF]) ^ (t[k + 1][(w >> 16) & 0xFF] ^ t[k][w >> 24]);
}

// The same, most significant bit first: the first byte is the high byte of w.
inline uint32_t Slice4Msb(const Table* t, int k, uint32_t w)
{
    return (t[k + 3][w >> 24] ^ t[k + 2][(w >> 16) & 0xFF]) ^ (t[k + 1][(w >> 8) & 0xFF] ^ t[k][w & 0xFF]);
}

} // namespace

void XCrc32::UpdateByte(uint8_t b)
{
    register_ = (register_ >> 8) ^ kCrc32.t[0][(register_ ^ b) & 0xFF];
}

void XCrc32::Update(const uint8_t* p, size_t n)
{
    const auto& t = kCrc32.t;
    uint32_t c = register_;
    for (; n >= 16; n -= 16, p += 16) {
        // The last twelve bytes do not depend on the register; their part is
        // combined first, so that it overlaps the previous step.
        const uint32_t rest = Slice4Lsb(t, 8, LoadLe32(p + 4)) ^ Slice4Lsb(t, 4, LoadLe32(p + 8)) ^
                              Slice4Lsb(t, 0, LoadLe32(p + 12));
        c = rest ^ Slice4Lsb(t, 12, LoadLe32(p) ^ c);
    }
    for (; n > 0; --n, ++p)
        c = (c >> 8) ^ t[0][(c ^ *p) & 0xFF];
    register_ = c;
}

uint32_t XCrc32::Compute(const XBlob& data)
{
    Update(data.Data(), data.Length());
    return Value();
}

void XCrc24::UpdateByte(uint8_t b)
{
    const uint32_t c = register_ << 8;
    register_ = ((c << 8) ^ kCrc24.t[0][(c >> 24) ^ b]) >> 8;
}

void XCrc24::Update(const uint8_t* p, size_t n)
{
    const auto& t = kCrc24.t;
    uint32_t c = register_ << 8;
    for (; n >= 16; n -= 16, p += 16) {
        const uint32_t rest = Slice4Msb(t, 8, LoadBe32(p + 4)) ^ Slice4Msb(t, 4, LoadBe32(p + 8)) ^
                              Slice4Msb(t, 0, LoadBe32(p + 12));
        c = rest ^ Slice4Msb(t, 12, LoadBe32(p) ^ c);
    }
    for (; n > 0; --n, ++p)
        c = (c << 8) ^ t[0][(c >> 24) ^ *p];
    register_ = c >> 8;
}

uint32_t XCrc24::Compute(const XBlob& data)
{
    Update(data.Data(), data.Length());
    return Value();
}
