// Common controls subset for the Linux build.
#pragma once

#include <windows.h>

#define STATUSCLASSNAMEW L"msctls_statusbar32"

void WINAPI InitCommonControls(void);
HWND WINAPI CreateStatusWindowW(LONG style, LPCWSTR text, HWND parent, UINT id);
