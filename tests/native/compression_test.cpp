// Deflate and inflate of OpenPGP compressed data (pgp/compression.h) against
// zlib's own streams at every level and strategy, streams GnuPG writes (and
// GnuPG reading ours), malformed and truncated streams, and the output limit
// that stops decompression bombs.
#include "pgp/compression.h"

#include "core/alarm.h"

#include "pgp_test_support.h"
#include "test_support.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

namespace {

using namespace test_support;
using pgp_test::Gpg;
using pgp_test::ReadFile;
using pgp_test::WriteFile;

const char* Name(XCompression format)
{
    return format == XCompression::kZip ? "zip" : "zlib";
}

constexpr XCompression kFormats[] = {XCompression::kZip, XCompression::kZlib};

// --- what the tests compress ---------------------------------------------------------

// Words with spaces and line breaks: compresses like text does.
Bytes Text(size_t n, unsigned seed)
{
    static const char* const kWords[] = {"the ", "data ", "packet ", "of ", "a ", "message\n", "key ",
                                         "password ", "zero ", "compressed ", "literal ", "stream "};
    std::mt19937 random(seed);
    Bytes v;
    while (v.size() < n) {
        const std::string w = kWords[random() % 12];
        v.insert(v.end(), w.begin(), w.end());
    }
    v.resize(n);
    return v;
}

// Runs of one byte between stretches of random bytes: long matches, literals
// that do not compress, and distances up to the whole window.
Bytes Mixed(size_t n, unsigned seed)
{
    std::mt19937 random(seed);
    Bytes v;
    while (v.size() < n) {
        const size_t run = random() % 700;
        if (random() % 3 == 0) {
            v.insert(v.end(), run, uint8_t(random()));
        } else if (random() % 2 == 0 || v.size() < 40000) {
            for (size_t i = 0; i < run; ++i)
                v.push_back(uint8_t(random()));
        } else {
            // A copy from 32 KiB back: the longest distance deflate uses.
            const size_t from = v.size() - 32768 + random() % 100;
            for (size_t i = 0; i < run; ++i)
                v.push_back(v[from + i]);
        }
    }
    v.resize(n);
    return v;
}

struct Kind {
    const char* name;
    std::function<Bytes(size_t)> make;
};

const Kind kContents[] = {
    {"zeros", [](size_t n) { return Bytes(n, 0); }},
    {"text", [](size_t n) { return Text(n, 1); }},
    {"random", [](size_t n) {
         std::mt19937 random(2);
         return RandomBytes(random, n);
     }},
    {"mixed", [](size_t n) { return Mixed(n, 3); }},
};

// Sizes around zlib's window (32 KiB), its stored-block limit (65535) and the
// first guesses and doublings of the result.
const size_t kSizes[] = {0, 1, 2, 3, 100, 32767, 32768, 32769, 65535, 65536, 65537, 262145, 1048576 + 3};

// --- zlib, called directly -------------------------------------------------------------

int Bits(XCompression format)
{
    return format == XCompression::kZip ? -15 : 15;
}

Bytes ZlibDeflate(XCompression format, const Bytes& in, int level = 6, int strategy = Z_DEFAULT_STRATEGY,
                  int memLevel = 8, const Bytes& dictionary = {})
{
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, level, Z_DEFLATED, Bits(format), memLevel, strategy), Z_OK);
    if (!dictionary.empty()) {
        EXPECT_EQ(deflateSetDictionary(&s, dictionary.data(), uInt(dictionary.size())), Z_OK);
    }
    Bytes out(deflateBound(&s, uLong(in.size())));
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

// zlib's inflate of a whole stream; false when zlib refuses it or it does
// not end where the input does.
bool ZlibInflate(XCompression format, const Bytes& in, Bytes& out)
{
    z_stream s{};
    if (inflateInit2(&s, Bits(format)) != Z_OK)
        return false;
    out.clear();
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    int rc = Z_OK;
    uint8_t buffer[16384];
    while (rc == Z_OK) {
        s.next_out = buffer;
        s.avail_out = sizeof buffer;
        rc = inflate(&s, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - s.avail_out));
    }
    inflateEnd(&s);
    return rc == Z_STREAM_END && s.avail_in == 0;
}

