// XBlob: contents, the growth rules (observable through Capacity(), and part
// of the binary contract with the blob component), aliasing, and the
// length-prefixed item reader and writer.
#include "core/xblob.h"

#include "test_support.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using namespace test_support;

// The blob component shares this layout: three fields, no vtable.
static_assert(std::is_standard_layout<XBlob>::value, "XBlob must stay standard-layout");
static_assert(sizeof(XBlob) == sizeof(void*) + 2 * sizeof(uint32_t), "XBlob must hold data, capacity, length only");

// A buffer of exactly `capacity` bytes holding `bytes`.  Filled through
// SetLength within the capacity and direct writes, so that building a fixture
// does not itself go through the growth rules being tested.
XBlob Make(const Bytes& bytes, uint32_t capacity)
{
    XBlob b(capacity);
    b.SetLength(uint32_t(bytes.size()));
    if (!bytes.empty())
        std::memcpy(b.Data(), bytes.data(), bytes.size());
    return b;
}

XBlob Make(const std::string& s, uint32_t capacity = XBlob::kInitialCapacity)
{
    return Make(TextBytes(s), std::max<uint32_t>(capacity, uint32_t(s.size())));
}

// The reference for every byte-wise append: one AppendByte per byte.
void AppendOneByOne(XBlob& b, const uint8_t* p, uint32_t count)
{
    for (uint32_t i = 0; i < count; ++i)
        b.AppendByte(p[i]);
}

// ---------------------------------------------------------------------------
// Construction, copies and moves

TEST(XBlobLifetime, NewBufferIsEmptyWithSixteenBytes)
{
    XBlob b;
    EXPECT_EQ(b.Length(), 0u);
    EXPECT_EQ(b.Capacity(), 16u);
    EXPECT_NE(b.Data(), nullptr);

    XBlob sized(100);
    EXPECT_EQ(sized.Length(), 0u);
    EXPECT_EQ(sized.Capacity(), 100u);

    XBlob none(0);
    EXPECT_EQ(none.Length(), 0u);
    EXPECT_EQ(none.Capacity(), 0u);
}

TEST(XBlobLifetime, CopyTakesSourceCapacityAndOwnsItsBytes)
{
    auto source = std::make_unique<XBlob>(Make("abc", 100));
    XBlob copy(*source);
    EXPECT_EQ(copy.Capacity(), 100u);
    EXPECT_EQ(Content(copy), TextBytes("abc"));
    EXPECT_NE(copy.Data(), source->Data());

    copy.At(0) = 'X';
    EXPECT_EQ(Content(*source), TextBytes("abc"));
    source.reset();
    EXPECT_EQ(Content(copy), TextBytes("Xbc"));
}

TEST(XBlobLifetime, CopyOfZeroCapacityBufferStaysUsable)
{
    const XBlob empty = XBlob::Xor(XBlob(), XBlob());
    XBlob copy(empty);
    EXPECT_EQ(copy.Capacity(), 0u);
    EXPECT_EQ(copy.Length(), 0u);
    copy.AppendByte(7);
    EXPECT_EQ(Content(copy), Bytes({7}));
}

// Copy assignment replaces the contents but keeps (and grows, by the Insert
// rule) the destination's own storage, exactly like Assign.
TEST(XBlobLifetime, CopyAssignmentBehavesLikeAssign)
{
    struct Case {
        std::string dest;
        uint32_t dest_capacity;
        std::string source;
        uint32_t source_capacity;
        uint32_t capacity; // expected afterwards
    };
    const Case cases[] = {
        {"0123456789", 64, "abc", 16, 64},                     // fits: storage kept, not the source's 16
        {"xy", 16, "0123456789abcdef", 16, 32},                // exactly full: grows by the source's capacity
        {"xy", 16, "0123456789abcdefghij", 100, 116},          // grows by the source's capacity, not its length
        {"0123456789", 16, "", 16, 16},                        // empty source: contents cleared
        {"", 0, "abc", 5, 5},                                  // zero-capacity destination
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dest + " <- " + c.source);
        const XBlob source = Make(c.source, c.source_capacity);
        XBlob assigned = Make(c.dest, c.dest_capacity);
        XBlob via_assign = Make(c.dest, c.dest_capacity);
        assigned = source;
        via_assign.Assign(source);
        EXPECT_EQ(Content(assigned), TextBytes(c.source));
        EXPECT_EQ(assigned.Capacity(), c.capacity);
        EXPECT_EQ(Content(via_assign), TextBytes(c.source));
        EXPECT_EQ(via_assign.Capacity(), c.capacity);
        EXPECT_NE(assigned.Data(), source.Data());
    }
}

