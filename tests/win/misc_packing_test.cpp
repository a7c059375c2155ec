// The Misc packing methods through the vtable of IZELCryptoMisc, on real blobs
// of zelblob.dll: numbers and length-prefixed items in and out of a blob,
// position checks, malformed items, arguments that are not blobs.
#include "support.h"

using namespace zeltest;

namespace {

class MiscPacking : public testing::Test {
protected:
    void SetUp() override
    {
        misc = NewMisc();
        ClearErrorRecord();
    }

    IDispatch* Dispatch(const ComPtr<IZELBlobScript>& blob) { return blob.Get(); }

    ComPtr<IZELCryptoMisc> misc;
};

TEST_F(MiscPacking, InsertLongThenExtractLongAreInverse)
{
    struct Case {
        const wchar_t* start;
        LONG pos;
        LONG value;
        const wchar_t* packed;
    };
    const Case cases[] = {
        {L"", 0, 0x01020304, L"01020304"},
        {L"", 0, -1, L"ffffffff"},
        {L"aabbcc", 0, LONG(0x80000000), L"80000000aabbcc"},
        {L"aabbcc", 1, 0x7f00ff01, L"aa7f00ff01bbcc"},
        {L"aabbcc", 3, 16909060, L"aabbcc01020304"}, // at the end: appended
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << Narrow(c.start) << " pos " << c.pos);
        auto blob = NewBlob(c.start);
        ASSERT_HR(S_OK, misc->InsertLongToBlob(Dispatch(blob), c.pos, c.value));
        EXPECT_EQ(HexOf(blob.Get()), c.packed);

        LONG value = 12345;
        ASSERT_HR(S_OK, misc->ExtractLongFromBlob(Dispatch(blob), c.pos, &value));
        EXPECT_EQ(value, c.value);
        EXPECT_EQ(HexOf(blob.Get()), c.start);
    }
}

TEST_F(MiscPacking, ExtractLongTakesTheNumberOutOfTheBlob)
{
    auto blob = NewBlob(L"0102030405");
    LONG value = 0;
    ASSERT_HR(S_OK, misc->ExtractLongFromBlob(Dispatch(blob), 1, &value));
    EXPECT_EQ(value, 0x02030405);
    EXPECT_EQ(HexOf(blob.Get()), L"01");
}

// A position is valid from 0 up to the blob's length; anything else is refused
// with E_INVALIDARG, no error record, and the blob as it was.
TEST_F(MiscPacking, PositionsOutsideTheBlobAreRefused)
{
    const wchar_t start[] = L"0000000141"; // one well-formed item, 5 bytes
    for (LONG pos : {LONG(-1), LONG(6), LONG(0x7fffffff), LONG(0x80000000)}) {
        SCOPED_TRACE(testing::Message() << "pos " << pos);
        auto blob = NewBlob(start);
        auto val = NewBlob(L"99");

        EXPECT_HR(E_INVALIDARG, misc->InsertLongToBlob(Dispatch(blob), pos, 7));
        EXPECT_HR(E_INVALIDARG, misc->InsertBlobToBlob(Dispatch(blob), pos, Dispatch(val)));
        LONG number = 12345;
        EXPECT_HR(E_INVALIDARG, misc->ExtractLongFromBlob(Dispatch(blob), pos, &number));
        EXPECT_EQ(number, 12345);
        FakeBlob sentinel;
        IDispatch* extracted = &sentinel;
        EXPECT_HR(E_INVALIDARG, misc->ExtractBlobFromBlob(Dispatch(blob), pos, &extracted));
        EXPECT_EQ(extracted, nullptr);
        EXPECT_EQ(sentinel.Refs(), 1);

        EXPECT_EQ(HexOf(blob.Get()), start);
        EXPECT_EQ(HexOf(val.Get()), L"99");
        EXPECT_FALSE(TakeErrorRecord().present);
    }
}

