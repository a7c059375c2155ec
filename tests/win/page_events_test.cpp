// OnStartPage and OnEndPage with doubles of a page's scripting context and
// Request object: what is reported when the context is missing or unusable,
// and that the kept Request reference is given back on every way out.
#include "support.h"

#include <asptlb.h>

using namespace zeltest;

namespace {

class FakeRequest : public IRequest, public RefCounter {
public:
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) || IsEqualIID(riid, IID_IRequest)) {
            *out = static_cast<IRequest*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Item(BSTR, IDispatch**) override { return E_NOTIMPL; }
    STDMETHODIMP get_QueryString(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Form(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Body(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_ServerVariables(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_ClientCertificate(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Cookies(IRequestDictionary**) override { return E_NOTIMPL; }
    STDMETHODIMP get_TotalBytes(__LONG32*) override { return E_NOTIMPL; }
    STDMETHODIMP BinaryRead(VARIANT*, VARIANT*) override { return E_NOTIMPL; }
};

// A page's scripting context; its Request property hands out `request` or
// fails with `requestResult`.
class FakeContext : public IScriptingContext, public RefCounter {
public:
    explicit FakeContext(FakeRequest* request) : request_(request) {}

    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (!out)
            return E_POINTER;
        if (IsEqualIID(riid, IID_IUnknown) || IsEqualIID(riid, IID_IDispatch) ||
            IsEqualIID(riid, IID_IScriptingContext)) {
            *out = static_cast<IScriptingContext*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return E_NOINTERFACE;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }
    STDMETHODIMP GetTypeInfoCount(UINT*) override { return E_NOTIMPL; }
    STDMETHODIMP GetTypeInfo(UINT, LCID, ITypeInfo**) override { return E_NOTIMPL; }
    STDMETHODIMP GetIDsOfNames(REFIID, LPOLESTR*, UINT, LCID, DISPID*) override { return E_NOTIMPL; }
    STDMETHODIMP Invoke(DISPID, REFIID, LCID, WORD, DISPPARAMS*, VARIANT*, EXCEPINFO*, UINT*) override
    {
        return E_NOTIMPL;
    }
    STDMETHODIMP get_Request(IRequest** out) override
    {
        ++requestCalls;
        if (!out)
            return E_POINTER;
        *out = nullptr;
        if (FAILED(requestResult))
            return requestResult;
        request_->AddRef();
        *out = request_;
        return S_OK;
    }
    STDMETHODIMP get_Response(IResponse**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Server(IServer**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Session(ISessionObject**) override { return E_NOTIMPL; }
    STDMETHODIMP get_Application(IApplicationObject**) override { return E_NOTIMPL; }

    HRESULT requestResult = S_OK;
    int requestCalls = 0;

private:
    FakeRequest* request_;
};

// An object that answers QueryInterface for nothing but IUnknown, with a
// chosen failure.
class Stranger : public IUnknown, public RefCounter {
public:
    explicit Stranger(HRESULT refusal) : refusal_(refusal) {}
    STDMETHODIMP QueryInterface(REFIID riid, void** out) override
    {
        if (IsEqualIID(riid, IID_IUnknown)) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        *out = nullptr;
        return refusal_;
    }
    STDMETHODIMP_(ULONG) AddRef() override { return AddRefCount(); }
    STDMETHODIMP_(ULONG) Release() override { return ReleaseCount(); }

private:
    HRESULT refusal_;
};

class PageEvents : public testing::Test {
protected:
    void SetUp() override
    {
        misc = NewMisc();
        ClearErrorRecord();
    }

    ComPtr<IZELCryptoMisc> misc;
};

TEST_F(PageEvents, NullContextIsRefusedWithoutRecord)
{
    EXPECT_HR(E_POINTER, misc->OnStartPage(nullptr));
    EXPECT_FALSE(TakeErrorRecord().present);
}

TEST_F(PageEvents, EndWithoutStart)
{
    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_HR(S_OK, misc->OnEndPage());
}

// An object that is not a scripting context: its own QueryInterface failure
// comes back, with a record naming the Misc class and the null GUID.
TEST_F(PageEvents, ObjectThatIsNoScriptingContext)
{
    for (HRESULT refusal : {E_NOINTERFACE, E_ACCESSDENIED}) {
        SCOPED_TRACE(HrText(refusal));
        Stranger stranger(refusal);
        EXPECT_HR(refusal, misc->OnStartPage(&stranger));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain ScriptingContext", kMiscProgId, GUID_NULL));
        EXPECT_EQ(stranger.Refs(), 1);
    }
    // A Request object is an IDispatch, but no scripting context either.
    FakeRequest request;
    EXPECT_HR(E_NOINTERFACE, misc->OnStartPage(static_cast<IRequest*>(&request)));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain ScriptingContext", kMiscProgId, GUID_NULL));
    EXPECT_EQ(request.Refs(), 1);
}

TEST_F(PageEvents, ContextWithoutRequest)
{
    FakeRequest request;
    FakeContext context(&request);
    context.requestResult = E_ACCESSDENIED;
    EXPECT_HR(E_ACCESSDENIED, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain Request object", kMiscProgId, GUID_NULL));
    EXPECT_EQ(context.requestCalls, 1);
    EXPECT_EQ(context.Refs(), 1);
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_EQ(request.Refs(), 1);
}

// A page start keeps the Request object, not the context; the page end gives
// it back, once.
TEST_F(PageEvents, StartKeepsRequestUntilEnd)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    EXPECT_FALSE(TakeErrorRecord().present);
    EXPECT_EQ(context.Refs(), 1);
    EXPECT_EQ(request.Refs(), 2);

    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_EQ(request.Refs(), 1);
}

// A second start without an end in between: the first page's Request is
// given back and the second one kept.
TEST_F(PageEvents, SecondStartReplacesTheRequest)
{
    FakeRequest first;
    FakeContext firstContext(&first);
    FakeRequest second;
    FakeContext secondContext(&second);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&firstContext)));
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&secondContext)));
    EXPECT_EQ(first.Refs(), 1);
    EXPECT_EQ(second.Refs(), 2);
    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_EQ(second.Refs(), 1);

    // The same page started twice keeps one reference.
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&firstContext)));
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&firstContext)));
    EXPECT_EQ(first.Refs(), 2);
    EXPECT_HR(S_OK, misc->OnEndPage());
    EXPECT_EQ(first.Refs(), 1);
}

