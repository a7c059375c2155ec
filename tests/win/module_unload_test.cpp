// Module lifetime, through the DLLs' own exports (LoadLibrary and
// GetProcAddress, no COM class cache in between): DllCanUnloadNow says S_FALSE
// exactly while an object or a LockServer lock is alive.  This program holds
// nothing else of either DLL, so every test starts from an unloadable module.
#include "class_table.h"
#include "support.h"

#include <string>

using namespace zeltest;

namespace {

using GetClassObjectFn = HRESULT(STDAPICALLTYPE*)(REFCLSID, REFIID, void**);
using CanUnloadNowFn = HRESULT(STDAPICALLTYPE*)();

// One DLL loaded from this program's directory, with its two exports.
struct Module {
    explicit Module(const wchar_t* name)
    {
        wchar_t path[MAX_PATH] = {};
        GetModuleFileNameW(nullptr, path, MAX_PATH);
        std::wstring dir(path);
        dir.resize(dir.find_last_of(L"\\/") + 1);
        handle = LoadLibraryW((dir + name).c_str());
        if (handle) {
            getClassObject = reinterpret_cast<GetClassObjectFn>(
                reinterpret_cast<void*>(GetProcAddress(handle, "DllGetClassObject")));
            canUnloadNow =
                reinterpret_cast<CanUnloadNowFn>(reinterpret_cast<void*>(GetProcAddress(handle, "DllCanUnloadNow")));
        }
    }
    ~Module()
    {
        if (handle)
            FreeLibrary(handle);
    }

    ComPtr<IClassFactory> Factory(REFCLSID clsid)
    {
        ComPtr<IClassFactory> factory;
        EXPECT_HR(S_OK, getClassObject(clsid, IID_IClassFactory, factory.OutVoid()));
        return factory;
    }

    HMODULE handle = nullptr;
    GetClassObjectFn getClassObject = nullptr;
    CanUnloadNowFn canUnloadNow = nullptr;
};

class ModuleUnload : public testing::Test {
protected:
    static void SetUpTestSuite()
    {
        crypto = new Module(L"zelcrypto.dll");
        blob = new Module(L"zelblob.dll");
    }
    static void TearDownTestSuite()
    {
        delete crypto;
        delete blob;
    }

    void SetUp() override
    {
        ASSERT_TRUE(crypto->handle && crypto->getClassObject && crypto->canUnloadNow);
        ASSERT_TRUE(blob->handle && blob->getClassObject && blob->canUnloadNow);
        // Whatever ran before gave everything back.
        ASSERT_HR(S_OK, crypto->canUnloadNow());
        ASSERT_HR(S_OK, blob->canUnloadNow());
    }

    ComPtr<IZELCryptoMisc> NewModuleMisc(IClassFactory* factory)
    {
        ComPtr<IZELCryptoMisc> misc;
        EXPECT_HR(S_OK, factory->CreateInstance(nullptr, IID_IZELCryptoMisc, misc.OutVoid()));
        return misc;
    }

