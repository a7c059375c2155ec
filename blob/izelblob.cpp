#include "blob/izelblob.h"

// {ACD34106-BFF9-47DF-9AD5-DF90B97CF21B}, the same value as the coclass in zelblob.idl.
EXTERN_C const CLSID CLSID_ZELBlob = {0xacd34106, 0xbff9, 0x47df, {0x9a, 0xd5, 0xdf, 0x90, 0xb9, 0x7c, 0xf2, 0x1b}};
