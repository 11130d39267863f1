// Shell subset for the Linux build.
#pragma once

#include <windows.h>

// Succeeds with a value greater than 32, as on Windows.
HINSTANCE WINAPI ShellExecuteW(HWND owner, LPCWSTR operation, LPCWSTR file, LPCWSTR parameters,
                               LPCWSTR directory, INT showCommand);

#define SE_ERR_NOASSOC 31