    static Module* crypto;
    static Module* blob;
};

Module* ModuleUnload::crypto = nullptr;
Module* ModuleUnload::blob = nullptr;

// The same for the class object and objects of each class.
class ClassUnload : public ModuleUnload, public testing::WithParamInterface<CryptoClass> {
protected:
    ComPtr<IUnknown> NewModuleObject(IClassFactory* factory)
    {
        ComPtr<IUnknown> object;
        EXPECT_HR(S_OK, factory->CreateInstance(nullptr, *GetParam().iid, object.OutVoid()));
        return object;
    }
};

TEST_P(ClassUnload, LiveObjectsHoldTheModule)
{
    auto factory = crypto->Factory(*GetParam().clsid);
    ASSERT_TRUE(factory);
    auto first = NewModuleObject(factory.Get());
    auto second = NewModuleObject(factory.Get());
    ASSERT_TRUE(first && second);
    factory.Reset();
    EXPECT_HR(S_FALSE, crypto->canUnloadNow());

    // Extra references and interfaces of one object do not count twice.
    auto dispatch = first.As<IDispatch>(IID_IDispatch);
    auto support = first.As<ISupportErrorInfo>(IID_ISupportErrorInfo);
    first.Reset();
    dispatch.Reset();
    EXPECT_HR(S_FALSE, crypto->canUnloadNow());
    support.Reset();
    EXPECT_HR(S_FALSE, crypto->canUnloadNow());
    second.Reset();
    EXPECT_HR(S_OK, crypto->canUnloadNow());
}

TEST_P(ClassUnload, LockServerHoldsTheModule)
{
    // Locks nest: the module stays until every lock is undone.
    for (int locks : {1, 2}) {
        SCOPED_TRACE(locks);
        auto factory = crypto->Factory(*GetParam().clsid);
        for (int i = 0; i < locks; ++i)
            ASSERT_HR(S_OK, factory->LockServer(TRUE));
        factory.Reset();
        EXPECT_HR(S_FALSE, crypto->canUnloadNow());

        // A lock and a live object together: the module stays until both are gone.
        factory = crypto->Factory(*GetParam().clsid);
        auto object = NewModuleObject(factory.Get());
        for (int i = 0; i < locks; ++i) {
            EXPECT_HR(S_FALSE, crypto->canUnloadNow());
            ASSERT_HR(S_OK, factory->LockServer(FALSE));
        }
        EXPECT_HR(S_FALSE, crypto->canUnloadNow());
        object.Reset();
        EXPECT_HR(S_OK, crypto->canUnloadNow());
        factory.Reset();
        EXPECT_HR(S_OK, crypto->canUnloadNow());
    }
}

// A refused interface destroys the new object: nothing holds the module after
// it, while a live object of the class keeps holding it.
TEST_P(ClassUnload, FailedCreationsLeaveNothingBehind)
{
    auto factory = crypto->Factory(*GetParam().clsid);
    auto live = NewModuleObject(factory.Get());
    void* out = nullptr;
    for (const IID* iid : {&IID_IClassFactory, &IID_IZELBlob, &IID_IPersist}) {
        out = this;
        EXPECT_HR(E_NOINTERFACE, factory->CreateInstance(nullptr, *iid, &out));
        EXPECT_EQ(out, nullptr);
    }
    EXPECT_HR(E_POINTER, factory->CreateInstance(nullptr, *GetParam().iid, nullptr));
    FakeDispatch outer;
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, IID_IDispatch, &out));
    EXPECT_HR(CLASS_E_NOAGGREGATION, factory->CreateInstance(&outer, *GetParam().iid, &out));
    EXPECT_EQ(outer.Refs(), 1);
    EXPECT_HR(S_FALSE, crypto->canUnloadNow());
    live.Reset();
    factory.Reset();
    EXPECT_HR(S_OK, crypto->canUnloadNow());
}

TEST_P(ClassUnload, AggregatedObjectLetsGo)
{
    auto factory = crypto->Factory(*GetParam().clsid);
    FakeDispatch outer;
    ComPtr<IUnknown> inner;
    ASSERT_HR(S_OK, factory->CreateInstance(&outer, IID_IUnknown, inner.OutVoid()));
    factory.Reset();
    IUnknown* own = nullptr;
    ASSERT_HR(S_OK, inner->QueryInterface(*GetParam().iid, reinterpret_cast<void**>(&own)));
    EXPECT_EQ(outer.Refs(), 2);
    own->Release(); // the outer's reference
    EXPECT_HR(S_FALSE, crypto->canUnloadNow());
    inner.Reset();
    EXPECT_HR(S_OK, crypto->canUnloadNow());
    EXPECT_EQ(outer.Refs(), 1);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, ClassUnload, testing::ValuesIn(kCryptoClasses), CryptoClassName);

