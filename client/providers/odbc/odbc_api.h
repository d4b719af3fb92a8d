#pragma once
// The ODBC API: unixODBC's headers on Linux, the Windows SDK's on Windows,
// whose sql.h needs the Windows types declared before it.

#if defined(_WIN32)
#include "framework/rtl/windows_api.h"
#endif

#include <sql.h>
#include <sqlext.h>
