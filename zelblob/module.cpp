// zelblob.dll: the blob class and the four exported entry points.
#include "com/com_dispatch.h"
#include "com/com_server.h"
#include "zelblob/blob_object.h"

namespace {

const zel::ClassEntry kClasses[] = {
    {&CLSID_ZELBlob, L"Valdergast.ZELBlob", zel::CreateComObject<CZELBlob>},
};

const zel::ServerInfo kServer = {
    kClasses, sizeof(kClasses) / sizeof(kClasses[0]), L"2", &LIBID_ZELBlobLib, 2, 0, 1033, nullptr, nullptr, nullptr,
};

} // namespace

extern "C" {

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID reserved)
{
    if (reason == DLL_PROCESS_DETACH && !reserved)
        zel::ReleaseTypeLibrary();
    return TRUE;
}

STDAPI DllGetClassObject(REFCLSID clsid, REFIID riid, void** out)
{
    return zel::GetClassObject(kServer, clsid, riid, out);
}

STDAPI DllCanUnloadNow()
{
    return zel::CanUnloadNow();
}

STDAPI DllRegisterServer()
{
    return zel::RegisterServer(kServer);
}

STDAPI DllUnregisterServer()
{
    return zel::UnregisterServer(kServer);
}

} // extern "C"