TEST(XBlobLifetime, SelfAssignmentKeepsContents)
{
    XBlob b = Make("abcdef", 16);
    XBlob& alias = b;
    b = alias;
    EXPECT_EQ(Content(b), TextBytes("abcdef"));
    b.Assign(b);
    EXPECT_EQ(Content(b), TextBytes("abcdef"));
    EXPECT_EQ(b.Capacity(), 16u);
}

TEST(XBlobLifetime, MoveConstructionTakesTheArray)
{
    XBlob source = Make("abc", 40);
    const uint8_t* array = source.Data();
    XBlob moved(std::move(source));
    EXPECT_EQ(moved.Data(), array);
    EXPECT_EQ(moved.Capacity(), 40u);
    EXPECT_EQ(Content(moved), TextBytes("abc"));
    EXPECT_EQ(source.Length(), 0u); // NOLINT(bugprone-use-after-move): moved-from state is part of the contract
}

// A moved-from buffer is empty with capacity 0 and must take part in every
// operation like any other empty buffer.
TEST(XBlobLifetime, MovedFromBufferIsAnUsableEmptyBuffer)
{
    XBlob source = Make("abc", 16);
    XBlob taker(std::move(source));
    XBlob& empty = source; // NOLINT(bugprone-use-after-move)
    EXPECT_EQ(empty.Length(), 0u);
    EXPECT_EQ(empty.Capacity(), 0u);

    // As an operand.
    XBlob target = Make("xyz", 16);
    target.Insert(empty, 1);
    target.Insert(empty, 3);
    target.Append(empty);
    EXPECT_EQ(Content(target), TextBytes("xyz"));
    target.AppendItem(empty);
    EXPECT_EQ(Content(target), TextBytes(std::string("xyz\0\0\0\0", 7)));
    EXPECT_TRUE(XBlob(empty) == XBlob());
    EXPECT_EQ(Content(XBlob::Xor(empty, Make("ab"))), TextBytes("ab"));
    XBlob out = Make("junk");
    EXPECT_THROW(empty.ExtractItem(0, out), XCryptoAlarm);
    EXPECT_EQ(out.Length(), 0u);

    // As the buffer operated on.
    empty.Erase(0, 0);
    empty.Erase(0, 5);
    empty.Clear();
    empty.SetLength(0);
    EXPECT_EQ(empty.Length(), 0u);
    empty.Append(Make("hello"));
    EXPECT_EQ(Content(empty), TextBytes("hello"));
}

TEST(XBlobLifetime, MoveAssignmentTakesTheArrayAndReleasesItsOwn)
{
    XBlob source = Make("abc", 40);
    const uint8_t* array = source.Data();
    XBlob target = Make("old contents", 16);
    target = std::move(source);
    EXPECT_EQ(target.Data(), array);
    EXPECT_EQ(target.Capacity(), 40u);
    EXPECT_EQ(Content(target), TextBytes("abc"));
    EXPECT_EQ(source.Length(), 0u); // NOLINT(bugprone-use-after-move)

    XBlob& alias = target;
    target = std::move(alias);
    EXPECT_EQ(target.Data(), array);
    EXPECT_EQ(Content(target), TextBytes("abc"));
}

// ---------------------------------------------------------------------------
// Growth by single bytes

TEST(XBlobGrowth, SingleByteAppendsDoubleTheCapacityWhenFull)
{
    struct Case {
        uint32_t initial;
        uint32_t appends;
        uint32_t capacity;
    };
    const Case cases[] = {
        {16, 16, 16}, {16, 17, 32}, {16, 32, 32}, {16, 33, 64}, {16, 100, 128},
        {1, 1, 1},    {1, 2, 2},    {1, 3, 4},    {1, 5, 8},    {3, 4, 6},
        {3, 7, 12},   {0, 1, 16},   {0, 17, 32},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("initial " + std::to_string(c.initial) + ", appends " + std::to_string(c.appends));
        XBlob b(c.initial);
        Bytes expected;
        for (uint32_t i = 0; i < c.appends; ++i) {
            b.AppendByte(uint8_t(i * 7 + 1));
            expected.push_back(uint8_t(i * 7 + 1));
        }
        EXPECT_EQ(b.Capacity(), c.capacity);
        EXPECT_EQ(Content(b), expected);
    }
}