Bytes OurCompress(XCompression format, const Bytes& in)
{
    return Content(Compress(format, in.data(), in.size()));
}

Bytes OurDecompress(XCompression format, const Bytes& in, size_t limit = SIZE_MAX)
{
    const XBlob out = Decompress(format, in.data(), in.size(), limit);
    EXPECT_LE(out.Capacity(), std::min<size_t>(limit, kMaxDecompressedSize)) << "the result grew past the limit";
    return Content(out);
}

::testing::AssertionResult Corrupted(XCompression format, const Bytes& in, size_t limit = SIZE_MAX)
{
    return RaisesAlarm([&] { Decompress(format, in.data(), in.size(), limit); }, XMessage::kDataCorrupted, "PGP");
}

// --- round trips and zlib ----------------------------------------------------------------

// Every content and size in both formats: we read back what we write, zlib
// reads it as one stream that ends exactly at the end (the zlib wrapper's
// Adler-32 included), and it is what zlib writes at level 6 with the default
// strategy, the level the packets are written with.
TEST(Compression, RoundTripsAndZlibReadsOurStreams)
{
    for (XCompression format : kFormats) {
        for (const Kind& content : kContents) {
            for (size_t n : kSizes) {
                SCOPED_TRACE(std::string(Name(format)) + " " + content.name + " " + std::to_string(n));
                const Bytes plain = content.make(n);
                const Bytes packed = OurCompress(format, plain);
                EXPECT_EQ(OurDecompress(format, packed), plain);
                Bytes inflated;
                EXPECT_TRUE(ZlibInflate(format, packed, inflated));
                EXPECT_EQ(inflated, plain);
                EXPECT_EQ(packed, ZlibDeflate(format, plain, 6));
            }
        }
    }
}

// The zlib wrapper's header: deflate, a 32 KiB window, the check bits, and
// the level-6 flag; a raw stream has none.
TEST(Compression, HeaderOfEachFormat)
{
    const Bytes plain = Text(1000, 4);
    const Bytes wrapped = OurCompress(XCompression::kZlib, plain);
    ASSERT_GE(wrapped.size(), 6u);
    EXPECT_EQ(wrapped[0], 0x78);
    EXPECT_EQ(wrapped[1], 0x9C);
    const uint32_t adler = uint32_t(adler32(adler32(0, nullptr, 0), plain.data(), uInt(plain.size())));
    EXPECT_EQ(Bytes(wrapped.end() - 4, wrapped.end()), BigEndian32(adler));
    const Bytes raw = OurCompress(XCompression::kZip, plain);
    EXPECT_EQ(Bytes(wrapped.begin() + 2, wrapped.end() - 4), raw);
    // The empty input: one final fixed block holding only the end code.
    EXPECT_EQ(OurCompress(XCompression::kZip, {}), FromHex("0300"));
    EXPECT_EQ(OurCompress(XCompression::kZlib, {}), FromHex("789c030000000001"));
}

