// A DLL that calls the engine's compression, so that the import check sees
// what linking zlib (statically, from the MinGW build of it) brings into a
// DLL whatever the shipped DLLs call yet.
#include "pgp/compression.h"

#include <cstddef>
#include <cstdint>

extern "C" __declspec(dllexport) uint32_t ZelCompressionProbe(const uint8_t* data, size_t n)
{
    const XBlob packed = Compress(XCompression::kZlib, data, n);
    return Decompress(XCompression::kZlib, packed.Data(), packed.Length(), n).Length();
}