TEST(XBlobGrowth, InsertByteAtAnyPosition)
{
    struct Case {
        uint32_t pos;
        std::string expected;
    };
    const Case cases[] = {{0, "xabc"}, {1, "axbc"}, {2, "abxc"}, {3, "abcx"}, {4, "abcx"}, {UINT32_MAX, "abcx"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pos);
        XBlob b = Make("abc");
        b.InsertByte('x', c.pos);
        EXPECT_EQ(Content(b), TextBytes(c.expected));
        EXPECT_EQ(b.Capacity(), 16u);
    }
}

TEST(XBlobGrowth, InsertByteIntoFullBufferGrowsThenShifts)
{
    XBlob b = Make("0123456789abcdef", 16);
    b.InsertByte('X', 0);
    EXPECT_EQ(b.Capacity(), 32u);
    EXPECT_EQ(Content(b), TextBytes("X0123456789abcdef"));

    XBlob none(0);
    none.InsertByte('Y', 5);
    EXPECT_EQ(none.Capacity(), 16u);
    EXPECT_EQ(Content(none), TextBytes("Y"));
}

TEST(XBlobGrowth, GrowAddsExactlyTheExtraAndKeepsBytes)
{
    XBlob b = Make("abc", 16);
    b.Grow(10);
    EXPECT_EQ(b.Capacity(), 26u);
    EXPECT_EQ(Content(b), TextBytes("abc"));
    b.Grow(0);
    EXPECT_EQ(b.Capacity(), 26u);
    EXPECT_EQ(Content(b), TextBytes("abc"));
}

TEST(XBlobGrowth, GrowingPastFourGiBThrowsBeforeTouchingTheBuffer)
{
    XBlob b = Make("abc", 16);
    const uint8_t* array = b.Data();
    EXPECT_THROW(b.Grow(UINT32_MAX), std::bad_alloc);
    EXPECT_THROW(b.Grow(UINT32_MAX - 15), std::bad_alloc); // exactly 2^32
    EXPECT_EQ(b.Capacity(), 16u);
    EXPECT_EQ(b.Data(), array);
    EXPECT_EQ(Content(b), TextBytes("abc"));
}

// ---------------------------------------------------------------------------
// Insert, Append, Assign

TEST(XBlobInsert, PlacesTheOtherBytesAtThePosition)
{
    struct Case {
        uint32_t pos;
        std::string expected;
    };
    const Case cases[] = {
        {0, "XYabcdef"}, {3, "abcXYdef"}, {5, "abcdeXYf"}, {6, "abcdefXY"}, {7, "abcdefXY"}, {UINT32_MAX, "abcdefXY"},
    };
    const XBlob other = Make("XY");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.pos);
        XBlob b = Make("abcdef");
        b.Insert(other, c.pos);
        EXPECT_EQ(Content(b), TextBytes(c.expected));
    }
    EXPECT_EQ(Content(other), TextBytes("XY"));

    XBlob b = Make("abc");
    b.Append(Make("de"));
    EXPECT_EQ(Content(b), TextBytes("abcde"));
}

