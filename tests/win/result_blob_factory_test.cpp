// Result blobs come from the blob component's class object, kept per thread.
// COM may unload the blob component whenever it reports that it could
// unload; the kept class object must still work then, and once nothing of
// ours is alive both modules must be free to go.  Runs in a process of its
// own: nothing else may hold objects of either DLL.
#include "support.h"

namespace {

using zeltest::ComPtr;
using zeltest::FakeBlob;
using zeltest::HexOf;

bool Loaded(const wchar_t* module)
{
    return GetModuleHandleW(module) != nullptr;
}

void FreeUnused()
{
    // No delay: COM unloads a module on the first call that finds it idle.
    CoFreeUnusedLibrariesEx(0, 0);
    CoFreeUnusedLibrariesEx(0, 0);
}

TEST(ResultBlobFactory, OutlivesTheBlobComponentsUnloadAndLetsGoWithUs)
{
    auto misc = zeltest::NewMisc();
    FakeBlob abc("616263");
    {
        IDispatch* digest = nullptr;
        ASSERT_HR(S_OK, misc->SHA1(&abc, &digest));
        ComPtr<IDispatch> held = ComPtr<IDispatch>::Attach(digest);
        EXPECT_EQ(HexOf(held.Get()), L"a9993e364706816aba3e25717850c26c9cd0d89d");
    }
    ASSERT_TRUE(Loaded(L"zelblob.dll"));

    // No blob is alive: COM lets the blob component go, but the class
    // object zelcrypto kept must stay usable.
    FreeUnused();
    ASSERT_TRUE(Loaded(L"zelcrypto.dll"));
    ASSERT_TRUE(Loaded(L"zelblob.dll"));
    for (int i = 0; i < 2; ++i) {
        IDispatch* digest = nullptr;
        ASSERT_HR(S_OK, misc->MD5(&abc, &digest));
        ComPtr<IDispatch> held = ComPtr<IDispatch>::Attach(digest);
        EXPECT_EQ(HexOf(held.Get()), L"900150983cd24fb0d6963f7d28e17f72");
    }

    // Nothing of ours left: both modules go.
    misc.Reset();
    FreeUnused();
    EXPECT_FALSE(Loaded(L"zelcrypto.dll"));
    EXPECT_FALSE(Loaded(L"zelblob.dll"));

    // And come back: the first result blob on this thread looks the class up again.
    auto again = zeltest::NewMisc();
    IDispatch* digest = nullptr;
    ASSERT_HR(S_OK, again->SHA1(&abc, &digest));
    ComPtr<IDispatch> held = ComPtr<IDispatch>::Attach(digest);
    EXPECT_EQ(HexOf(held.Get()), L"a9993e364706816aba3e25717850c26c9cd0d89d");
}

} // namespace
