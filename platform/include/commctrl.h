// Common controls subset for the Linux build.
#pragma once

#include <windows.h>

#define STATUSCLASSNAMEW L"msctls_statusbar32"
#define SB_SETTEXTW (WM_USER + 11)
#define SB_GETTEXTLENGTHW (WM_USER + 12)
#define SB_GETTEXTW (WM_USER + 13)

void WINAPI InitCommonControls(void);
HWND WINAPI CreateStatusWindowW(LONG style, LPCWSTR text, HWND parent, UINT id);
