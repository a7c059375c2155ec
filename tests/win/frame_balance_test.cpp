// The method frame around the Misc packing methods, observed through a blob
// double that counts Lock, Unlock and references: every path leaves each blob
// unlocked as often as it was locked, gives back every reference it took, and
// hands out no blob when it fails.
#include "support.h"

#include <functional>

using namespace zeltest;

namespace {

class FrameBalance : public testing::Test {
protected:
    void SetUp() override
    {
        misc = NewMisc();
        ClearErrorRecord();
    }

    ComPtr<IZELCryptoMisc> misc;
};

// One call per frame path, with the source a blob double.
struct PathCase {
    const char* name;
    const char* start;     // the double's bytes
    HRESULT getBuffer;     // what its GetBuffer answers
    HRESULT expected;
    const char* after;     // the double's bytes afterwards
    std::function<HRESULT(IZELCryptoMisc*, IDispatch*)> call;
};

HRESULT ExtractBlobHandingOutNothingOnFailure(IZELCryptoMisc* misc, IDispatch* src, LONG pos)
{
    FakeBlob sentinel;
    IDispatch* out = &sentinel;
    const HRESULT hr = misc->ExtractBlobFromBlob(src, pos, &out);
    if (FAILED(hr)) {
        EXPECT_EQ(out, nullptr) << "a failed call handed out a blob";
        EXPECT_EQ(sentinel.Refs(), 1) << "the previous value of the out pointer was touched";
    } else if (out) {
        out->Release();
    }
    return hr;
}

TEST_F(FrameBalance, EveryPathUnlocksAndReleasesTheSource)
{
    const PathCase cases[] = {
        {"InsertLong success", "aabb", S_OK, S_OK, "aa01020304bb",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertLongToBlob(s, 1, 0x01020304); }},
        {"InsertLong bad position", "aabb", S_OK, E_INVALIDARG, "aabb",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertLongToBlob(s, 3, 1); }},
        {"InsertLong GetBuffer fails", "aabb", E_ACCESSDENIED, E_ACCESSDENIED, "aabb",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertLongToBlob(s, 0, 1); }},
        {"ExtractLong success", "0102030405", S_OK, S_OK, "05",
         [](IZELCryptoMisc* m, IDispatch* s) {
             LONG v = 0;
             const HRESULT hr = m->ExtractLongFromBlob(s, 0, &v);
             EXPECT_EQ(v, 0x01020304);
             return hr;
         }},
        {"ExtractLong short read", "010203", S_OK, E_INVALIDARG, "010203",
         [](IZELCryptoMisc* m, IDispatch* s) {
             LONG v = 0;
             return m->ExtractLongFromBlob(s, 0, &v);
         }},
        {"ExtractLong GetBuffer fails", "01020304", E_OUTOFMEMORY, E_OUTOFMEMORY, "01020304",
         [](IZELCryptoMisc* m, IDispatch* s) {
             LONG v = 0;
             return m->ExtractLongFromBlob(s, 0, &v);
         }},
        {"ExtractBlob success", "0000000141ff", S_OK, S_OK, "ff",
         [](IZELCryptoMisc* m, IDispatch* s) { return ExtractBlobHandingOutNothingOnFailure(m, s, 0); }},
        {"ExtractBlob bad position", "00000000", S_OK, E_INVALIDARG, "00000000",
         [](IZELCryptoMisc* m, IDispatch* s) { return ExtractBlobHandingOutNothingOnFailure(m, s, -1); }},
        {"ExtractBlob alarm", "0000000541", S_OK, E_FAIL, "0000000541",
         [](IZELCryptoMisc* m, IDispatch* s) { return ExtractBlobHandingOutNothingOnFailure(m, s, 0); }},
        {"ExtractBlob GetBuffer fails", "00000000", E_ACCESSDENIED, E_ACCESSDENIED, "00000000",
         [](IZELCryptoMisc* m, IDispatch* s) { return ExtractBlobHandingOutNothingOnFailure(m, s, 0); }},
        {"InsertBlob of itself", "0102", S_OK, S_OK, "0000000201020102",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertBlobToBlob(s, 0, s); }},
        {"InsertBlob of itself, bad position", "0102", S_OK, E_INVALIDARG, "0102",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertBlobToBlob(s, -1, s); }},
        {"InsertBlob of itself, GetBuffer fails", "0102", E_ACCESSDENIED, E_ACCESSDENIED, "0102",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertBlobToBlob(s, 0, s); }},
        {"InsertBlob, second argument not a blob", "0102", S_OK, E_FAIL, "0102",
         [](IZELCryptoMisc* m, IDispatch* s) {
             FakeDispatch other;
             const HRESULT hr = m->InsertBlobToBlob(s, 0, &other);
             EXPECT_EQ(other.Refs(), 1);
             return hr;
         }},
        {"InsertBlob, second argument null", "0102", S_OK, E_FAIL, "0102",
         [](IZELCryptoMisc* m, IDispatch* s) { return m->InsertBlobToBlob(s, 0, nullptr); }},
    };
    for (const PathCase& c : cases) {
        SCOPED_TRACE(c.name);
        FakeBlob blob(c.start);
        blob.getBufferResult = c.getBuffer;
        ClearErrorRecord();
        EXPECT_HR(c.expected, c.call(misc.Get(), static_cast<IDispatch*>(&blob)));
        EXPECT_TRUE(Balanced(blob));
        EXPECT_EQ(HexOf(blob.buffer), c.after);
        // Only the alarm and the argument check leave a record.
        EXPECT_EQ(TakeErrorRecord().present, c.expected == E_FAIL);
    }
}

