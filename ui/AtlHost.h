// The two entry points of the ATL control host (atl.dll). The MinGW SDK has no ATL
// headers, so they are declared here; the import library is built from atl-*.def.
#pragma once

#include <windows.h>

// A message loop hands the host a message for the control inside it first (lParam: the MSG);
// the host answers TRUE when the control used it.
#define WM_FORWARDMSG 0x037F

extern "C" {
BOOL WINAPI AtlAxWinInit(void);
HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control);
}