TEST_F(ModuleUnload, UnknownClassesAndInterfaces)
{
    // {00000000-0000-0000-C000-000000000046} is IUnknown's, never a class here.
    void* out = this;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, crypto->getClassObject(IID_IUnknown, IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);
    out = this;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, crypto->getClassObject(CLSID_ZELBlob, IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);
    out = this;
    EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, blob->getClassObject(CLSID_ZELCryptoMisc, IID_IClassFactory, &out));
    EXPECT_EQ(out, nullptr);
    for (const CryptoClass& c : kCryptoClasses) {
        SCOPED_TRACE(c.name);
        out = this;
        EXPECT_HR(CLASS_E_CLASSNOTAVAILABLE, blob->getClassObject(*c.clsid, IID_IClassFactory, &out));
        EXPECT_EQ(out, nullptr);
        out = this;
        EXPECT_HR(E_NOINTERFACE, crypto->getClassObject(*c.clsid, IID_IDispatch, &out));
        EXPECT_EQ(out, nullptr);
        ComPtr<IClassFactory> factory;
        EXPECT_HR(S_OK, crypto->getClassObject(*c.clsid, IID_IClassFactory, factory.OutVoid()));
    }
    EXPECT_HR(S_OK, crypto->canUnloadNow());

    ComPtr<IUnknown> unknown;
    EXPECT_HR(S_OK, crypto->getClassObject(CLSID_ZELCryptoMisc, IID_IUnknown, unknown.OutVoid()));
    EXPECT_TRUE(unknown.As<IClassFactory>(IID_IClassFactory));
}

// Blobs of zelblob.dll: the ones a script holds keep that module, and the
// result blobs that methods create are released when they are not handed out.
TEST_F(ModuleUnload, BlobsCreatedByMethodsAreReleased)
{
    auto blobFactory = blob->Factory(CLSID_ZELBlob);
    ComPtr<IZELBlobScript> held;
    ASSERT_HR(S_OK, blobFactory->CreateInstance(nullptr, IID_IZELBlobScript, held.OutVoid()));
    blobFactory.Reset();
    EXPECT_HR(S_FALSE, blob->canUnloadNow());
    held.Reset();
    EXPECT_HR(S_OK, blob->canUnloadNow());

    auto factory = crypto->Factory(CLSID_ZELCryptoMisc);
    auto misc = NewModuleMisc(factory.Get());
    factory.Reset();

    // The result blobs come from CoCreateInstance, which must find this very
    // module, or the counts below would say nothing.
    ComPtr<IZELBlobScript> probe;
    ASSERT_HR(S_OK, CoCreateInstance(CLSID_ZELBlob, nullptr, CLSCTX_INPROC_SERVER, IID_IZELBlobScript,
                                     probe.OutVoid()));
    EXPECT_HR(S_FALSE, blob->canUnloadNow());
    probe.Reset();
    ASSERT_EQ(GetModuleHandleW(L"zelblob.dll"), blob->handle);

    FakeBlob corrupt("00000009");
    FakeBlob failing("00000000");
    failing.getBufferResult = E_ACCESSDENIED;
    FakeBlob good("0000000141");
    IDispatch* out = nullptr;
    EXPECT_HR(E_FAIL, misc->ExtractBlobFromBlob(&corrupt, 0, &out));
    EXPECT_HR(E_INVALIDARG, misc->ExtractBlobFromBlob(&corrupt, 5, &out));
    EXPECT_HR(E_ACCESSDENIED, misc->ExtractBlobFromBlob(&failing, 0, &out));
    EXPECT_EQ(out, nullptr);
    EXPECT_HR(S_OK, blob->canUnloadNow());

    ASSERT_HR(S_OK, misc->ExtractBlobFromBlob(&good, 0, &out));
    ASSERT_TRUE(out);
    EXPECT_HR(S_FALSE, blob->canUnloadNow());
    out->Release();
    EXPECT_HR(S_OK, blob->canUnloadNow());

    misc.Reset();
    EXPECT_HR(S_OK, crypto->canUnloadNow());
}

} // namespace
