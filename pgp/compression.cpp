#include "pgp/compression.h"

#include "core/alarm.h"
#include "core/wipe.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

namespace {

const char kSource[] = "PGP";

// zlib's window and state hold plaintext: each block zlib asks for carries
// its size in front of it, so that it can be wiped when zlib frees it.
constexpr size_t kHeader = 16; // keeps zlib's blocks aligned as malloc's are

voidpf WipingAlloc(voidpf, uInt items, uInt size)
{
    const size_t n = size_t(items) * size;
    if (size != 0 && n / size != items)
        return Z_NULL;
    uint8_t* block = static_cast<uint8_t*>(std::malloc(kHeader + n));
    if (!block)
        return Z_NULL;
    std::memcpy(block, &n, sizeof n);
    return block + kHeader;
}

void WipingFree(voidpf, voidpf address)
{
    if (!address)
        return;
    uint8_t* block = static_cast<uint8_t*>(address) - kHeader;
    size_t n;
    std::memcpy(&n, block, sizeof n);
    SecureWipe(block, kHeader + n);
    std::free(block);
}

// deflate and inflate take at most uInt bytes per call.
constexpr size_t kMaxChunk = size_t(1) << 30;

// zlib's windowBits for the format (a 32 KiB window); `unknown` is what an
// id that is neither format raises.
int WindowBits(XCompression format, const char* unknown)
{
    switch (format) {
    case XCompression::kZip:
        return -MAX_WBITS; // raw deflate
    case XCompression::kZlib:
        return MAX_WBITS;
    }
    throw XCryptoAlarm(unknown, kSource);
}

// A z_stream with the wiping allocator, ended on every path out.
class Deflater {
public:
    explicit Deflater(XCompression format)
    {
        stream_.zalloc = WipingAlloc;
        stream_.zfree = WipingFree;
        stream_.opaque = Z_NULL;
        const int rc = deflateInit2(&stream_, 6, Z_DEFLATED, WindowBits(format, XMessage::kUnsupportedAlgorithm), 8,
                                     Z_DEFAULT_STRATEGY);
        if (rc == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (rc != Z_OK)
            throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    }
    ~Deflater() { deflateEnd(&stream_); }
    Deflater(const Deflater&) = delete;
    Deflater& operator=(const Deflater&) = delete;
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
};

class Inflater {
public:
    explicit Inflater(XCompression format)
    {
        stream_.zalloc = WipingAlloc;
        stream_.zfree = WipingFree;
        stream_.opaque = Z_NULL;
        stream_.next_in = Z_NULL;
        stream_.avail_in = 0;
        const int rc = inflateInit2(&stream_, WindowBits(format, XMessage::kDataCorrupted));
        if (rc == Z_MEM_ERROR)
            throw std::bad_alloc();
        if (rc != Z_OK)
            throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    }
    ~Inflater() { inflateEnd(&stream_); }
    Inflater(const Inflater&) = delete;
    Inflater& operator=(const Inflater&) = delete;
    z_stream* operator->() { return &stream_; }
    z_stream* get() { return &stream_; }

private:
    z_stream stream_{};
};

// Hands zlib the next piece of the input once it has taken the last one.
void Feed(z_stream* stream, const uint8_t*& data, size_t& left)
{
    if (stream->avail_in != 0 || left == 0)
        return;
    const size_t piece = std::min(left, kMaxChunk);
    stream->next_in = const_cast<Bytef*>(data);
    stream->avail_in = uInt(piece);
    data += piece;
    left -= piece;
}

} // namespace

XBlob Compress(XCompression format, const uint8_t* data, size_t n)
{
    Deflater deflater(format);
    // zlib's bound on the output is one allocation that always fits; past
    // 2 GiB of input the result starts there and doubles.
    const uint64_t bound = n <= 0x7FFFFFFF ? deflateBound(deflater.get(), uLong(n)) : uint64_t(0x80000000);
    XBlob out(uint32_t(std::min<uint64_t>(bound, UINT32_MAX)));
    size_t left = n;
    for (;;) {
        if (out.Length() == out.Capacity())
            out.Grow(out.Capacity() ? out.Capacity() : XBlob::kInitialCapacity);
        Feed(deflater.get(), data, left);
        const uint32_t room = out.Capacity() - out.Length();
        deflater->next_out = out.Data() + out.Length();
        deflater->avail_out = room;
        const int rc = deflate(deflater.get(), left == 0 ? Z_FINISH : Z_NO_FLUSH);
        out.SetLength(out.Length() + (room - deflater->avail_out));
        if (rc == Z_STREAM_END)
            return out;
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
    }
}

XBlob Decompress(XCompression format, const uint8_t* data, size_t n, size_t limit)
{
    limit = std::min(limit, kMaxDecompressedSize);
    Inflater inflater(format);
    // Deflate rarely shrinks text below a quarter; the first guess is four
    // times the input, at least 64 KiB, never past the limit.
    const uint64_t guess = std::max<uint64_t>(uint64_t(n) * 4, 0x10000);
    XBlob out(uint32_t(std::min<uint64_t>(guess, limit)));
    size_t left = n;
    for (;;) {
        if (out.Length() == out.Capacity() && out.Capacity() < limit) {
            const uint64_t doubled = std::max<uint64_t>(uint64_t(out.Capacity()) * 2, 0x10000);
            out.Grow(uint32_t(std::min<uint64_t>(doubled, limit)) - out.Capacity());
        }
        Feed(inflater.get(), data, left);
        // Once the result holds `limit` bytes, zlib gets one spare byte:
        // anything it puts there is output past the limit.
        uint8_t spare = 0;
        const bool full = out.Length() == out.Capacity();
        const uint32_t room = full ? 1 : out.Capacity() - out.Length();
        inflater->next_out = full ? &spare : out.Data() + out.Length();
        inflater->avail_out = room;
        const int rc = inflate(inflater.get(), Z_NO_FLUSH);
        const uint32_t produced = room - inflater->avail_out;
        if (full) {
            SecureWipe(&spare, 1);
            if (produced)
                throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
        } else {
            out.SetLength(out.Length() + produced);
        }
        switch (rc) {
        case Z_STREAM_END:
            return out;
        case Z_OK:
            break;
        case Z_BUF_ERROR:
            // No progress was possible: with room for output, that means the
            // input ran out before the stream ended.
            if (inflater->avail_in == 0 && left == 0)
                throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
            break;
        case Z_MEM_ERROR:
            throw std::bad_alloc();
        default: // Z_DATA_ERROR, Z_NEED_DICT (OpenPGP streams use no dictionary), Z_STREAM_ERROR
            throw XCryptoAlarm(XMessage::kDataCorrupted, kSource);
        }
    }
}