// Growth is by the other buffer's capacity whenever the result would reach
// (not only pass) this buffer's capacity.
TEST(XBlobInsert, GrowsByTheOtherCapacityWhenTheResultWouldFillTheBuffer)
{
    struct Case {
        uint32_t capacity;
        uint32_t length;
        uint32_t other_capacity;
        uint32_t other_length;
        uint32_t expected_capacity;
    };
    const Case cases[] = {
        {16, 10, 16, 5, 16},   // 15 < 16: no growth
        {16, 10, 16, 6, 32},   // exactly full: grows
        {16, 10, 100, 6, 116}, // by the other's capacity, not its length
        {8, 4, 40, 30, 48},
        {16, 16, 16, 0, 32}, // empty other into a full buffer still grows
        {16, 3, 16, 0, 16},
        {16, 16, 0, 0, 16}, // a zero-capacity other grows by nothing
        {0, 0, 5, 5, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("capacity " + std::to_string(c.capacity) + " length " + std::to_string(c.length) +
                     " other capacity " + std::to_string(c.other_capacity) + " length " +
                     std::to_string(c.other_length));
        Bytes mine(c.length), theirs(c.other_length);
        for (size_t i = 0; i < mine.size(); ++i)
            mine[i] = uint8_t('a' + i % 26);
        for (size_t i = 0; i < theirs.size(); ++i)
            theirs[i] = uint8_t('A' + i % 26);
        XBlob b = Make(mine, c.capacity);
        const XBlob other = Make(theirs, c.other_capacity);
        b.Insert(other, 2);

        Bytes expected = mine;
        expected.insert(expected.begin() + std::min<size_t>(2, mine.size()), theirs.begin(), theirs.end());
        EXPECT_EQ(b.Capacity(), c.expected_capacity);
        EXPECT_EQ(Content(b), expected);
    }
}

TEST(XBlobInsert, EmptyOtherLeavesContentsUnchangedAtAnyPosition)
{
    for (uint32_t pos : {0u, 1u, 3u, 4u, 100u}) {
        SCOPED_TRACE(pos);
        XBlob b = Make("abcd", 8);
        b.Insert(XBlob(), pos);
        EXPECT_EQ(Content(b), TextBytes("abcd"));
        b.Insert(XBlob::Xor(XBlob(), XBlob()), pos);
        EXPECT_EQ(Content(b), TextBytes("abcd"));
    }
}

TEST(XBlobInsert, InsertingABufferIntoItself)
{
    struct Case {
        std::string start;
        uint32_t capacity;
        uint32_t pos;
        std::string expected;
        uint32_t expected_capacity;
    };
    const Case cases[] = {
        {"abcd", 16, 0, "abcdabcd", 16},
        {"abcd", 16, 2, "ababcdcd", 16},
        {"abcd", 16, 4, "abcdabcd", 16},
        {"abcdefgh", 16, 3, "abcabcdefghdefgh", 32},                       // exactly full: grows by its own capacity
        {"0123456789abcdef", 16, 8, "012345670123456789abcdef89abcdef", 32}, // full before: grows, copies from the old bytes
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.start + " at " + std::to_string(c.pos));
        XBlob b = Make(c.start, c.capacity);
        b.Insert(b, c.pos);
        EXPECT_EQ(Content(b), TextBytes(c.expected));
        EXPECT_EQ(b.Capacity(), c.expected_capacity);
    }
    XBlob b = Make("0123456789abcdef", 16);
    b.Append(b);
    EXPECT_EQ(Content(b), TextBytes("0123456789abcdef0123456789abcdef"));
}

TEST(XBlobInsert, AssignReusesStorageAndGrowsOnlyWhenNeeded)
{
    XBlob b = Make("0123456789", 64);
    const uint8_t* array = b.Data();
    b.Assign(Make("ab"));
    EXPECT_EQ(Content(b), TextBytes("ab"));
    EXPECT_EQ(b.Capacity(), 64u);
    EXPECT_EQ(b.Data(), array);

    b.Assign(XBlob());
    EXPECT_EQ(b.Length(), 0u);
    EXPECT_EQ(b.Capacity(), 64u);
}

// ---------------------------------------------------------------------------
// Erase, SetLength, Clear

TEST(XBlobShape, EraseClampsToTheEndAndKeepsCapacity)
{
    struct Case {
        uint32_t pos;
        uint32_t count;
        std::string expected;
    };
    const Case cases[] = {
        {0, 2, "cdefgh"}, {3, 2, "abcfgh"},      {6, 2, "abcdef"},        {6, 10, "abcdef"},
        {5, UINT32_MAX, "abcde"}, {8, 3, "abcdefgh"}, {8, UINT32_MAX, "abcdefgh"}, {2, 0, "abcdefgh"},
        {0, 8, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pos) + "," + std::to_string(c.count));
        XBlob b = Make("abcdefgh", 16);
        b.Erase(c.pos, c.count);
        EXPECT_EQ(Content(b), TextBytes(c.expected));
        EXPECT_EQ(b.Capacity(), 16u);
    }
}