// zlib's streams at every level and strategy and two memory levels, read
// alone and with bytes after their end (which are ignored).
TEST(Compression, ReadsZlibStreams)
{
    const int strategies[] = {Z_DEFAULT_STRATEGY, Z_FILTERED, Z_HUFFMAN_ONLY, Z_RLE, Z_FIXED};
    const Bytes trailers[] = {{}, TextBytes("trailing"), Bytes(1, 0), Bytes(3000, 0xFF)};
    const Bytes plain = Mixed(150000, 5);
    for (XCompression format : kFormats) {
        for (int level = 0; level <= 9; ++level) {
            for (int strategy : strategies) {
                for (int memLevel : {1, 9}) {
                    SCOPED_TRACE(std::string(Name(format)) + " level " + std::to_string(level) + " strategy " +
                                 std::to_string(strategy) + " memLevel " + std::to_string(memLevel));
                    const Bytes packed = ZlibDeflate(format, plain, level, strategy, memLevel);
                    for (const Bytes& trailer : trailers) {
                        EXPECT_EQ(OurDecompress(format, Concat(packed, trailer)), plain) << trailer.size();
                    }
                }
            }
        }
        // Empty input at each level; a second whole stream behind the first is
        // trailing bytes too.
        for (int level : {0, 1, 9}) {
            const Bytes empty = ZlibDeflate(format, {}, level);
            EXPECT_EQ(OurDecompress(format, empty), Bytes());
            EXPECT_EQ(OurDecompress(format, Concat(empty, ZlibDeflate(format, plain))), Bytes());
        }
    }
}

// --- malformed streams -------------------------------------------------------------------

// Every proper prefix of a stream is truncated: cut in a block, between
// blocks, and (zlib) in the header or the Adler-32.
TEST(Compression, TruncatedStreamsAreRefused)
{
    const Bytes plain = Concat(Text(3000, 6), Bytes(70000, 'x'));
    for (XCompression format : kFormats) {
        for (int level : {0, 1, 6}) {
            const Bytes packed = ZlibDeflate(format, plain, level);
            for (size_t cut = 0; cut < packed.size(); cut += (cut < 40 || packed.size() - cut < 40) ? 1 : 97) {
                EXPECT_TRUE(Corrupted(format, Bytes(packed.begin(), packed.begin() + cut)))
                    << Name(format) << " level " << level << " cut at " << cut << " of " << packed.size();
            }
        }
    }
}

Bytes ZlibWrap(const Bytes& raw, const Bytes& plain)
{
    const uint32_t adler = uint32_t(adler32(adler32(0, nullptr, 0), plain.data(), uInt(plain.size())));
    return Concat(Concat(FromHex("789c"), raw), BigEndian32(adler));
}

TEST(Compression, MalformedStreamsAreRefused)
{
    const Bytes plain = Text(5000, 7);
    const Bytes good = OurCompress(XCompression::kZlib, plain);
    // A stream written against a preset dictionary refers to bytes before
    // its start: without the dictionary the distances reach too far back.
    const Bytes dictionary = Text(2000, 7);
    const Bytes farBack = ZlibDeflate(XCompression::kZip, plain, 6, Z_DEFAULT_STRATEGY, 8, dictionary);
    ASSERT_GT(good.size(), 10u);
    Bytes badAdler = good;
    badAdler[good.size() - 1] ^= 1;
    Bytes badData = good;
    badData[good.size() / 2] ^= 0x10;

    struct Case {
        const char* what;
        XCompression format;
        Bytes stream;
    };
    const Case cases[] = {
        {"empty input", XCompression::kZip, {}},
        {"empty input", XCompression::kZlib, {}},
        {"block type 3", XCompression::kZip, FromHex("07")},
        {"block type 3", XCompression::kZlib, FromHex("789c07")},
        {"stored block whose length and its complement disagree", XCompression::kZip, FromHex("010500000068656c6c6f")},
        {"dynamic block with more than 286 literal codes", XCompression::kZip, FromHex("fdffff")},
        {"non-final block, then the input ends", XCompression::kZip, FromHex("000000ffff")},
        {"distance too far back", XCompression::kZip, farBack},
        {"distance too far back", XCompression::kZlib, ZlibWrap(farBack, plain)},
        {"header check bits wrong", XCompression::kZlib, Concat(FromHex("789d"), Bytes(good.begin() + 2, good.end()))},
        {"method 9", XCompression::kZlib, FromHex("7918030000000001")},
        {"window of 64 KiB", XCompression::kZlib, FromHex("881c030000000001")},
        {"preset dictionary asked for", XCompression::kZlib,
         ZlibDeflate(XCompression::kZlib, plain, 6, Z_DEFAULT_STRATEGY, 8, dictionary)},
        {"Adler-32 wrong", XCompression::kZlib, badAdler},
        {"a changed byte in the data", XCompression::kZlib, badData},
        {"a raw stream read as zlib", XCompression::kZlib, OurCompress(XCompression::kZip, plain)},
        {"format id 0", XCompression(0), OurCompress(XCompression::kZip, plain)},
        {"format id 3", XCompression(3), good},
    };
    for (const Case& c : cases) {
        EXPECT_TRUE(Corrupted(c.format, c.stream)) << c.what << " (" << int(c.format) << ")";
    }
    // Compress knows the two formats only.
    for (int id : {0, 3, 255}) {
        EXPECT_TRUE(RaisesAlarm([&] { Compress(XCompression(id), plain.data(), plain.size()); },
                                XMessage::kUnsupportedAlgorithm, "PGP"))
            << id;
    }
}

