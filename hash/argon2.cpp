#include "hash/argon2.h"

#include "core/bytes.h"
#include "core/wipe.h"
#include "hash/blake2b.h"
#include "hash/cpu_features.h"

#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <initializer_list>
#include <new>
#include <stdexcept>

#if ZEL_HASH_X86 && defined(__x86_64__)
#define ZEL_ARGON2_AVX2 1
#include <immintrin.h>
#else
#define ZEL_ARGON2_AVX2 0
#endif

namespace {

constexpr uint32_t kBlockWords = 128;
constexpr uint32_t kBlockBytes = 1024;
constexpr uint32_t kSlices = 4;
constexpr uint32_t kVersion = 0x13;
constexpr uint32_t kAddressesPerBlock = kBlockWords;

// One 1 KiB block: 128 little-endian words.  Seen as an 8 x 8 matrix of
// 16-byte registers, register (row, col) holds words 16 row + 2 col and the
// one after it.
struct alignas(64) Block {
    uint64_t v[kBlockWords];
};

// out = G(x, y), or out ^= G(x, y) when xorInto (the passes after the
// first).  scratch holds two blocks of working space; out may not overlap
// x, y or scratch.
using CompressFn = void (*)(Block* out, const Block* x, const Block* y, bool xorInto, Block* scratch);

// --- portable compression --------------------------------------------------

// The multiply-add that replaces BLAKE2b's addition: a + b + 2 lo(a) lo(b).
inline uint64_t BlaMka(uint64_t a, uint64_t b)
{
    return a + b + 2 * (uint64_t(uint32_t(a)) * uint32_t(b));
}

#define ARGON2_GB(a, b, c, d)    \
    a = BlaMka(a, b);            \
    d = Rotr64(d ^ a, 32);       \
    c = BlaMka(c, d);            \
    b = Rotr64(b ^ c, 24);       \
    a = BlaMka(a, b);            \
    d = Rotr64(d ^ a, 16);       \
    c = BlaMka(c, d);            \
    b = Rotr64(b ^ c, 63)

// The permutation P over sixteen words: the BLAKE2b round without message
// words, on columns, then on diagonals.
#define ARGON2_P(v0, v1, v2, v3, v4, v5, v6, v7, v8, v9, v10, v11, v12, v13, v14, v15) \
    {                                                                                 \
        ARGON2_GB(v0, v4, v8, v12);                                                   \
        ARGON2_GB(v1, v5, v9, v13);                                                   \
        ARGON2_GB(v2, v6, v10, v14);                                                  \
        ARGON2_GB(v3, v7, v11, v15);                                                  \
        ARGON2_GB(v0, v5, v10, v15);                                                  \
        ARGON2_GB(v1, v6, v11, v12);                                                  \
        ARGON2_GB(v2, v7, v8, v13);                                                   \
        ARGON2_GB(v3, v4, v9, v14);                                                   \
    }

void CompressPortable(Block* out, const Block* x, const Block* y, bool xorInto, Block* scratch)
{
    uint64_t* r = scratch[0].v;
    uint64_t* q = scratch[1].v;
    for (uint32_t i = 0; i < kBlockWords; ++i) {
        r[i] = x->v[i] ^ y->v[i];
        q[i] = r[i];
    }
    // P on each row of registers (sixteen consecutive words) ...
    for (int i = 0; i < 8; ++i) {
        uint64_t* s = q + 16 * i;
        ARGON2_P(s[0], s[1], s[2], s[3], s[4], s[5], s[6], s[7], s[8], s[9], s[10], s[11], s[12], s[13], s[14],
                 s[15]);
    }
    // ... then on each column (the same register of every row).
    for (int j = 0; j < 8; ++j) {
        uint64_t* s = q + 2 * j;
        ARGON2_P(s[0], s[1], s[16], s[17], s[32], s[33], s[48], s[49], s[64], s[65], s[80], s[81], s[96], s[97],
                 s[112], s[113]);
    }
    if (xorInto) {
        for (uint32_t i = 0; i < kBlockWords; ++i)
            out->v[i] ^= q[i] ^ r[i];
    } else {
        for (uint32_t i = 0; i < kBlockWords; ++i)
            out->v[i] = q[i] ^ r[i];
    }
}

#undef ARGON2_GB
#undef ARGON2_P

#if ZEL_ARGON2_AVX2
// --- AVX2 compression ------------------------------------------------------
// Four words to a vector.  The row step holds a row's sixteen words in four
// vectors (a, b, c, d) and rotates b, c and d across the vector for the
// diagonal half.  The column step takes two neighbouring columns at once:
// vector k holds register k of both (one 128-bit half each), so the column
// half is straight and the diagonal half pairs the words with byte shifts
// inside each half.

#define ZEL_ARGON2_TARGET __attribute__((target("avx2")))
#define ZEL_ARGON2_INLINE ZEL_ARGON2_TARGET __attribute__((always_inline)) inline

ZEL_ARGON2_INLINE __m256i BlaMka4(__m256i a, __m256i b)
{
    const __m256i m = _mm256_mul_epu32(a, b);
    return _mm256_add_epi64(_mm256_add_epi64(a, b), _mm256_add_epi64(m, m));
}

ZEL_ARGON2_INLINE void Gb4(__m256i& a, __m256i& b, __m256i& c, __m256i& d)
{
    // Rotations by 24 and 16 bits are byte moves within each word.
    const __m256i rot24 = _mm256_setr_epi8(3, 4, 5, 6, 7, 0, 1, 2, 11, 12, 13, 14, 15, 8, 9, 10, 3, 4, 5, 6, 7, 0,
                                           1, 2, 11, 12, 13, 14, 15, 8, 9, 10);
    const __m256i rot16 = _mm256_setr_epi8(2, 3, 4, 5, 6, 7, 0, 1, 10, 11, 12, 13, 14, 15, 8, 9, 2, 3, 4, 5, 6, 7,
                                           0, 1, 10, 11, 12, 13, 14, 15, 8, 9);
    a = BlaMka4(a, b);
    d = _mm256_shuffle_epi32(_mm256_xor_si256(d, a), _MM_SHUFFLE(2, 3, 0, 1));
    c = BlaMka4(c, d);
    b = _mm256_shuffle_epi8(_mm256_xor_si256(b, c), rot24);
    a = BlaMka4(a, b);
    d = _mm256_shuffle_epi8(_mm256_xor_si256(d, a), rot16);
    c = BlaMka4(c, d);
    b = _mm256_xor_si256(b, c);
    b = _mm256_xor_si256(_mm256_srli_epi64(b, 63), _mm256_add_epi64(b, b));
}

// P on one row: a = words 0..3, b = 4..7, c = 8..11, d = 12..15.
ZEL_ARGON2_INLINE void RowP(__m256i& a, __m256i& b, __m256i& c, __m256i& d)
{
    Gb4(a, b, c, d);
    // Diagonals: b, c, d turned by one, two and three words.
    b = _mm256_permute4x64_epi64(b, _MM_SHUFFLE(0, 3, 2, 1));
    c = _mm256_permute4x64_epi64(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm256_permute4x64_epi64(d, _MM_SHUFFLE(2, 1, 0, 3));
    Gb4(a, b, c, d);
    b = _mm256_permute4x64_epi64(b, _MM_SHUFFLE(2, 1, 0, 3));
    c = _mm256_permute4x64_epi64(c, _MM_SHUFFLE(1, 0, 3, 2));
    d = _mm256_permute4x64_epi64(d, _MM_SHUFFLE(0, 3, 2, 1));
}

// P on two neighbouring columns: x[k] holds register k of each (words
// v[2k], v[2k+1] of the column's sixteen, one column per 128-bit half).
ZEL_ARGON2_INLINE void ColumnPairP(__m256i x[8])
{
    Gb4(x[0], x[2], x[4], x[6]); // (v0, v4, v8, v12) and (v1, v5, v9, v13)
    Gb4(x[1], x[3], x[5], x[7]); // (v2, v6, v10, v14) and (v3, v7, v11, v15)
    // (v0, v5, v10, v15), (v1, v6, v11, v12) and (v2, v7, v8, v13), (v3, v4, v9, v14).
    __m256i b0 = _mm256_alignr_epi8(x[3], x[2], 8); // v5, v6
    __m256i b1 = _mm256_alignr_epi8(x[2], x[3], 8); // v7, v4
    __m256i d0 = _mm256_alignr_epi8(x[6], x[7], 8); // v15, v12
    __m256i d1 = _mm256_alignr_epi8(x[7], x[6], 8); // v13, v14
    Gb4(x[0], b0, x[5], d0);
    Gb4(x[1], b1, x[4], d1);
    x[2] = _mm256_alignr_epi8(b0, b1, 8); // v4, v5
    x[3] = _mm256_alignr_epi8(b1, b0, 8); // v6, v7
    x[6] = _mm256_alignr_epi8(d1, d0, 8); // v12, v13
    x[7] = _mm256_alignr_epi8(d0, d1, 8); // v14, v15
}

ZEL_ARGON2_TARGET __attribute__((force_align_arg_pointer)) void CompressAvx2(Block* out, const Block* x,
                                                                               const Block* y, bool xorInto,
                                                                               Block* scratch)
{
    const __m256i* xv = reinterpret_cast<const __m256i*>(x->v);
    const __m256i* yv = reinterpret_cast<const __m256i*>(y->v);
    __m256i* r = reinterpret_cast<__m256i*>(scratch[0].v);
    __m256i* q = reinterpret_cast<__m256i*>(scratch[1].v);
    __m256i* o = reinterpret_cast<__m256i*>(out->v);
    // Rows, two at a time for the overlap; R = X ^ Y kept for the end.
    for (int i = 0; i < 32; i += 8) {
        __m256i a0 = _mm256_xor_si256(_mm256_load_si256(xv + i + 0), _mm256_load_si256(yv + i + 0));
        __m256i b0 = _mm256_xor_si256(_mm256_load_si256(xv + i + 1), _mm256_load_si256(yv + i + 1));
        __m256i c0 = _mm256_xor_si256(_mm256_load_si256(xv + i + 2), _mm256_load_si256(yv + i + 2));
        __m256i d0 = _mm256_xor_si256(_mm256_load_si256(xv + i + 3), _mm256_load_si256(yv + i + 3));
        __m256i a1 = _mm256_xor_si256(_mm256_load_si256(xv + i + 4), _mm256_load_si256(yv + i + 4));
        __m256i b1 = _mm256_xor_si256(_mm256_load_si256(xv + i + 5), _mm256_load_si256(yv + i + 5));
        __m256i c1 = _mm256_xor_si256(_mm256_load_si256(xv + i + 6), _mm256_load_si256(yv + i + 6));
        __m256i d1 = _mm256_xor_si256(_mm256_load_si256(xv + i + 7), _mm256_load_si256(yv + i + 7));
        _mm256_store_si256(r + i + 0, a0);
        _mm256_store_si256(r + i + 1, b0);
        _mm256_store_si256(r + i + 2, c0);
        _mm256_store_si256(r + i + 3, d0);
        _mm256_store_si256(r + i + 4, a1);
        _mm256_store_si256(r + i + 5, b1);
        _mm256_store_si256(r + i + 6, c1);
        _mm256_store_si256(r + i + 7, d1);
        RowP(a0, b0, c0, d0);
        RowP(a1, b1, c1, d1);
        _mm256_store_si256(q + i + 0, a0);
        _mm256_store_si256(q + i + 1, b0);
        _mm256_store_si256(q + i + 2, c0);
        _mm256_store_si256(q + i + 3, d0);
        _mm256_store_si256(q + i + 4, a1);
        _mm256_store_si256(q + i + 5, b1);
        _mm256_store_si256(q + i + 6, c1);
        _mm256_store_si256(q + i + 7, d1);
    }
    // Columns 2j and 2j + 1: vector k is words 16 k + 4 j .. + 3, i.e.
    // vector 4 k + j.
    for (int j = 0; j < 4; ++j) {
        __m256i v[8];
        for (int k = 0; k < 8; ++k)
            v[k] = _mm256_load_si256(q + 4 * k + j);
        ColumnPairP(v);
        if (xorInto) {
            for (int k = 0; k < 8; ++k)
                _mm256_store_si256(o + 4 * k + j,
                                   _mm256_xor_si256(_mm256_load_si256(o + 4 * k + j),
                                                    _mm256_xor_si256(v[k], _mm256_load_si256(r + 4 * k + j))));
        } else {
            for (int k = 0; k < 8; ++k)
                _mm256_store_si256(o + 4 * k + j, _mm256_xor_si256(v[k], _mm256_load_si256(r + 4 * k + j)));
        }
    }
}
#endif // ZEL_ARGON2_AVX2

// --- engine selection --------------------------------------------------------

bool Available(Argon2Engine engine)
{
    switch (engine) {
    case Argon2Engine::kPortable:
        return true;
    case Argon2Engine::kAvx2:
        return ZEL_ARGON2_AVX2 && CpuHasAvx2();
    }
    return false;
}

CompressFn FunctionOf(Argon2Engine engine)
{
#if ZEL_ARGON2_AVX2
    if (engine == Argon2Engine::kAvx2)
        return CompressAvx2;
#endif
    (void)engine;
    return CompressPortable;
}

// The selected engine.  Every thread that finds it unset stores the same
// choice, so the race is benign; Argon2SelectEngine overrides it.
std::atomic<int> g_engine{-1};

Argon2Engine ActiveEngine()
{
    int engine = g_engine.load(std::memory_order_relaxed);
    if (engine < 0) {
        engine = int(Available(Argon2Engine::kAvx2) ? Argon2Engine::kAvx2 : Argon2Engine::kPortable);
        g_engine.store(engine, std::memory_order_relaxed);
    }
    return Argon2Engine(engine);
}

// --- H' ------------------------------------------------------------------------

struct Piece {
    const uint8_t* data;
    size_t length;
};

// H'(pieces...) of `length` bytes into out: one BLAKE2b of the length and
// the input when 64 bytes do; otherwise a chain of 64-byte BLAKE2b digests,
// 32 bytes taken from each, the last one as long as what remains.
void VariableHash(uint8_t* out, uint32_t length, std::initializer_list<Piece> pieces)
{
    uint8_t lengthBytes[4];
    StoreLe32(lengthBytes, length);
    if (length <= XBlake2b::kMaxOutLength) {
        XBlake2b h(length);
        h.Update(lengthBytes, 4);
        for (const Piece& p : pieces)
            h.Update(p.data, p.length);
        h.Final(out);
        return;
    }
    uint8_t v[64];
    {
        XBlake2b h(64);
        h.Update(lengthBytes, 4);
        for (const Piece& p : pieces)
            h.Update(p.data, p.length);
        h.Final(v);
    }
    std::memcpy(out, v, 32);
    out += 32;
    uint32_t remaining = length - 32;
    while (remaining > 64) {
        XBlake2b h(64);
        h.Update(v, 64);
        h.Final(v);
        std::memcpy(out, v, 32);
        out += 32;
        remaining -= 32;
    }
    XBlake2b h(remaining);
    h.Update(v, 64);
    h.Final(out);
    SecureWipe(v, sizeof v);
}

// --- the memory and its fill ----------------------------------------------------

// The one allocation: the blocks, then the working blocks of the
// compression and of the address generation.  Wiped and freed on every exit.
class Memory {
public:
    static constexpr size_t kExtraBlocks = 6;

    explicit Memory(uint32_t blocks)
    {
        const size_t total = size_t(blocks) + kExtraBlocks;
        if (total < blocks || total > (SIZE_MAX - 64) / kBlockBytes)
            throw std::bad_alloc();
        bytes_ = total * kBlockBytes;
        raw_ = std::malloc(bytes_ + 64);
        if (!raw_)
            throw std::bad_alloc();
        const uintptr_t address = (reinterpret_cast<uintptr_t>(raw_) + 63) & ~uintptr_t(63);
        blocks_ = reinterpret_cast<Block*>(address);
        std::memset(static_cast<void*>(blocks_ + blocks), 0, kExtraBlocks * kBlockBytes);
        scratch = blocks_ + blocks;
        zero = scratch + 2;
        input = scratch + 3;
        pending = scratch + 4;
        addresses = scratch + 5;
    }
    ~Memory()
    {
        SecureWipe(blocks_, bytes_);
        std::free(raw_);
    }
    Memory(const Memory&) = delete;
    Memory& operator=(const Memory&) = delete;

    Block* Blocks() { return blocks_; }

    Block* scratch;   // two blocks
    Block* zero;      // all zero
    Block* input;     // the counter block of the address generation
    Block* pending;   // its first compression
    Block* addresses; // 128 pseudo-random words for data-independent order

private:
    void* raw_;
    Block* blocks_;
    size_t bytes_;
};

struct Instance {
    Memory* memory;
    Block* blocks;
    CompressFn compress;
    XArgon2Type type;
    uint32_t passes;
    uint32_t lanes;
    uint32_t blockCount;
    uint32_t laneLength;
    uint32_t segmentLength;
};

// The next 128 addresses: G(0, G(0, input)) with input's counter advanced.
void NextAddresses(Instance& in)
{
    Memory& m = *in.memory;
    ++m.input->v[6];
    in.compress(m.pending, m.zero, m.input, false, m.scratch);
    in.compress(m.addresses, m.zero, m.pending, false, m.scratch);
}

void FillSegment(Instance& in, uint32_t pass, uint32_t slice, uint32_t lane)
{
    Memory& m = *in.memory;
    const bool independent =
        in.type == XArgon2Type::kI || (in.type == XArgon2Type::kId && pass == 0 && slice < kSlices / 2);
    if (independent) {
        std::memset(m.input->v, 0, kBlockBytes);
        m.input->v[0] = pass;
        m.input->v[1] = lane;
        m.input->v[2] = slice;
        m.input->v[3] = in.blockCount;
        m.input->v[4] = in.passes;
        m.input->v[5] = uint64_t(in.type);
    }
    uint32_t first = 0;
    if (pass == 0 && slice == 0) {
        first = 2; // blocks 0 and 1 of each lane come from H'
        if (independent)
            NextAddresses(in);
    }
    const size_t laneStart = size_t(lane) * in.laneLength;
    // Where the reference area starts in this lane's ring: in later passes
    // just behind this segment (the other three slices and this one so far).
    const uint32_t areaStart = pass == 0 || slice == kSlices - 1 ? 0 : (slice + 1) * in.segmentLength;
    for (uint32_t i = first; i < in.segmentLength; ++i) {
        const uint32_t column = slice * in.segmentLength + i;
        const size_t current = laneStart + column;
        const size_t previous = column == 0 ? laneStart + in.laneLength - 1 : current - 1;
        uint64_t random;
        if (independent) {
            if (i % kAddressesPerBlock == 0)
                NextAddresses(in);
            random = m.addresses->v[i % kAddressesPerBlock];
        } else {
            random = in.blocks[previous].v[0];
        }
        uint32_t refLane = uint32_t(random >> 32) % in.lanes;
        if (pass == 0 && slice == 0)
            refLane = lane;
        const bool sameLane = refLane == lane;
        // The blocks that may be referenced: in this lane everything done
        // but the previous block; in another lane its finished segments,
        // less the last one while this segment has not started.
        uint32_t area;
        if (pass == 0)
            area = slice * in.segmentLength + (sameLane ? i - 1 : (i == 0 ? uint32_t(-1) : 0));
        else
            area = in.laneLength - in.segmentLength + (sameLane ? i - 1 : (i == 0 ? uint32_t(-1) : 0));
        // Map the low 32 bits non-uniformly onto the area, favouring recent blocks.
        uint64_t x = uint32_t(random);
        x = (x * x) >> 32;
        const uint32_t relative = area - 1 - uint32_t((uint64_t(area) * x) >> 32);
        const uint32_t refColumn = uint32_t((uint64_t(areaStart) + relative) % in.laneLength);
        in.compress(&in.blocks[current], &in.blocks[previous],
                    &in.blocks[size_t(refLane) * in.laneLength + refColumn], pass > 0, m.scratch);
    }
}

void LoadBlock(Block* block, const uint8_t* bytes)
{
    for (uint32_t i = 0; i < kBlockWords; ++i)
        block->v[i] = LoadLe64(bytes + 8 * i);
}

void StoreBlock(uint8_t* bytes, const Block* block)
{
    for (uint32_t i = 0; i < kBlockWords; ++i)
        StoreLe64(bytes + 8 * i, block->v[i]);
}

} // namespace

XBlob Argon2(XArgon2Type type, const XBlob& password, const XBlob& salt, uint32_t passes, uint32_t lanes,
             uint32_t memoryKiB, uint32_t tagLength, const XBlob& secret, const XBlob& ad)
{
    if (type != XArgon2Type::kD && type != XArgon2Type::kI && type != XArgon2Type::kId)
        throw std::invalid_argument("Argon2: unknown type");
    if (lanes < 1 || lanes > 0xffffff)
        throw std::invalid_argument("Argon2: lanes must be 1..2^24-1");
    if (passes < 1)
        throw std::invalid_argument("Argon2: passes must be at least 1");
    if (memoryKiB < 8 * lanes)
        throw std::invalid_argument("Argon2: memory must be at least 8 KiB per lane");
    if (tagLength < 4)
        throw std::invalid_argument("Argon2: tag must be at least 4 bytes");
    if (salt.Length() < 8)
        throw std::invalid_argument("Argon2: salt must be at least 8 bytes");

    // Whole segments: m' = 4 p floor(m / 4p) blocks.
    const uint32_t segmentLength = memoryKiB / (kSlices * lanes);
    const uint32_t laneLength = segmentLength * kSlices;
    const uint32_t blockCount = laneLength * lanes;

    XBlob tag(tagLength);
    tag.SetLength(tagLength);
    Memory memory(blockCount);
    Instance in{&memory, memory.Blocks(), FunctionOf(ActiveEngine()), type, passes, lanes, blockCount,
                laneLength, segmentLength};

    // H0 over the parameters and inputs (the memory as given, not rounded).
    uint8_t h0[64 + 8];
    {
        XBlake2b h(64);
        uint8_t word[4];
        for (uint32_t v : {lanes, tagLength, memoryKiB, passes, kVersion, uint32_t(type)}) {
            StoreLe32(word, v);
            h.Update(word, 4);
        }
        for (const XBlob* b : {&password, &salt, &secret, &ad}) {
            StoreLe32(word, b->Length());
            h.Update(word, 4);
            h.Update(b->Data(), b->Length());
        }
        h.Final(h0);
    }
    // The first two blocks of each lane: H'(H0 || LE32(column) || LE32(lane)).
    uint8_t bytes[kBlockBytes];
    for (uint32_t lane = 0; lane < lanes; ++lane) {
        StoreLe32(h0 + 68, lane);
        for (uint32_t column = 0; column < 2; ++column) {
            StoreLe32(h0 + 64, column);
            VariableHash(bytes, kBlockBytes, {{h0, sizeof h0}});
            LoadBlock(&in.blocks[size_t(lane) * laneLength + column], bytes);
        }
    }
    SecureWipe(h0, sizeof h0);

    // The segments of one slice depend only on earlier slices, so running
    // the lanes one after another gives the parallel result.
    for (uint32_t pass = 0; pass < passes; ++pass)
        for (uint32_t slice = 0; slice < kSlices; ++slice)
            for (uint32_t lane = 0; lane < lanes; ++lane)
                FillSegment(in, pass, slice, lane);

    // The tag: H' of the XOR of every lane's last block.
    Block* last = memory.pending;
    std::memcpy(last->v, in.blocks[laneLength - 1].v, kBlockBytes);
    for (uint32_t lane = 1; lane < lanes; ++lane) {
        const Block& b = in.blocks[size_t(lane) * laneLength + laneLength - 1];
        for (uint32_t i = 0; i < kBlockWords; ++i)
            last->v[i] ^= b.v[i];
    }
    StoreBlock(bytes, last);
    VariableHash(tag.Data(), tagLength, {{bytes, sizeof bytes}});
    SecureWipe(bytes, sizeof bytes);
    return tag;
}

XBlob Argon2VariableHash(const XBlob& input, uint32_t length)
{
    if (length < 1)
        throw std::invalid_argument("Argon2 H': length must be at least 1 byte");
    XBlob out(length);
    out.SetLength(length);
    VariableHash(out.Data(), length, {{input.Data(), input.Length()}});
    return out;
}

bool Argon2EngineAvailable(Argon2Engine engine)
{
    return Available(engine);
}

Argon2Engine Argon2ActiveEngine()
{
    return ActiveEngine();
}

bool Argon2SelectEngine(Argon2Engine engine)
{
    if (!Available(engine))
        return false;
    g_engine.store(int(engine), std::memory_order_relaxed);
    return true;
}