// Fewer than four bytes from pos to the end: refused, and the bytes stay.
TEST_F(MiscPacking, ExtractLongShortReadIsRefusedAndLeavesTheBlob)
{
    struct Case {
        const wchar_t* start;
        LONG pos;
    };
    const Case cases[] = {{L"", 0}, {L"010203", 0}, {L"0102030405", 2}, {L"0102030405", 5}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << Narrow(c.start) << " pos " << c.pos);
        auto blob = NewBlob(c.start);
        LONG value = 12345;
        EXPECT_HR(E_INVALIDARG, misc->ExtractLongFromBlob(Dispatch(blob), c.pos, &value));
        EXPECT_EQ(value, 12345);
        EXPECT_EQ(HexOf(blob.Get()), c.start);
        EXPECT_FALSE(TakeErrorRecord().present);
    }
}

TEST_F(MiscPacking, InsertBlobThenExtractBlobAreInverse)
{
    struct Case {
        const wchar_t* start;
        LONG pos;
        const wchar_t* val;
        const wchar_t* packed;
    };
    const Case cases[] = {
        {L"", 0, L"", L"00000000"},
        {L"", 0, L"414243", L"00000003414243"},
        {L"aabb", 1, L"0102", L"aa000000020102bb"},
        {L"aabb", 2, L"ff", L"aabb00000001ff"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << Narrow(c.start) << " pos " << c.pos);
        auto blob = NewBlob(c.start);
        auto val = NewBlob(c.val);
        ASSERT_HR(S_OK, misc->InsertBlobToBlob(Dispatch(blob), c.pos, Dispatch(val)));
        EXPECT_EQ(HexOf(blob.Get()), c.packed);
        EXPECT_EQ(HexOf(val.Get()), c.val);

        IDispatch* raw = nullptr;
        ASSERT_HR(S_OK, misc->ExtractBlobFromBlob(Dispatch(blob), c.pos, &raw));
        auto extracted = ComPtr<IDispatch>::Attach(raw);
        ASSERT_TRUE(extracted);
        EXPECT_EQ(HexOf(extracted.Get()), c.val);
        EXPECT_EQ(HexOf(blob.Get()), c.start);
        // A new blob, not one of the arguments.
        EXPECT_NE(extracted.Get(), Dispatch(val));
        EXPECT_NE(extracted.Get(), Dispatch(blob));
    }
}

TEST_F(MiscPacking, ExtractBlobReadsOnlyTheDeclaredLength)
{
    auto blob = NewBlob(L"00000002414243");
    IDispatch* raw = nullptr;
    ASSERT_HR(S_OK, misc->ExtractBlobFromBlob(Dispatch(blob), 0, &raw));
    auto extracted = ComPtr<IDispatch>::Attach(raw);
    EXPECT_EQ(HexOf(extracted.Get()), L"4142");
    EXPECT_EQ(HexOf(blob.Get()), L"43");
}

TEST_F(MiscPacking, OneBlobAsBothArgumentsOfInsertBlob)
{
    struct Case {
        LONG pos;
        const wchar_t* packed;
    };
    // The item is made of the bytes the blob had before the call.
    const Case cases[] = {{0, L"0000000201020102"}, {1, L"0100000002010202"}, {2, L"0102000000020102"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "pos " << c.pos);
        auto blob = NewBlob(L"0102");
        ASSERT_HR(S_OK, misc->InsertBlobToBlob(Dispatch(blob), c.pos, Dispatch(blob)));
        EXPECT_EQ(HexOf(blob.Get()), c.packed);
    }
}

