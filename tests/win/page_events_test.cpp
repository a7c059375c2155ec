// OnStartPage and OnEndPage with doubles of a page's scripting context and
// Request object: what is reported when the context is missing or unusable,
// and that the kept Request reference is given back on every way out.
#include "class_table.h"
#include "support.h"

#include <asptlb.h>

using namespace zeltest;

namespace {

class FakeRequest : public DispatchDouble<IRequest, &IID_IRequest> {
public:
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
class FakeContext : public DispatchDouble<IScriptingContext, &IID_IScriptingContext> {
public:
    explicit FakeContext(FakeRequest* request) : request_(request) {}

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

// Every test runs on an object of each class: the page events
// are the same in all of them, reported with each class's own ProgID.
class PageEvents : public testing::TestWithParam<CryptoClass> {
protected:
    void SetUp() override
    {
        object = NewObject(GetParam());
        ClearErrorRecord();
    }

    HRESULT Start(IUnknown* context) { return GetParam().onStartPage(object.Get(), context); }
    HRESULT Start(IScriptingContext* context) { return Start(static_cast<IUnknown*>(context)); }
    HRESULT End() { return GetParam().onEndPage(object.Get()); }
    const wchar_t* ProgId() const { return GetParam().progId; }

    ComPtr<IUnknown> object;
};

TEST_P(PageEvents, NullContextIsRefusedWithoutRecord)
{
    EXPECT_HR(E_POINTER, Start(static_cast<IUnknown*>(nullptr)));
    EXPECT_FALSE(TakeErrorRecord().present);
}

TEST_P(PageEvents, EndWithoutStart)
{
    EXPECT_HR(S_OK, End());
    EXPECT_HR(S_OK, End());
    EXPECT_FALSE(TakeErrorRecord().present);
}

// An object that is not a scripting context: its own QueryInterface failure
// comes back, with a record naming the class and the null GUID.
TEST_P(PageEvents, ObjectThatIsNoScriptingContext)
{
    for (HRESULT refusal : {E_NOINTERFACE, E_ACCESSDENIED}) {
        SCOPED_TRACE(HrText(refusal));
        Stranger stranger(refusal);
        EXPECT_HR(refusal, Start(&stranger));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain ScriptingContext", ProgId(), GUID_NULL));
        EXPECT_EQ(stranger.Refs(), 1);
    }
    // A Request object is an IDispatch, but no scripting context either.
    FakeRequest request;
    EXPECT_HR(E_NOINTERFACE, Start(static_cast<IRequest*>(&request)));
    EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain ScriptingContext", ProgId(), GUID_NULL));
    EXPECT_EQ(request.Refs(), 1);
}

TEST_P(PageEvents, ContextWithoutRequest)
{
    for (HRESULT failure : {E_ACCESSDENIED, E_NOTIMPL}) {
        SCOPED_TRACE(HrText(failure));
        FakeRequest request;
        FakeContext context(&request);
        context.requestResult = failure;
        EXPECT_HR(failure, Start(&context));
        EXPECT_TRUE(HasErrorRecord(TakeErrorRecord(), L"Can't obtain Request object", ProgId(), GUID_NULL));
        EXPECT_EQ(context.requestCalls, 1);
        EXPECT_EQ(context.Refs(), 1);
        EXPECT_EQ(request.Refs(), 1);
        EXPECT_HR(S_OK, End());
        EXPECT_EQ(request.Refs(), 1);
    }
}

// A page start keeps the Request object, not the context; the page end gives
// it back, once.
TEST_P(PageEvents, StartKeepsRequestUntilEnd)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, Start(&context));
    EXPECT_FALSE(TakeErrorRecord().present);
    EXPECT_EQ(context.requestCalls, 1);
    EXPECT_EQ(context.Refs(), 1);
    EXPECT_EQ(request.Refs(), 2);