TEST(XBlobShape, SetLengthGrowsToExactlyTheLengthAndKeepsBytes)
{
    XBlob b = Make("abc", 16);
    b.SetLength(17);
    EXPECT_EQ(b.Capacity(), 17u); // exact, not doubled
    EXPECT_EQ(b.Length(), 17u);
    EXPECT_EQ(Bytes(b.Data(), b.Data() + 3), TextBytes("abc"));

    b.SetLength(40);
    EXPECT_EQ(b.Capacity(), 40u);
    EXPECT_EQ(Bytes(b.Data(), b.Data() + 3), TextBytes("abc"));

    // Within the capacity: no reallocation, bytes kept.
    const uint8_t* array = b.Data();
    b.SetLength(2);
    EXPECT_EQ(b.Capacity(), 40u);
    EXPECT_EQ(b.Data(), array);
    EXPECT_EQ(Content(b), TextBytes("ab"));
    b.SetLength(40);
    EXPECT_EQ(b.Capacity(), 40u);
    EXPECT_EQ(b.Data(), array);

    // Filling through At after SetLength is how callers build buffers.
    XBlob filled(0);
    filled.SetLength(3);
    filled.At(0) = 1;
    filled.At(1) = 2;
    filled.At(2) = 3;
    EXPECT_EQ(Content(filled), Bytes({1, 2, 3}));
    EXPECT_EQ(filled.Capacity(), 3u);
}

TEST(XBlobShape, ClearKeepsStorage)
{
    XBlob b = Make("abcdef", 40);
    const uint8_t* array = b.Data();
    b.Clear();
    EXPECT_EQ(b.Length(), 0u);
    EXPECT_EQ(b.Capacity(), 40u);
    EXPECT_EQ(b.Data(), array);
}

// ---------------------------------------------------------------------------
// Byte-wise appends from ranges and plain memory

TEST(XBlobBytes, CopyRangeAppendsTheClampedRange)
{
    struct Case {
        uint32_t pos;
        uint32_t count;
        std::string expected;
    };
    const Case cases[] = {
        {0, 3, "XYabc"},      {5, 3, "XYfgh"},     {5, 10, "XYfgh"}, {2, UINT32_MAX, "XYcdefgh"},
        {7, UINT32_MAX, "XYh"}, {8, 1, "XY"},       {100, 5, "XY"},   {3, 0, "XY"},
        {UINT32_MAX, UINT32_MAX, "XY"},
    };
    const XBlob source = Make("abcdefgh");
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.pos) + "," + std::to_string(c.count));
        XBlob dest = Make("XY");
        source.CopyRange(dest, c.pos, c.count);
        EXPECT_EQ(Content(dest), TextBytes(c.expected));
    }
    EXPECT_EQ(Content(source), TextBytes("abcdefgh"));
}

TEST(XBlobBytes, CopyRangeIntoItsOwnBuffer)
{
    XBlob b = Make("0123456789abcdef", 16);
    b.CopyRange(b, 4, 6);
    EXPECT_EQ(Content(b), TextBytes("0123456789abcdef456789"));
    EXPECT_EQ(b.Capacity(), 32u);
}

// AppendBytes and CopyRange may allocate once, but must end with the capacity
// that one AppendByte per byte would have reached.
TEST(XBlobBytes, ByteWiseAppendsReachTheSameCapacityAsSingleAppends)
{
    Bytes source(200);
    for (size_t i = 0; i < source.size(); ++i)
        source[i] = uint8_t(i * 13 + 5);

    for (uint32_t capacity : {0u, 1u, 3u, 16u, 20u}) {
        for (uint32_t length : {0u, capacity / 2, capacity}) {
            for (uint32_t count : {0u, 1u, 2u, 15u, 16u, 17u, 33u, 100u, 200u}) {
                SCOPED_TRACE("capacity " + std::to_string(capacity) + " length " + std::to_string(length) +
                             " count " + std::to_string(count));
                const Bytes start(source.rbegin(), source.rbegin() + length);
                XBlob reference = Make(start, capacity);
                AppendOneByOne(reference, source.data(), count);

                XBlob bytes = Make(start, capacity);
                bytes.AppendBytes(source.data(), count);
                EXPECT_EQ(bytes.Capacity(), reference.Capacity());
                EXPECT_EQ(Content(bytes), Content(reference));

                XBlob ranged = Make(start, capacity);
                Make(source, 200).CopyRange(ranged, 0, count);
                EXPECT_EQ(ranged.Capacity(), reference.Capacity());
                EXPECT_EQ(Content(ranged), Content(reference));
            }
        }
    }
}

TEST(XBlobBytes, AppendBytesFromItsOwnStorage)
{
    XBlob b = Make("0123456789abcdef", 16);
    b.AppendBytes(b.Data() + 2, 10);
    EXPECT_EQ(Content(b), TextBytes("0123456789abcdef23456789ab"));
    EXPECT_EQ(b.Capacity(), 32u);

    b.AppendBytes(nullptr, 0);
    EXPECT_EQ(b.Length(), 26u);
}