// A failed GetBuffer is handed back as it is, without an error record.
TEST_F(FrameBalance, GetBufferFailureIsReturnedWithoutRecord)
{
    FakeBlob blob("00");
    blob.getBufferResult = HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE);
    EXPECT_HR(HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), misc->InsertLongToBlob(&blob, 0, 1));
    EXPECT_FALSE(TakeErrorRecord().present);
    EXPECT_TRUE(Balanced(blob));
}

// A blob that claims success but hands out no buffer must not be written
// through; the call fails and stays balanced.
TEST_F(FrameBalance, NullBufferIsAFailure)
{
    FakeBlob blob("00");
    blob.handOutNull = true;
    EXPECT_TRUE(FAILED(misc->InsertLongToBlob(&blob, 0, 1)));
    EXPECT_TRUE(Balanced(blob));
    EXPECT_EQ(HexOf(blob.buffer), "00");
}

// Two different doubles in InsertBlobToBlob: both locked and unlocked once,
// the second read but not changed.
TEST_F(FrameBalance, TwoBlobsAreBothBalanced)
{
    FakeBlob target("aabb");
    FakeBlob value("0102");
    ASSERT_HR(S_OK, misc->InsertBlobToBlob(&target, 1, &value));
    EXPECT_EQ(HexOf(target.buffer), "aa000000020102bb");
    EXPECT_EQ(HexOf(value.buffer), "0102");
    EXPECT_EQ(target.locks, 1);
    EXPECT_EQ(value.locks, 1);
    EXPECT_TRUE(Balanced(target));
    EXPECT_TRUE(Balanced(value));

    // The second argument's buffer fails: the first one is unlocked as well.
    value.getBufferResult = E_ACCESSDENIED;
    EXPECT_HR(E_ACCESSDENIED, misc->InsertBlobToBlob(&target, 0, &value));
    EXPECT_TRUE(Balanced(target));
    EXPECT_TRUE(Balanced(value));
    EXPECT_EQ(HexOf(target.buffer), "aa000000020102bb");

    // The first argument is not a blob: the second is never locked.
    FakeDispatch other;
    EXPECT_HR(E_FAIL, misc->InsertBlobToBlob(&other, 0, &value));
    EXPECT_EQ(value.locks, value.unlocks);
    EXPECT_TRUE(Balanced(value));
    EXPECT_EQ(other.Refs(), 1);
}

// A blob component may hand over an empty buffer with no storage at all; the
// server grows it from nothing.
TEST_F(FrameBalance, BufferWithoutStorageGrows)
{
    FakeBlob blob;
    blob.buffer = XBlob(0);
    ASSERT_HR(S_OK, misc->InsertLongToBlob(&blob, 0, -2));
    EXPECT_EQ(HexOf(blob.buffer), "fffffffe");

    FakeBlob itemTarget;
    itemTarget.buffer = XBlob(0);
    FakeBlob empty;
    empty.buffer = XBlob(0);
    ASSERT_HR(S_OK, misc->InsertBlobToBlob(&itemTarget, 0, &empty));
    EXPECT_EQ(HexOf(itemTarget.buffer), "00000000");
    EXPECT_TRUE(Balanced(blob));
    EXPECT_TRUE(Balanced(itemTarget));
    EXPECT_TRUE(Balanced(empty));
}

// The extracted item lands in a new blob of zelblob.dll, whatever the source.
TEST_F(FrameBalance, ExtractedItemIsANewRealBlob)
{
    FakeBlob blob("00000003616263");
    IDispatch* raw = nullptr;
    ASSERT_HR(S_OK, misc->ExtractBlobFromBlob(&blob, 0, &raw));
    auto extracted = ComPtr<IDispatch>::Attach(raw);
    EXPECT_EQ(HexOf(extracted.Get()), L"616263");
    EXPECT_EQ(HexOf(blob.buffer), "");
    EXPECT_TRUE(Balanced(blob));
}

} // namespace
