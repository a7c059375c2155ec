// The frame every scriptable method runs in: it turns IDispatch arguments into
// the XBlob buffers inside blob objects, creates a fresh blob for a byte
// result, locks and unlocks every blob exactly once, runs the engine call, and
// maps failures onto HRESULTs and error records.
//
//   Frame f(Identity());
//   return f.Call({src}, dest, Frame::kClearResult, [&] {
//       f.Result().Assign(DigestMD5(f.Source(0)));
//       return S_OK;
//   });
#pragma once

#include "blob/izelblob.h"
#include "core/alarm.h"
#include "objects/object_base.h"

#include <initializer_list>

// Result blobs come from the blob component's class object, kept per thread
// from the first result on.  ReleaseBlobFactories lets go of every thread's
// (when the module has no objects left and may be unloaded); the next result
// blob on a thread looks the class up again.  ForgetBlobFactories, when the
// module unloads, releases the class objects and frees the bookkeeping, but
// leaves the blob component loaded (no FreeLibrary under the loader lock).
void ReleaseBlobFactories();
void ForgetBlobFactories();

class Frame {
public:
    enum ResultStart { kClearResult, kKeepResult };

    // Clears the thread's error record: a failure reported without one must
    // not let a caller find an older record and take it for this call's.
    explicit Frame(const ClassIdentity& identity) : identity_(identity) { SetErrorInfo(0, nullptr); }
    Frame(const Frame&) = delete;
    Frame& operator=(const Frame&) = delete;
    // Unlocks whatever is still locked and releases every blob it holds.
    ~Frame();

    // The whole frame: acquire the sources, create the result blob (when
    // `result` is not null), lock and open every buffer, run `body`, unlock,
    // hand the result out.  `body` returns an HRESULT; a failed one ends the
    // call without a record and without a result.
    template <class Body>
    HRESULT Call(std::initializer_list<IDispatch*> sources, IDispatch** result, ResultStart start, Body&& body);
    template <class Body>
    HRESULT Call(std::initializer_list<IDispatch*> sources, Body&& body)
    {
        return Steps(sources, nullptr, static_cast<Body&&>(body));
    }

    // The steps, for methods whose arguments do not fit Call.
    // AddSource: a blob argument; anything else is reported and gives E_FAIL.
    HRESULT AddSource(IDispatch* argument);
    // AddOptionalSource: a blob argument that counts as absent when it is not one.
    bool AddOptionalSource(IDispatch* argument);
    HRESULT AddResult();
    HRESULT Open();
    template <class Body>
    HRESULT Run(Body&& body);
    HRESULT HandOut(IDispatch** result);

private:
    template <class Body>
    HRESULT Steps(std::initializer_list<IDispatch*> sources, IDispatch** result, Body&& body);

public:
    XBlob& Source(size_t index) { return *blobs_[index].buffer; }
    XBlob& Result() { return *blobs_[resultIndex_].buffer; }

private:
    static constexpr size_t kMaxBlobs = 4;
    struct Blob {
        IZELBlob* blob;
        XBlob* buffer;
        bool locked;
    };

    void UnlockAll();

    const ClassIdentity& identity_;
    Blob blobs_[kMaxBlobs] = {};
    size_t count_ = 0;
    size_t resultIndex_ = kMaxBlobs;
};

template <class Body>
HRESULT Frame::Run(Body&& body)
{
    HRESULT hr;
    try {
        hr = body();
    } catch (const XAlarm& alarm) {
        UnlockAll();
        return identity_.ReportAlarm(alarm);
    } catch (...) {
        UnlockAll();
        return E_UNEXPECTED;
    }
    UnlockAll();
    return hr;
}

template <class Body>
HRESULT Frame::Call(std::initializer_list<IDispatch*> sources, IDispatch** result, ResultStart start, Body&& body)
{
    // A method with a blob result needs somewhere to put it.
    if (!result)
        return E_POINTER;
    if (start == kClearResult)
        *result = nullptr;
    return Steps(sources, result, static_cast<Body&&>(body));
}

template <class Body>
HRESULT Frame::Steps(std::initializer_list<IDispatch*> sources, IDispatch** result, Body&& body)
{
    HRESULT hr = S_OK;
    for (IDispatch* source : sources) {
        if (FAILED(hr = AddSource(source)))
            return hr;
    }
    if (result && FAILED(hr = AddResult()))
        return hr;
    if (FAILED(hr = Open()) || FAILED(hr = Run(static_cast<Body&&>(body))))
        return hr;
    return result ? HandOut(result) : hr;
}
