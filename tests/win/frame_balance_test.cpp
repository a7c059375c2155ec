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

TEST_F(FrameBalance, EveryPathUnlocksAndReleasesTheSource)
{
    IZELCryptoMisc* m = misc.Get();
    const BalanceMember insertLong{"InsertLongToBlob", [m](IDispatch* s, IDispatch*, IDispatch**) {
                                       return m->InsertLongToBlob(s, 1, 0x01020304);
                                   }};
    const BalanceMember insertLongAt3{"InsertLongToBlob at 3", [m](IDispatch* s, IDispatch*, IDispatch**) {
                                          return m->InsertLongToBlob(s, 3, 1);
                                      }};
    const BalanceMember extractLong{"ExtractLongFromBlob", [m](IDispatch* s, IDispatch*, IDispatch**) {
                                        LONG v = 0;
                                        const HRESULT hr = m->ExtractLongFromBlob(s, 0, &v);
                                        EXPECT_EQ(v, SUCCEEDED(hr) ? 0x01020304 : 0);
                                        return hr;
                                    }};
    const BalanceMember extractBlob{"ExtractBlobFromBlob",
                                    [m](IDispatch* s, IDispatch*, IDispatch** r) { return m->ExtractBlobFromBlob(s, 0, r); },
                                    false, true};
    const BalanceMember extractBlobAtMinus1{
        "ExtractBlobFromBlob at -1", [m](IDispatch* s, IDispatch*, IDispatch** r) { return m->ExtractBlobFromBlob(s, -1, r); },
        false, true};
    const BalanceMember insertItself{"InsertBlobToBlob of itself",
                                     [m](IDispatch* s, IDispatch*, IDispatch**) { return m->InsertBlobToBlob(s, 0, s); }};
    const BalanceMember insertItselfAtMinus1{
        "InsertBlobToBlob of itself at -1",
        [m](IDispatch* s, IDispatch*, IDispatch**) { return m->InsertBlobToBlob(s, -1, s); }};
    const BalanceMember insertNotABlob{"InsertBlobToBlob of a non-blob", [m](IDispatch* s, IDispatch*, IDispatch**) {
                                           FakeDispatch other;
                                           const HRESULT hr = m->InsertBlobToBlob(s, 0, &other);
                                           EXPECT_EQ(other.Refs(), 1);
                                           return hr;
                                       }};
    const BalanceMember insertNull{"InsertBlobToBlob of null", [m](IDispatch* s, IDispatch*, IDispatch**) {
                                       return m->InsertBlobToBlob(s, 0, nullptr);
                                   }};
    const BalanceMember insertTwo{"InsertBlobToBlob of another",
                                  [m](IDispatch* s, IDispatch* v, IDispatch**) { return m->InsertBlobToBlob(s, 1, v); },
                                  true};

    // A blob given twice is locked once per argument (the lock nests); an
    // argument that is no blob is found before anything is locked.
    const BalanceRow rows[] = {
        {"InsertLong success", &insertLong, {"aabb", S_OK, false, 1, "aa01020304bb"}, {}, S_OK, nullptr},
        {"InsertLong bad position", &insertLongAt3, {"aabb"}, {}, E_INVALIDARG, nullptr},
        {"InsertLong GetBuffer fails", &insertLong, {"aabb", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr},
        {"InsertLong failing GetBuffer is returned as it is", &insertLong,
         {"00", HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE)}, {}, HRESULT_FROM_WIN32(ERROR_INVALID_HANDLE), nullptr},
        {"InsertLong null buffer", &insertLong, {"00", S_OK, true}, {}, E_POINTER, nullptr},
        {"ExtractLong success", &extractLong, {"0102030405", S_OK, false, 1, "05"}, {}, S_OK, nullptr},
        {"ExtractLong short read", &extractLong, {"010203"}, {}, E_INVALIDARG, nullptr},
        {"ExtractLong GetBuffer fails", &extractLong, {"01020304", E_OUTOFMEMORY}, {}, E_OUTOFMEMORY, nullptr},
        {"ExtractBlob success", &extractBlob, {"0000000141ff", S_OK, false, 1, "ff"}, {}, S_OK, nullptr},
        {"ExtractBlob bad position", &extractBlobAtMinus1, {"00000000"}, {}, E_INVALIDARG, nullptr},
        {"ExtractBlob alarm", &extractBlob, {"0000000541"}, {}, E_FAIL, kDataCorrupted},
        {"ExtractBlob GetBuffer fails", &extractBlob, {"00000000", E_ACCESSDENIED}, {}, E_ACCESSDENIED, nullptr},
        {"InsertBlob of itself", &insertItself, {"0102", S_OK, false, 2, "0000000201020102"}, {}, S_OK, nullptr},
        {"InsertBlob of itself, bad position", &insertItselfAtMinus1, {"0102", S_OK, false, 2}, {}, E_INVALIDARG, nullptr},
        {"InsertBlob of itself, GetBuffer fails", &insertItself, {"0102", E_ACCESSDENIED, false, 2}, {}, E_ACCESSDENIED,
         nullptr},
        {"InsertBlob, second argument not a blob", &insertNotABlob, {"0102", S_OK, false, 0}, {}, E_FAIL, kNotABlob, &IID_IZELCryptoMisc},
        {"InsertBlob, second argument null", &insertNull, {"0102", S_OK, false, 0}, {}, E_FAIL, kNotABlob, &IID_IZELCryptoMisc},
        {"InsertBlob of another", &insertTwo, {"aabb", S_OK, false, 1, "aa000000020102bb"}, {"0102"}, S_OK, nullptr},
        {"InsertBlob of another, its GetBuffer fails", &insertTwo, {"aabb"}, {"0102", E_ACCESSDENIED},
         E_ACCESSDENIED, nullptr},
    };
    for (const BalanceRow& row : rows)
        RunBalanceRow(row, kMiscProgId);
}

// The first argument of InsertBlobToBlob is not a blob: the second is never
// locked (the table above covers the paths where both are blobs).
TEST_F(FrameBalance, SecondBlobUntouchedWhenTheFirstIsNoBlob)
{
    FakeBlob value("0102");
    FakeDispatch other;
    EXPECT_HR(E_FAIL, misc->InsertBlobToBlob(&other, 0, &value));
    EXPECT_EQ(value.locks, 0);
    EXPECT_TRUE(Balanced(value));
    EXPECT_EQ(other.Refs(), 1);
    EXPECT_EQ(HexOf(value.buffer), "0102");
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
