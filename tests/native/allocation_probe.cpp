// How much memory decompression takes.  This program replaces the C
// library's malloc, calloc, realloc and free (glibc lets a program define its
// own and reach the originals as __libc_malloc and so on; operator new ends
// there too) and, while a test watches, follows the bytes in use: the peak
// above where the test started, and the largest single block asked for.
// Not built with the sanitizers, which replace the allocator themselves.
#include "core/alarm.h"
#include "pgp/compression.h"

#include <gtest/gtest.h>
#include <malloc.h>
#include <zlib.h>

#include <atomic>
#include <cstdint>
#include <vector>

extern "C" void* __libc_malloc(size_t n);
extern "C" void* __libc_calloc(size_t n, size_t size);
extern "C" void* __libc_realloc(void* p, size_t n);
extern "C" void __libc_free(void* p);

namespace {

std::atomic<bool> g_watching{false};
std::atomic<int64_t> g_inUse{0};
std::atomic<int64_t> g_peak{0};
std::atomic<size_t> g_largest{0};
std::atomic<size_t> g_blocks{0};

void Allocated(void* p, size_t asked)
{
    if (!p || !g_watching.load(std::memory_order_relaxed))
        return;
    g_blocks.fetch_add(1);
    size_t largest = g_largest.load();
    while (asked > largest && !g_largest.compare_exchange_weak(largest, asked)) {
    }
    const int64_t now = g_inUse.fetch_add(int64_t(malloc_usable_size(p))) + int64_t(malloc_usable_size(p));
    int64_t peak = g_peak.load();
    while (now > peak && !g_peak.compare_exchange_weak(peak, now)) {
    }
}

void Released(void* p)
{
    if (p && g_watching.load(std::memory_order_relaxed))
        g_inUse.fetch_sub(int64_t(malloc_usable_size(p)));
}

} // namespace

extern "C" void* malloc(size_t n)
{
    void* p = __libc_malloc(n);
    Allocated(p, n);
    return p;
}

extern "C" void* calloc(size_t n, size_t size)
{
    void* p = __libc_calloc(n, size);
    Allocated(p, n * size);
    return p;
}

extern "C" void* realloc(void* p, size_t n)
{
    Released(p);
    void* q = __libc_realloc(p, n);
    Allocated(q ? q : p, q ? n : malloc_usable_size(p));
    return q;
}

extern "C" void free(void* p)
{
    Released(p);
    __libc_free(p);
}

namespace {

constexpr size_t kMiB = size_t(1) << 20;

// zlib's inflate state and 32 KiB window, with room to spare.
constexpr int64_t kInflateState = 64 * 1024;

std::vector<uint8_t> Deflate(XCompression format, const std::vector<uint8_t>& in)
{
    z_stream s{};
    EXPECT_EQ(deflateInit2(&s, 9, Z_DEFLATED, format == XCompression::kZip ? -15 : 15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    std::vector<uint8_t> out(deflateBound(&s, uLong(in.size())));
    s.next_in = const_cast<Bytef*>(in.data());
    s.avail_in = uInt(in.size());
    s.next_out = out.data();
    s.avail_out = uInt(out.size());
    EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
    out.resize(s.total_out);
    deflateEnd(&s);
    return out;
}

class Allocation : public ::testing::Test {
protected:
    void Watch()
    {
        g_inUse = 0;
        g_peak = 0;
        g_largest = 0;
        g_blocks = 0;
        g_watching = true;
    }
    void TearDown() override { g_watching = false; }
};

// The probe itself sees a block come and go.
TEST_F(Allocation, TheProbeCountsABlock)
{
    void* (*volatile allocate)(size_t) = std::malloc;
    void (*volatile release)(void*) = std::free;
    Watch();
    void* p = allocate(3 * kMiB);
    release(p);
    g_watching = false;
    EXPECT_EQ(g_largest.load(), 3 * kMiB);
    EXPECT_GE(g_peak.load(), int64_t(3 * kMiB));
    EXPECT_EQ(g_inUse.load(), 0);
}

// A bomb, 10 MiB of zeros in about 10 KB, against limits below and at its
// size: the result never grows past the limit, and while it grows the old
// array and the new one are all there is besides zlib's state (the peak is
// under twice the limit, far below the 10 MiB a full inflate would take).
TEST_F(Allocation, DecompressionStaysWithinTheLimit)
{
    const std::vector<uint8_t> zeros(10 * kMiB, 0);
    for (XCompression format : {XCompression::kZip, XCompression::kZlib}) {
        const std::vector<uint8_t> bomb = Deflate(format, zeros);
        for (size_t limit : {size_t(64 * 1024), 1 * kMiB, 3 * kMiB + 5, 10 * kMiB}) {
            SCOPED_TRACE(std::string(format == XCompression::kZip ? "zip" : "zlib") + " limit " +
                         std::to_string(limit));
            bool refused = false;
            Watch();
            try {
                const XBlob out = Decompress(format, bomb.data(), bomb.size(), limit);
                EXPECT_EQ(out.Length(), zeros.size());
            } catch (const XCryptoAlarm&) {
                refused = true;
            }
            g_watching = false;
            EXPECT_EQ(refused, limit < zeros.size());
            EXPECT_GT(g_blocks.load(), 0u);
            EXPECT_LE(g_largest.load(), limit);
            EXPECT_LT(g_peak.load(), int64_t(2 * limit) + kInflateState);
            EXPECT_EQ(g_inUse.load(), 0) << "memory left in use";
        }
    }
}

} // namespace
