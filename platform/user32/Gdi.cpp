// The little of GDI the program's control-colour handler calls. The backends draw the
// controls themselves, so user32 never sends the control-colour messages and no device
// context exists: these answer as Windows does for a handle that is not one.
#include <windows.h>

HGDIOBJ WINAPI GetStockObject(int object) {
    // Fixed, distinct handles.
    static char stockObjects[DEFAULT_GUI_FONT + 1];
    if (object < 0 || object > DEFAULT_GUI_FONT)
        return nullptr;
    return &stockObjects[object];
}

HGDIOBJ WINAPI SelectObject(HDC, HGDIOBJ) {
    return nullptr;
}

int WINAPI SetBkMode(HDC, int) {
    return 0;
}
