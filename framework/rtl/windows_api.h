#pragma once
// windows.h for the Windows side of the platform layer, and only there: its
// macros (DeleteFile, GetObject, min, max, ...) must not reach other code.

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
