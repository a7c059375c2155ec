// The one place that defines the identifiers the test programs use: the
// generated headers of both DLLs and the page objects' interfaces.
#include <windows.h>
#include <oaidl.h>

#include <initguid.h>

#include <asptlb.h>

#include "server/zelcrypto.h"
#include "zelblob/zelblob.h"
