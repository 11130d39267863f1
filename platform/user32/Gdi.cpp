// The little of GDI the control-colour messages use. A control's device context is its
// paint state (see PaintControl); stock objects are fixed, distinct handles.
#include "user32/WindowStore.h"

namespace velmora::platform {
namespace {
PaintState* PaintStateOf(HDC dc) {
    uintptr_t value = reinterpret_cast<uintptr_t>(dc);
    if (!(value & 1))
        return nullptr;
    Window* window = FindWindowRecord(reinterpret_cast<HWND>(value & ~uintptr_t(1)));
    return window ? &window->paint : nullptr;
}
} // namespace
} // namespace velmora::platform

using namespace velmora::platform;

HGDIOBJ WINAPI GetStockObject(int object) {
    static char stockObjects[20];
    if (object < 0 || object >= (int)sizeof stockObjects)
        return nullptr;
    return &stockObjects[object];
}

HGDIOBJ WINAPI SelectObject(HDC dc, HGDIOBJ object) {
    PaintState* state = PaintStateOf(dc);
    if (!state || !object)
        return nullptr;
    HGDIOBJ previous = state->font ? state->font : GetStockObject(DEFAULT_GUI_FONT);
    state->font = object;
    return previous;
}

int WINAPI SetBkMode(HDC dc, int mode) {
    PaintState* state = PaintStateOf(dc);
    if (!state || (mode != TRANSPARENT && mode != OPAQUE))
        return 0;
    int previous = state->backgroundMode;
    state->backgroundMode = mode;
    return previous;
}
