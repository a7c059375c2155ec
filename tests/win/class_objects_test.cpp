// The class objects of both DLLs as COM hands them out: CreateInstance's
// argument checks, aggregation, and the ProgIDs that lead to the classes.
#include "support.h"

using namespace zeltest;

namespace {

// An outer object aggregating a Misc object: it answers IUnknown itself and
// hands every other request to the inner object.
class Outer : public IUnknown, public RefCounter {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        ++queries;
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        if (!inner) {
            *out = nullptr;
            return E_NOINTERFACE;
        }
        return inner->QueryInterface(riid, out);
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }

    IUnknown* inner = nullptr; // the inner object's own IUnknown, owned by the test
    int queries = 0;
};

class ClassObjects : public testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_HR(S_OK, CoGetClassObject(CLSID_ZELCryptoMisc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                         factory.OutVoid()));
        ASSERT_TRUE(factory);
    }

    ComPtr<IClassFactory> factory;
};

TEST_F(ClassObjects, CreateInstanceChecksItsArguments)
{
    EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, IID_IZELCryptoMisc, nullptr));

    // The out pointer is cleared on every failure.
    FakeDispatch sentinel;
    void* out = &sentinel;
    EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);

    // An outer object may ask only for IUnknown.
    Outer outer;
    for (const IID* iid : {&IID_IZELCryptoMisc, &IID_IDispatch, &IID_IClassFactory}) {
        out = &sentinel;
        EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, *iid, &out));
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(outer.Refs(), 1);
    EXPECT_EQ(outer.queries, 0);
    EXPECT_EQ(sentinel.Refs(), 1);
}

TEST_F(ClassObjects, PlainObjectHasOneIdentity)
{
    ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, unknown.OutVoid()));
    auto misc = unknown.As<IZELCryptoMisc>(IID_IZELCryptoMisc);
    auto dispatch = unknown.As<IDispatch>(IID_IDispatch);
    auto support = unknown.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(misc);
    ASSERT_TRUE(support);
    EXPECT_EQ(dispatch.Get(), static_cast<IDispatch*>(misc.Get()));
    EXPECT_EQ(misc.As<IUnknown>(IID_IUnknown).Get(), unknown.Get());
    EXPECT_EQ(support.As<IUnknown>(IID_IUnknown).Get(), unknown.Get());
    EXPECT_FALSE(unknown.As<IClassFactory>(IID_IClassFactory));
    EXPECT_FALSE(unknown.As<IZELBlob>(IID_IZELBlob));
}

TEST_F(ClassObjects, AggregatedObjectDelegatesToItsOuter)
{
    Outer outer;
    ASSERT_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    ASSERT_TRUE(outer.inner);
    EXPECT_NE(outer.inner, static_cast<IUnknown*>(&outer));
    EXPECT_EQ(outer.Refs(), 1);

    // The inner IUnknown counts for itself.
    outer.inner->AddRef();
    outer.inner->Release();
    EXPECT_EQ(outer.Refs(), 1);

    // Its other interfaces count on the outer object.
    IZELCryptoMisc* misc = nullptr;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_IZELCryptoMisc, reinterpret_cast<void**>(&misc)));
    EXPECT_EQ(outer.Refs(), 2);
    misc->AddRef();
    EXPECT_EQ(outer.Refs(), 3);
    misc->Release();
    EXPECT_EQ(outer.Refs(), 2);

    // QueryInterface on them asks the outer object: IUnknown is the outer's.
    const int queries = outer.queries;
    IUnknown* identity = nullptr;
    ASSERT_HR(S_OK, misc->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    ISupportErrorInfo* support = nullptr;
    ASSERT_HR(S_OK, misc->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(IID_IZELCryptoMisc));
    support->Release();
    EXPECT_EQ(outer.queries, queries + 2);
    EXPECT_EQ(outer.Refs(), 2);

    // The aggregated object works, errors included.
    auto blob = NewBlob();
    EXPECT_HR(S_OK, misc->InsertLongToBlob(blob.Get(), 0, 1));
    EXPECT_EQ(HexOf(blob.Get()), L"00000001");
    ClearErrorRecord();
    EXPECT_HR(E_FAIL, misc->InsertLongToBlob(nullptr, 0, 1));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));

    misc->Release();
    EXPECT_EQ(outer.Refs(), 1);
    outer.inner->Release();
    outer.inner = nullptr;
    EXPECT_EQ(outer.Refs(), 1);
}

TEST_F(ClassObjects, FactoryInterfacesAndLockServer)
{
    auto unknown = factory.As<IUnknown>(IID_IUnknown);
    EXPECT_TRUE(unknown);
    EXPECT_FALSE(factory.As<IDispatch>(IID_IDispatch));
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
}

TEST(ClassLookup, ProgIdsLeadToTheClasses)
{
    struct Case {
        const wchar_t* progId;
        const CLSID* clsid;
    };
    const Case cases[] = {
        {L"Valdergast.ZELCryptoMisc.2", &CLSID_ZELCryptoMisc},
        {L"Valdergast.ZELCryptoMisc", &CLSID_ZELCryptoMisc},
        {L"Valdergast.ZELBlob.2", &CLSID_ZELBlob},
        {L"Valdergast.ZELBlob", &CLSID_ZELBlob},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.progId));
        CLSID clsid = GUID_NULL;
        ASSERT_HR(S_OK, CLSIDFromProgID(c.progId, &clsid));
        EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid)) << GuidText(clsid);
        ComPtr<IDispatch> object;
        EXPECT_HR(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()));
    }
    LPOLESTR progId = nullptr;
    ASSERT_HR(S_OK, ProgIDFromCLSID(CLSID_ZELCryptoMisc, &progId));
    EXPECT_EQ(std::wstring(progId), kMiscProgId);
    CoTaskMemFree(progId);
}

// The blob class is created the way zelcrypto.dll creates it: class context
// 23, asking straight for IZELBlob.
TEST(ClassLookup, BlobClassAsTheServerCreatesIt)
{
    ComPtr<IZELBlob> blob;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_ZELBlob, nullptr, kZelBlobClassContext, IID_IZELBlob, blob.OutVoid()));
    XBlob* buffer = nullptr;
    ASSERT_HR(S_OK, blob->GetBuffer(&buffer));
    ASSERT_TRUE(buffer);
    EXPECT_TRUE(blob.As<IDispatch>(IID_IDispatch));
}

} // namespace
