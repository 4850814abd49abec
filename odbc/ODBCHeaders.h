// The ODBC API headers, the same on every system. Windows' headers use its
// base types (HWND, DWORD, ...) without including them, so they come first
// there: windef.h alone, without the API names of windows.h, which would turn
// names such as GetEnvironmentVariable into macros.
#pragma once

#if defined(_WIN32)
#include <windef.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
