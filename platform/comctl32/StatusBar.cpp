// comctl32: the status bar, a single-part bar showing its window text along the bottom of
// its parent's client area.
#include "user32/WindowStore.h"

#include <commctrl.h>

using namespace velmora::platform;

namespace {
constexpr int kStatusBarHeight = 22;
}

void WINAPI InitCommonControls(void) {
    // The window text is all a bar keeps, so the default procedure serves it.
    RegisterBuiltInClass(STATUSCLASSNAMEW, DefWindowProcW, ControlKind::StatusBar);
}

HWND WINAPI CreateStatusWindowW(LONG style, LPCWSTR text, HWND parent, UINT id) {
    // comctl32 has its classes from the moment it is loaded: the program makes its bar
    // before it calls InitCommonControls.
    InitCommonControls();
    Window* parentRecord = FindWindowRecord(parent);
    int width = 0, height = 0;
    if (parentRecord)
        ClientSize(*parentRecord, width, height);
    return CreateWindowExW(0, STATUSCLASSNAMEW, text, (DWORD)style, 0, height - kStatusBarHeight,
                           width, kStatusBarHeight, parent, (HMENU)(UINT_PTR)id, nullptr, nullptr);
}