TEST(XBlobBytes, AppendBytesPastFourGiBThrowsBeforeReadingTheSource)
{
    const uint8_t source[4] = {1, 2, 3, 4};

    // Doubling 16 up to the needed 2^32 - 1 bytes would need a 2^32 capacity.
    XBlob empty = Make("", 16);
    EXPECT_THROW(empty.AppendBytes(source, UINT32_MAX), std::bad_alloc);
    EXPECT_EQ(empty.Length(), 0u);
    EXPECT_EQ(empty.Capacity(), 16u);

    // The length itself would pass 2^32 - 1.
    XBlob one = Make("a", 16);
    EXPECT_THROW(one.AppendBytes(source, UINT32_MAX), std::bad_alloc);
    EXPECT_EQ(Content(one), TextBytes("a"));
    EXPECT_EQ(one.Capacity(), 16u);
}

TEST(XBlobBytes, CopyOutCopiesExactlyTheRange)
{
    const XBlob b = Make("abcdef");
    char target[8];
    std::memset(target, '#', sizeof target);
    b.CopyOut(target, 3, 2);
    EXPECT_EQ(std::string(target, 8), "cde#####");
    b.CopyOut(target, 0, 6);
    EXPECT_EQ(std::string(target, 8), "cde#####");
}

TEST(XBlobBytes, AssignTextReplacesContentsWithoutTerminator)
{
    XBlob b = Make("previous and longer contents", 32);
    b.AssignText("hello");
    EXPECT_EQ(Content(b), TextBytes("hello"));
    EXPECT_EQ(b.Capacity(), 32u);
    b.AssignText("");
    EXPECT_EQ(b.Length(), 0u);

    const std::string forty(40, 'q');
    XBlob grown;
    grown.AssignText(forty.c_str());
    EXPECT_EQ(Content(grown), TextBytes(forty));
    EXPECT_EQ(grown.Capacity(), 64u); // 16 -> 32 -> 64, as single appends
}

// ---------------------------------------------------------------------------
// Comparison

TEST(XBlobCompare, EqualityLooksAtUsedBytesOnly)
{
    struct Case {
        XBlob a;
        XBlob b;
        bool equal;
        const char* what;
    };
    XBlob trimmed_a = Make("abcX", 16);
    XBlob trimmed_b = Make("abcY", 16);
    trimmed_a.SetLength(3);
    trimmed_b.SetLength(3);
    Case cases[] = {
        {Make("abc", 16), Make("abc", 200), true, "same bytes, different capacities"},
        {std::move(trimmed_a), std::move(trimmed_b), true, "different bytes past the length"},
        {XBlob(0), XBlob(), true, "both empty"},
        {Make("abc"), Make("ab"), false, "prefix"},
        {Make("abc"), Make("abd"), false, "last byte"},
        {Make("abc"), Make("xbc"), false, "first byte"},
        {Make(""), Make("a"), false, "empty against one byte"},
        {Make("ab\x81" "cd"), Make("ab\x01" "cd"), false, "only the top bit of a middle byte"},
        {Make("abc\x03"), Make("abc\x02"), false, "only the lowest bit of the last byte"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(c.a.Equals(c.b), c.equal);
        EXPECT_EQ(c.b.Equals(c.a), c.equal);
        EXPECT_EQ(c.a == c.b, c.equal);
        EXPECT_EQ(c.a != c.b, !c.equal);
        // The comparison for secrets gives the same answers.
        EXPECT_EQ(c.a.ConstantTimeEquals(c.b), c.equal);
        EXPECT_EQ(c.b.ConstantTimeEquals(c.a), c.equal);
    }
    // A buffer given up by a move holds no array at all.
    XBlob source = Make("abc");
    XBlob taken(std::move(source));
    EXPECT_TRUE(source.ConstantTimeEquals(XBlob()));
    EXPECT_FALSE(source.ConstantTimeEquals(taken));
}

// ---------------------------------------------------------------------------
// Big-endian numbers and length-prefixed items

TEST(XBlobItems, AppendLongWritesMostSignificantByteFirst)
{
    XBlob b = Make("x");
    b.AppendLong(0x01020304);
    EXPECT_EQ(Content(b), Bytes({'x', 0x01, 0x02, 0x03, 0x04}));
}

TEST(XBlobItems, ReadLongReadsBigEndianAtAnyOffset)
{
    const XBlob b = Make(Bytes({0xAA, 0x80, 0x00, 0x00, 0x01, 0xFF, 0xFF, 0xFF, 0xFF}), 16);
    EXPECT_EQ(b.ReadLong(1), 0x80000001u);
    EXPECT_EQ(b.ReadLong(5), 0xFFFFFFFFu);
    EXPECT_EQ(b.ReadLong(0), 0xAA800000u);

    XBlob round;
    const uint32_t values[] = {0, 1, 0x7F, 0x80, 0xFF, 0x100, 0x12345678, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF};
    for (uint32_t v : values)
        round.AppendLong(v);
    for (size_t i = 0; i < sizeof values / sizeof values[0]; ++i)
        EXPECT_EQ(round.ReadLong(uint32_t(i * 4)), values[i]) << i;
}

TEST(XBlobItems, AppendItemWritesLengthThenPayload)
{
    XBlob b;
    b.AppendItem(Make("ABC"));
    b.AppendItem(XBlob());
    EXPECT_EQ(Content(b), Bytes({0, 0, 0, 3, 'A', 'B', 'C', 0, 0, 0, 0}));

    XBlob self = Make("abc");
    self.AppendItem(self);
    EXPECT_EQ(Content(self), Bytes({'a', 'b', 'c', 0, 0, 0, 3, 'a', 'b', 'c'}));
}

TEST(XBlobItems, ExtractItemReadsOneItemAndReturnsTheNextPosition)
{
    struct Case {
        Bytes bytes;
        uint32_t pos;
        std::string payload;
        uint32_t next;
    };
    const Case cases[] = {
        {{0, 0, 0, 3, 'A', 'B', 'C'}, 0, "ABC", 7},
        {{0, 0, 0, 2, 'A', 'B', 'C'}, 0, "AB", 6},
        {{0, 0, 0, 0}, 0, "", 4},
        {{'z', 'z', 0, 0, 0, 1, 'Q', 'r'}, 2, "Q", 7},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.payload);
        const XBlob b = Make(c.bytes, 16);
        XBlob out = Make("previous");
        EXPECT_EQ(b.ExtractItem(c.pos, out), c.next);
        EXPECT_EQ(Content(out), TextBytes(c.payload));
        EXPECT_EQ(Content(b), c.bytes);
    }
}

