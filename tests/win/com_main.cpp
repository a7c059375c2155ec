// main() of every COM test program: the tests run on a single-threaded
// apartment, as a script host's would.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>

int main(int argc, char** argv)
{
    testing::InitGoogleTest(&argc, argv);
    const HRESULT hr = CoInitialize(nullptr);
    if (FAILED(hr)) {
        std::fprintf(stderr, "CoInitialize failed: 0x%08lx\n", static_cast<unsigned long>(hr));
        return 2;
    }
    const int result = RUN_ALL_TESTS();
    CoUninitialize();
    return result;
}