// --- the limit -----------------------------------------------------------------------

TEST(Compression, OutputUpToTheLimitOnly)
{
    struct Case {
        size_t size;
        size_t limit;
        bool fits;
    };
    const Case cases[] = {
        {0, 0, true},
        {1, 0, false},
        {1, 1, true},
        {1000, 1000, true},
        {1000, 999, false},
        {65536, 65536, true},          // exactly the first guess
        {65537, 65536, false},         // one byte past it
        {300000, 300000, true},        // the result grows up to the limit and stops there
        {300000, 299999, false},
        {300000, 131072, false},       // refused at a doubling
        {300000, SIZE_MAX, true},      // taken as 2^31 - 1
        {300000, size_t(1) << 40, true},
    };
    for (XCompression format : kFormats) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(Name(format)) + " size " + std::to_string(c.size) + " limit " +
                         std::to_string(c.limit));
            const Bytes plain = Text(c.size, 8);
            const Bytes packed = OurCompress(format, plain);
            if (c.fits) {
                EXPECT_EQ(OurDecompress(format, packed, c.limit), plain);
            } else {
                EXPECT_TRUE(Corrupted(format, packed, c.limit));
            }
        }
    }
}

// 10 MiB of zeros deflate to about 10 KB.  With a 1 MiB limit decompression
// stops at the limit (the allocation probe measures the memory it takes).
TEST(Compression, BombStopsAtTheLimit)
{
    const Bytes zeros(10 << 20, 0);
    for (XCompression format : kFormats) {
        const Bytes bomb = ZlibDeflate(format, zeros, 9);
        EXPECT_LT(bomb.size(), 12000u);
        EXPECT_TRUE(Corrupted(format, bomb, 1 << 20)) << Name(format);
        EXPECT_EQ(OurDecompress(format, bomb, 10 << 20), zeros) << Name(format);
    }
}

// --- GnuPG ---------------------------------------------------------------------------

// A packet as GnuPG writes it: the tag and the body.
struct Packet {
    int tag = -1;
    Bytes body;
};