    EXPECT_HR(S_OK, End());
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_HR(S_OK, End());
    EXPECT_EQ(request.Refs(), 1);
}

// A second start without an end in between: the first page's Request is
// given back and the second one kept.
TEST_P(PageEvents, SecondStartReplacesTheRequest)
{
    FakeRequest first;
    FakeContext firstContext(&first);
    FakeRequest second;
    FakeContext secondContext(&second);
    ASSERT_HR(S_OK, Start(&firstContext));
    ASSERT_HR(S_OK, Start(&secondContext));
    EXPECT_EQ(first.Refs(), 1);
    EXPECT_EQ(second.Refs(), 2);
    EXPECT_HR(S_OK, End());
    EXPECT_EQ(second.Refs(), 1);

    // The same page started twice keeps one reference.
    ASSERT_HR(S_OK, Start(&firstContext));
    ASSERT_HR(S_OK, Start(&firstContext));
    EXPECT_EQ(first.Refs(), 2);
    EXPECT_HR(S_OK, End());
    EXPECT_EQ(first.Refs(), 1);
}

// A failed second start (either way it can fail) leaves no reference behind:
// neither the first page's Request nor anything of the second attempt.
TEST_P(PageEvents, FailedSecondStartLeaksNothing)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, Start(&context));
    Stranger stranger(E_NOINTERFACE);
    EXPECT_HR(E_NOINTERFACE, Start(&stranger));
    End();
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(stranger.Refs(), 1);

    FakeRequest other;
    FakeContext failing(&other);
    failing.requestResult = E_FAIL;
    ASSERT_HR(S_OK, Start(&context));
    EXPECT_HR(E_FAIL, Start(&failing));
    object.Reset();
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(other.Refs(), 1);
    EXPECT_EQ(failing.Refs(), 1);
}

TEST_P(PageEvents, DestroyingTheObjectReleasesTheRequest)
{
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, Start(&context));
    EXPECT_EQ(request.Refs(), 2);
    object.Reset();
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(context.Refs(), 1);
}

// Script hosts raise the page events through IDispatch, by DISPID.
TEST_P(PageEvents, ThroughInvoke)
{
    auto dispatch = object.As<IDispatch>(IID_IDispatch);
    ASSERT_TRUE(dispatch);
    FakeRequest request;
    FakeContext context(&request);
    VARIANT arg;
    VariantInit(&arg);
    V_VT(&arg) = VT_UNKNOWN;
    V_UNKNOWN(&arg) = static_cast<IScriptingContext*>(&context);
    DISPPARAMS params{&arg, nullptr, 1, 0};
    ASSERT_HR(S_OK, dispatch->Invoke(0x60020000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params, nullptr,
                                     nullptr, nullptr));
    EXPECT_EQ(request.Refs(), 2);
    DISPPARAMS none{nullptr, nullptr, 0, 0};
    ASSERT_HR(S_OK, dispatch->Invoke(0x60020001, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &none, nullptr,
                                     nullptr, nullptr));
    EXPECT_EQ(request.Refs(), 1);
    EXPECT_EQ(context.Refs(), 1);

    // A failure reaches the script host as an exception with the record's texts.
    Stranger stranger(E_NOINTERFACE);
    V_UNKNOWN(&arg) = &stranger;
    EXCEPINFO exception{};
    const HRESULT hr = dispatch->Invoke(0x60020000, IID_NULL, LOCALE_USER_DEFAULT, DISPATCH_METHOD, &params,
                                        nullptr, &exception, nullptr);
    EXPECT_HR(DISP_E_EXCEPTION, hr);
    EXPECT_EQ(std::wstring(exception.bstrSource ? exception.bstrSource : L""), ProgId());
    EXPECT_EQ(std::wstring(exception.bstrDescription ? exception.bstrDescription : L""),
              L"Can't obtain ScriptingContext");
    SysFreeString(exception.bstrSource);
    SysFreeString(exception.bstrDescription);
    SysFreeString(exception.bstrHelpFile);
    EXPECT_EQ(stranger.Refs(), 1);
}

INSTANTIATE_TEST_SUITE_P(AllClasses, PageEvents, testing::ValuesIn(kCryptoClasses), CryptoClassName);

// The methods work the same during a page.
TEST(PageEventsMisc, MethodsWorkDuringAPage)
{
    auto misc = NewMisc();
    FakeRequest request;
    FakeContext context(&request);
    ASSERT_HR(S_OK, misc->OnStartPage(static_cast<IScriptingContext*>(&context)));
    auto blob = NewBlob();
    ASSERT_HR(S_OK, misc->InsertLongToBlob(blob.Get(), 0, 258));
    EXPECT_EQ(HexOf(blob.Get()), L"00000102");
    EXPECT_HR(S_OK, misc->OnEndPage());
}

} // namespace
