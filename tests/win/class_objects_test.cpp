// The class objects of both DLLs as COM hands them out: CreateInstance's
// argument checks, aggregation, and the ProgIDs that lead to the classes.
#include "class_table.h"
#include "support.h"

#include <vector>

using namespace zeltest;

namespace {

// An outer object aggregating an object of a class: it answers IUnknown itself and
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

// Every test runs on the class object of each class.
class ClassObjects : public testing::TestWithParam<CryptoClass> {
protected:
    void SetUp() override
    {
        ASSERT_HR(S_OK, CoGetClassObject(*GetParam().clsid, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                         factory.OutVoid()));
        ASSERT_TRUE(factory);
    }

    const IID& Iid() const { return *GetParam().iid; }

    ComPtr<IClassFactory> factory;
};

TEST_P(ClassObjects, CreateInstanceChecksItsArguments)
{
    EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, Iid(), nullptr));
    EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, IID_IUnknown, nullptr));

    // The out pointer is cleared on every failure.
    FakeDispatch sentinel;
    void* out = &sentinel;
    EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);
    out = &sentinel;
    EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, IID_IZELBlob, &out));
    EXPECT_EQ(out, nullptr);

    // An outer object may ask only for IUnknown.
    Outer outer;
    for (const IID* iid : {&Iid(), &IID_IDispatch, &IID_ISupportErrorInfo, &IID_IClassFactory}) {
        out = &sentinel;
        EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, *iid, &out));
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_EQ(outer.Refs(), 1);
    EXPECT_EQ(outer.queries, 0);
    EXPECT_EQ(sentinel.Refs(), 1);
}

TEST_P(ClassObjects, PlainObjectHasOneIdentity)
{
    ComPtr<IUnknown> unknown;
    ASSERT_HR(S_OK, factory->CreateInstance(nullptr, IID_IUnknown, unknown.OutVoid()));
    auto own = unknown.As<IDispatch>(Iid());
    auto dispatch = unknown.As<IDispatch>(IID_IDispatch);
    auto support = unknown.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    ASSERT_TRUE(own);
    ASSERT_TRUE(support);
    EXPECT_EQ(dispatch.Get(), own.Get());
    EXPECT_EQ(own.As<IUnknown>(IID_IUnknown).Get(), unknown.Get());
    EXPECT_EQ(support.As<IUnknown>(IID_IUnknown).Get(), unknown.Get());
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(Iid()));
    EXPECT_FALSE(unknown.As<IClassFactory>(IID_IClassFactory));
    EXPECT_FALSE(unknown.As<IZELBlob>(IID_IZELBlob));
    // No other class's interface.
    for (const CryptoClass& other : kCryptoClasses) {
        if (!IsEqualIID(*other.iid, Iid())) {
            EXPECT_FALSE(unknown.As<IUnknown>(*other.iid)) << other.name;
        }
    }
}

TEST_P(ClassObjects, AggregatedObjectDelegatesToItsOuter)
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
    IDispatch* own = nullptr;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(Iid(), reinterpret_cast<void**>(&own)));
    EXPECT_EQ(outer.Refs(), 2);
    own->AddRef();
    EXPECT_EQ(outer.Refs(), 3);
    own->Release();
    EXPECT_EQ(outer.Refs(), 2);

    // QueryInterface on them asks the outer object: IUnknown is the outer's.
    const int queries = outer.queries;
    IUnknown* identity = nullptr;
    ASSERT_HR(S_OK, own->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&identity)));
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer));
    identity->Release();
    ISupportErrorInfo* support = nullptr;
    ASSERT_HR(S_OK, own->QueryInterface(IID_ISupportErrorInfo, reinterpret_cast<void**>(&support)));
    EXPECT_HR(S_OK, support->InterfaceSupportsErrorInfo(Iid()));
    support->Release();
    EXPECT_EQ(outer.queries, queries + 2);
    EXPECT_EQ(outer.Refs(), 2);

    // The aggregated object works, error reports included.
    ClearErrorRecord();
    FakeDispatch notAContext;
    EXPECT_HR(E_NOINTERFACE, GetParam().onStartPage(outer.inner, &notAContext));
    EXPECT_TRUE(
        HasErrorRecord(TakeErrorRecord(), L"Can't obtain ScriptingContext", GetParam().progId, GUID_NULL));
    EXPECT_HR(S_OK, GetParam().onEndPage(outer.inner));
    EXPECT_EQ(notAContext.Refs(), 1);
    EXPECT_EQ(outer.Refs(), 2);

    own->Release();
    EXPECT_EQ(outer.Refs(), 1);
    outer.inner->Release();
    outer.inner = nullptr;
    EXPECT_EQ(outer.Refs(), 1);
}