// Reads the packet at the start of `in` (tag -1 when it is malformed).  Old
// format: tag in bits 2..5, length type in bits 0..1, an indeterminate length
// running to the end; new format: tag in bits 0..5, one-, two- and five-byte
// lengths and partial chunks.
Packet ReadPacket(const Bytes& in)
{
    Packet p;
    if (in.empty() || !(in[0] & 0x80))
        return p;
    size_t pos = 1;
    if (!(in[0] & 0x40)) {
        const int type = in[0] & 3;
        size_t length = in.size() - 1;
        if (type != 3) {
            const size_t bytes = size_t(1) << type;
            if (in.size() < 1 + bytes)
                return p;
            length = 0;
            for (size_t i = 0; i < bytes; ++i)
                length = length << 8 | in[1 + i];
            pos += bytes;
        }
        if (in.size() - pos < length)
            return p;
        p.body.assign(in.begin() + pos, in.begin() + pos + length);
        p.tag = (in[0] >> 2) & 15;
        return p;
    }
    for (;;) {
        if (pos >= in.size())
            return p;
        const uint8_t first = in[pos];
        size_t length = 0;
        bool partial = false;
        if (first < 192) {
            length = first;
            pos += 1;
        } else if (first < 224) {
            if (pos + 2 > in.size())
                return p;
            length = (size_t(first - 192) << 8) + in[pos + 1] + 192;
            pos += 2;
        } else if (first == 255) {
            if (pos + 5 > in.size())
                return p;
            for (size_t i = 1; i <= 4; ++i)
                length = length << 8 | in[pos + i];
            pos += 5;
        } else {
            length = size_t(1) << (first & 31);
            partial = true;
            pos += 1;
        }
        if (in.size() - pos < length)
            return p;
        p.body.insert(p.body.end(), in.begin() + pos, in.begin() + pos + length);
        pos += length;
        if (!partial)
            break;
    }
    p.tag = in[0] & 0x3F;
    return p;
}

// A literal data packet with a 4-byte length, binary, no name, date 0.
Bytes LiteralPacket(const Bytes& data)
{
    Bytes p = Concat(Concat({0xAE}, BigEndian32(uint32_t(data.size() + 6))), {'b', 0, 0, 0, 0, 0});
    return Concat(p, data);
}

// The data of a literal packet's body: format, name length, name, date, data.
Bytes LiteralData(const Bytes& body)
{
    if (body.size() < 2 || body.size() < 6u + body[1])
        return {};
    return Bytes(body.begin() + 6 + body[1], body.end());
}

class CompressionGpg : public pgp_test::GpgSuite {};

// gpg --store with a compression algorithm and level writes a compressed
// packet of indeterminate length holding the literal packet; we inflate it.
TEST_F(CompressionGpg, ReadsGpgCompressedPackets)
{
    const std::string in = gpg_->Path("plain.txt"), out = gpg_->Path("stored.gpg");
    for (const Bytes& plain : {Bytes(), Text(100, 9), Text(70000, 10), Mixed(200000, 11)}) {
        WriteFile(in, plain);
        for (XCompression format : kFormats) {
            for (const char* level : {"1", "6", "9"}) {
                SCOPED_TRACE(std::string(Name(format)) + " -z " + level + " size " + std::to_string(plain.size()));
                ASSERT_TRUE(gpg_->Call("unused", {"--yes", "--compress-algo", Name(format), "-z", level, "--store",
                                                  "-o", out, in}))
                    << gpg_->Log();
                const Packet compressed = ReadPacket(ReadFile(out));
                ASSERT_EQ(compressed.tag, 8);
                ASSERT_FALSE(compressed.body.empty());
                ASSERT_EQ(compressed.body[0], uint8_t(format));
                const Bytes stream(compressed.body.begin() + 1, compressed.body.end());
                const Packet literal = ReadPacket(OurDecompress(format, stream, 1 << 20));
                ASSERT_EQ(literal.tag, 11);
                EXPECT_EQ(LiteralData(literal.body), plain);
            }
        }
    }
}

// gpg reads a compressed packet we wrote around a literal packet.
TEST_F(CompressionGpg, GpgReadsOurCompressedPackets)
{
    const std::string in = gpg_->Path("ours.gpg"), out = gpg_->Path("ours.out");
    for (const Bytes& plain : {Bytes(), Text(100, 12), Mixed(200000, 13)}) {
        for (XCompression format : kFormats) {
            SCOPED_TRACE(std::string(Name(format)) + " size " + std::to_string(plain.size()));
            const Bytes stream = OurCompress(format, LiteralPacket(plain));
            WriteFile(in, Concat({0xA3, uint8_t(format)}, stream));
            ASSERT_TRUE(gpg_->Call("unused", {"--yes", "-o", out, "-d", in})) << gpg_->Log();
            EXPECT_EQ(ReadFile(out), plain);
        }
    }
}

} // namespace