// A malformed item: E_FAIL with the alarm's text, the ProgID as source and
// the null GUID; no blob handed out and the source untouched.
TEST_F(MiscPacking, MalformedItemIsReportedAsCorruptData)
{
    struct Case {
        const wchar_t* start;
        LONG pos;
    };
    const Case cases[] = {
        {L"", 0},                 // nothing at all
        {L"000000", 0},           // length field cut short
        {L"aabb", 2},             // pos at the end
        {L"00000004414243", 0},   // one payload byte missing
        {L"00000008414243", 0},   // length far beyond the end
        {L"aa00000001", 1},       // length 1, no payload
        {L"ffffffff00", 0},       // a length that wraps around when added to pos
        {L"00fffffffc41424344", 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "start " << Narrow(c.start) << " pos " << c.pos);
        auto blob = NewBlob(c.start);
        FakeBlob sentinel;
        IDispatch* extracted = &sentinel;
        ClearErrorRecord();
        EXPECT_HR(E_FAIL, misc->ExtractBlobFromBlob(Dispatch(blob), c.pos, &extracted));
        EXPECT_EQ(extracted, nullptr);
        EXPECT_EQ(sentinel.Refs(), 1);
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kDataCorrupted, kMiscProgId, GUID_NULL));
        EXPECT_EQ(HexOf(blob.Get()), c.start);
    }
}

// Null, or an IDispatch without IZELBlob, where a blob belongs: E_FAIL with
// the record naming the interface of the Misc class.
TEST_F(MiscPacking, ArgumentsThatAreNotBlobsAreReported)
{
    FakeDispatch notABlob;
    IDispatch* miscAsDispatch = misc.Get(); // a dispatch object of the wrong kind
    for (IDispatch* bad : {static_cast<IDispatch*>(nullptr), static_cast<IDispatch*>(&notABlob), miscAsDispatch}) {
        SCOPED_TRACE(testing::Message() << "argument " << bad);
        auto good = NewBlob(L"0000000141");
        LONG number = 12345;
        FakeBlob sentinel;
        IDispatch* extracted = &sentinel;

        ClearErrorRecord();
        EXPECT_HR(E_FAIL, misc->InsertLongToBlob(bad, 0, 1));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        EXPECT_HR(E_FAIL, misc->ExtractLongFromBlob(bad, 0, &number));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        EXPECT_EQ(number, 12345);
        EXPECT_HR(E_FAIL, misc->ExtractBlobFromBlob(bad, 0, &extracted));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        EXPECT_EQ(extracted, nullptr);
        EXPECT_HR(E_FAIL, misc->InsertBlobToBlob(bad, 0, Dispatch(good)));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        // The second blob argument is checked the same way, and the target stays.
        EXPECT_HR(E_FAIL, misc->InsertBlobToBlob(Dispatch(good), 0, bad));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
        EXPECT_EQ(HexOf(good.Get()), L"0000000141");
    }
    EXPECT_EQ(notABlob.Refs(), 1);
}

TEST_F(MiscPacking, SupportsErrorInfoForItsInterface)
{
    auto support = misc.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(support);
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IZELCryptoMisc));
    EXPECT_HR(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IClassFactory));
    EXPECT_HR(S_FALSE, support->InterfaceSupportsErrorInfo(IID_IZELBlobScript));
}

// Packing many numbers one by one makes zelcrypto.dll grow the blob's buffer
// many times over; the blob still holds them all, in order.
TEST_F(MiscPacking, ManyInsertsGrowTheBlob)
{
    auto blob = NewBlob();
    const LONG count = 1000;
    auto number = [](LONG i) { return LONG(uint32_t(i) * 0x01010101u); };
    for (LONG i = 0; i < count; ++i)
        ASSERT_HR(S_OK, misc->InsertLongToBlob(Dispatch(blob), 4 * i, number(i)));
    LONG length = 0;
    ASSERT_HR(S_OK, blob->get_Length(&length));
    EXPECT_EQ(length, 4 * count);
    for (LONG i = count; i-- > 0;) {
        LONG value = -1;
        ASSERT_HR(S_OK, misc->ExtractLongFromBlob(Dispatch(blob), 4 * i, &value));
        ASSERT_EQ(value, number(i));
    }
    EXPECT_EQ(HexOf(blob.Get()), L"");
}

} // namespace