TEST(XBlobItems, ItemsRoundTripInSequence)
{
    const std::string payloads[] = {"first", "", std::string(300, 'z'), std::string("\0\xff\x01", 3)};
    XBlob packed;
    for (const std::string& p : payloads)
        packed.AppendItem(Make(p));

    uint32_t pos = 0;
    for (const std::string& p : payloads) {
        XBlob out;
        const uint32_t next = packed.ExtractItem(pos, out);
        EXPECT_EQ(Content(out), TextBytes(p));
        EXPECT_EQ(next, pos + 4 + p.size());
        pos = next;
    }
    EXPECT_EQ(pos, packed.Length());
    XBlob out;
    EXPECT_THROW(packed.ExtractItem(pos, out), XCryptoAlarm);
}

TEST(XBlobItems, ExtractedPayloadGrowsTheOutputByteWise)
{
    XBlob packed;
    packed.AppendItem(Make(std::string(17, 'p'), 17));
    XBlob out;
    packed.ExtractItem(0, out);
    EXPECT_EQ(out.Length(), 17u);
    EXPECT_EQ(out.Capacity(), 32u);
}

TEST(XBlobItems, MalformedItemRaisesDataCorruptedAndChangesNothing)
{
    struct Case {
        Bytes bytes;
        uint32_t pos;
        const char* what;
    };
    const Bytes abc = {0, 0, 0, 3, 'A', 'B', 'C'};
    const Case cases[] = {
        {{0, 0, 0, 4, 'A', 'B', 'C'}, 0, "one payload byte short"},
        {{0, 0, 0, 8, 'A', 'B', 'C'}, 0, "far too long"},
        {{0xFF, 0xFF, 0xFF, 0xFF, 'A'}, 0, "length that wraps the end position"},
        {{0xFF, 0xFF, 0xFF, 0xFC, 'A'}, 0, "length that wraps the end position to 0"},
        {abc, 1, "misaligned start"},
        {abc, 4, "three bytes left"},
        {abc, 5, "two bytes left"},
        {abc, 7, "position at the end"},
        {abc, 8, "position past the end"},
        {abc, UINT32_MAX, "position far past the end"},
        {{}, 0, "empty buffer"},
        {{0, 0, 0}, 0, "truncated length field"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        const XBlob b = Make(c.bytes, 16);
        XBlob out = Make("previous");
        EXPECT_TRUE(RaisesAlarm([&] { b.ExtractItem(c.pos, out); }, XMessage::kDataCorrupted, "XBlob"));
        EXPECT_EQ(out.Length(), 0u);
        EXPECT_EQ(Content(b), c.bytes);
        EXPECT_EQ(b.Capacity(), 16u);
    }
}

TEST(XBlobItems, ExtractItemIntoTheSameBuffer)
{
    XBlob b;
    b.AppendItem(Make("ABC"));
    b.AppendBytes("tail", 4);
    EXPECT_EQ(b.ExtractItem(0, b), 7u);
    EXPECT_EQ(Content(b), TextBytes("ABC"));

    XBlob bad = Make(Bytes({0, 0, 0, 9, 'A'}), 16);
    EXPECT_THROW(bad.ExtractItem(0, bad), XCryptoAlarm);
    EXPECT_EQ(Content(bad), Bytes({0, 0, 0, 9, 'A'}));
}

// ---------------------------------------------------------------------------
// Xor

TEST(XBlobXor, ShorterOperandCountsAsZeroBytes)
{
    const XBlob a = Make(Bytes({0x01, 0x02, 0x03}), 16);
    const XBlob b = Make(Bytes({0xFF}), 16);
    for (const XBlob* r : {&a, &b}) {
        const XBlob& first = *r;
        const XBlob& second = r == &a ? b : a;
        const XBlob x = XBlob::Xor(first, second);
        EXPECT_EQ(Content(x), Bytes({0xFE, 0x02, 0x03}));
        EXPECT_EQ(x.Capacity(), 3u);
    }
    EXPECT_EQ(Content(a), Bytes({0x01, 0x02, 0x03}));
    EXPECT_EQ(Content(b), Bytes({0xFF}));

    const XBlob same = XBlob::Xor(Make("abc", 200), Make("abc", 16));
    EXPECT_EQ(Content(same), Bytes({0, 0, 0}));
    EXPECT_EQ(same.Capacity(), 3u);
}

TEST(XBlobXor, TwoEmptyOperandsGiveAZeroCapacityBufferThatStillGrows)
{
    XBlob x = XBlob::Xor(XBlob(), XBlob(0));
    EXPECT_EQ(x.Length(), 0u);
    EXPECT_EQ(x.Capacity(), 0u);
    x.AppendByte(0x42);
    EXPECT_EQ(x.Capacity(), 16u);
    EXPECT_EQ(Content(x), Bytes({0x42}));
}

// ---------------------------------------------------------------------------
// Buffers of 2 GiB and more.  The arrays are allocated but never written, so
// they cost address space only; where the machine refuses even that, the
// tests are skipped.

class XBlobHuge : public ::testing::Test {
protected:
    static constexpr uint32_t kHalf = 0x80000000u; // 2^31

    // A buffer of `length` (and capacity `length`) untouched bytes.
    bool MakeHuge(XBlob& b, uint32_t length)
    {
        try {
            b.SetLength(length);
            return true;
        } catch (const std::bad_alloc&) {
            return false;
        }
    }
};

TEST_F(XBlobHuge, GrowthPastFourGiBThrowsAndLeavesTheBufferIntact)
{
    XBlob big(0);
    XBlob other(0);
    if (!MakeHuge(big, kHalf) || !MakeHuge(other, kHalf))
        GTEST_SKIP() << "cannot reserve 2 x 2 GiB of address space";
    const uint8_t* array = big.Data();

    // Length 2^31 + 2^31 does not fit in 32 bits.
    EXPECT_THROW(big.Insert(other, 0), std::bad_alloc);
    EXPECT_THROW(big.Append(other), std::bad_alloc);
    // Doubling a full 2^31 buffer would need a 2^32 capacity.
    EXPECT_THROW(big.AppendByte(1), std::bad_alloc);
    EXPECT_THROW(big.InsertByte(1, 0), std::bad_alloc);
    // An empty other: the contents would fit, the growth by its capacity would not.
    other.Clear();
    EXPECT_THROW(big.Insert(other, 0), std::bad_alloc);

    EXPECT_EQ(big.Length(), kHalf);
    EXPECT_EQ(big.Capacity(), kHalf);
    EXPECT_EQ(big.Data(), array);
}

} // namespace
