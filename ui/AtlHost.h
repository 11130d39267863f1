// The two entry points of the ATL control host (atl.dll). The MinGW SDK has no ATL
// headers, so they are declared here; the import library is built from atl-*.def.
#pragma once

#include <windows.h>

extern "C" {
BOOL WINAPI AtlAxWinInit(void);
HRESULT WINAPI AtlAxGetControl(HWND host, IUnknown** control);
}