TEST_F(PageEvents, FailedSecondStartLeaksNothing)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    Stranger stranger(E_NOINTERFACE);
    EXPECT_HR(E_NOINTERFACE, misc->OnStartPage(&stranger));
    misc->OnEndPage();
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(stranger.Refs(), 1);
}

TEST_F(PageEvents, DestroyingTheObjectReleasesTheRequest)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    EXPECT_EQ(request.Refs(), 2);
    misc.Reset();
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(context.Refs(), 1);
}

// The methods work the same during a page.
TEST_F(PageEvents, MethodsWorkDuringAPage)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    auto blob = NewBlob();
    ASSERT_HR(S_OK, misc->InsertLongToBlob(blob.Get(), 0, 258));
    EXPECT_EQ(HexOf(blob.Get()), L"00000102");
    EXPECT_HR(S_OK, misc->OnEndPage());
}

// Script hosts raise the page events through IDispatch.
TEST_F(PageEvents, ThroughInvoke)
{
    FakeRequest request;
    FakeContext context(&request);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_UNKNOWN;
    V_UNKNOWN(&arg) = static_cast<IScriptingContext*>(&context);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_HR(S_OK, misc->Invoke(0x60020000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                 nullptr, nullptr));
    EXPECT_EQ(request.Refs(), 2);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_HR(S_OK, misc->Invoke(0x60020001, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                 nullptr, nullptr));
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(context.Refs(), 1);
}

} // namespace