TEST_P(ClassObjects, FactoryInterfacesAndLockServer)
{
    auto unknown = factory.As<IUnknown>(IID_IUnknown);
    EXPECT_TRUE(unknown);
    EXPECT_FALSE(factory.As<IDispatch>(IID_IDispatch));
    EXPECT_FALSE(factory.As<IDispatch>(Iid()));
    EXPECT_HR(S_OK, factory->LockServer(TRUE));
    EXPECT_HR(S_OK, factory->LockServer(FALSE));
}

INSTANTIATE_TEST_SUITE_P(AllClasses, ClassObjects, testing::ValuesIn(kCryptoClasses), CryptoClassName);

// An aggregated Misc object's methods, errors included.
TEST(ClassObjectsMisc, AggregatedMiscWorks)
{
    ComPtr<IClassFactory> factory;
    ASSERT_HR(S_OK, CoGetClassObject(CLSID_ZELCryptoMisc, CLSCTX_INPROC_SERVER, nullptr, IID_IClassFactory,
                                     factory.OutVoid()));
    Outer outer;
    ASSERT_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, reinterpret_cast<void**>(&outer.inner)));
    IZELCryptoMisc* misc = nullptr;
    ASSERT_HR(S_OK, outer.inner->QueryInterface(IID_IZELCryptoMisc, reinterpret_cast<void**>(&misc)));
    auto blob = NewBlob();
    EXPECT_HR(S_OK, misc->InsertLongToBlob(blob.Get(), 0, 1));
    EXPECT_EQ(HexOf(blob.Get()), L"00000001");
    ClearErrorRecord();
    EXPECT_HR(E_FAIL, misc->InsertLongToBlob(nullptr, 0, 1));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), kNotABlob, kMiscProgId, IID_IZELCryptoMisc));
    misc->Release();
    outer.inner->Release();
    outer.inner = nullptr;
    EXPECT_EQ(outer.Refs(), 1);
}

// Both ProgIDs of every class lead to it, and the class leads back to the
// version-dependent one (the source of its error records).
TEST(ClassLookup, ProgIdsLeadToTheClasses)
{
    struct Case {
        const wchar_t* progId;
        const CLSID* clsid;
    };
    std::vector<Case> cases = {
        {L"Valdergast.ZELBlob.2", &CLSID_ZELBlob},
        {L"Valdergast.ZELBlob", &CLSID_ZELBlob},
    };
    for (const CryptoClass& c : kCryptoClasses) {
        cases.push_back({c.progId, c.clsid});
        cases.push_back({c.versionIndependentProgId, c.clsid});
    }
    for (const Case& c : cases) {
        SCOPED_TRACE(Narrow(c.progId));
        CLSID clsid = GUID_NULL;
        ASSERT_HR(S_OK, CLSIDFromProgID(c.progId, &clsid));
        EXPECT_TRUE(IsEqualCLSID(clsid, *c.clsid)) << GuidText(clsid);
        ComPtr<IDispatch> object;
        EXPECT_HR(S_OK, CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, IID_IDispatch, object.OutVoid()));
    }
    for (const CryptoClass& c : kCryptoClasses) {
        SCOPED_TRACE(c.name);
        LPOLESTR progId = nullptr;
        ASSERT_HR(S_OK, ProgIDFromCLSID(*c.clsid, &progId));
        EXPECT_EQ(std::wstring(progId), c.progId);
        CoTaskMemFree(progId);
    }
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
