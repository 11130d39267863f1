// The keyboard: the focus window, and the dialog keys IsDialogMessageW gives a window that
// is not a dialog (Tab, Shift+Tab, Enter, Esc).
#include "user32/WindowStore.h"

#include <algorithm>

namespace velmora::platform {
namespace {

struct Keyboard {
    HWND focus = nullptr;
    bool shiftDown = false;
};

Keyboard& TheKeyboard() {
    static Keyboard keyboard;
    return keyboard;
}

// The child of dialog that is window or holds it; null when window is not inside dialog.
HWND ChildHolding(HWND dialog, HWND window) {
    for (Window* at = FindWindowRecord(window); at; at = FindWindowRecord(at->parent))
        if (at->parent == dialog)
            return at->handle;
    return nullptr;
}

// The next control with WS_TABSTOP after from, in z-order (the order the children were made
// in), going round; from anything but a child of dialog, the first (Shift: the last). A
// control hidden or disabled itself is passed over.
HWND NextTabStop(const Window& dialog, HWND from, bool backwards) {
    std::vector<HWND> order = dialog.children;
    if (backwards)
        std::reverse(order.begin(), order.end());
    auto at = std::find(order.begin(), order.end(), ChildHolding(dialog.handle, from));
    if (at != order.end())
        std::rotate(order.begin(), at + 1, order.end());
    for (HWND handle : order)
        if (Window* child = FindWindowRecord(handle);
            child && (child->style & WS_TABSTOP) && child->visible() && child->enabled())
            return handle;
    return nullptr;
}

HWND ChildWithId(HWND dialog, int id) {
    if (Window* window = FindWindowRecord(dialog))
        for (HWND handle : window->children)
            if (Window* child = FindWindowRecord(handle); child && child->id == id)
                return handle;
    return nullptr;
}

// Enter where the focus does not want it: the default button's command (DM_GETDEFID), or
// IDOK when the window names none. A disabled default button is not pressed.
void PressDefault(HWND dialog) {
    LRESULT answer = SendMessageW(dialog, DM_GETDEFID, 0, 0);
    int id = HIWORD(answer) == DC_HASDEFID ? LOWORD(answer) : IDOK;
    HWND button = ChildWithId(dialog, id);
    if (!button || IsWindowEnabled(button))
        SendMessageW(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), (LPARAM)button);
}

} // namespace

void ForgetFocus(HWND window) {
    if (TheKeyboard().focus == window)
        TheKeyboard().focus = nullptr;
}

void NoteKeyRetrieved(const MSG& message) {
    if ((message.message == WM_KEYDOWN || message.message == WM_KEYUP) &&
        message.wParam == VK_SHIFT)
        TheKeyboard().shiftDown = message.message == WM_KEYDOWN;
}

void ResetKeyboard() {
    TheKeyboard() = Keyboard{};
}

} // namespace velmora::platform

using namespace velmora::platform;

HWND WINAPI SetFocus(HWND handle) {
    Window* window = FindWindowRecord(handle);
    if (handle && !window)
        return Fail<HWND>(ERROR_INVALID_WINDOW_HANDLE);
    HWND previous = TheKeyboard().focus;
    if (handle != previous) {
        TheKeyboard().focus = handle;
        CurrentBackend().FocusChanged(window && window->parent ? window : nullptr);
    }
    return previous;
}

HWND WINAPI GetFocus(void) {
    return TheKeyboard().focus;
}

BOOL WINAPI IsDialogMessageW(HWND dialog, LPMSG message) {
    Window* window = FindWindowRecord(dialog);
    if (!window || !message || (message->hwnd != dialog && !IsChild(dialog, message->hwnd)))
        return FALSE;
    if (message->message == WM_KEYDOWN) {
        // What the control with the key wants for itself (a list box: the arrows).
        LRESULT wants =
            SendMessageW(message->hwnd, WM_GETDLGCODE, message->wParam, (LPARAM)message);
        switch (message->wParam) {
        case VK_TAB:
            if (wants & DLGC_WANTTAB)
                break;
            if (HWND next = NextTabStop(*window, GetFocus(), TheKeyboard().shiftDown))
                SetFocus(next);
            return TRUE;
        case VK_RETURN:
            if (wants & DLGC_WANTALLKEYS)
                break;
            PressDefault(dialog);
            return TRUE;
        case VK_ESCAPE:
            if (wants & DLGC_WANTALLKEYS)
                break;
            SendMessageW(dialog, WM_COMMAND, IDCANCEL, (LPARAM)ChildWithId(dialog, IDCANCEL));
            return TRUE;
        default:
            break;
        }
    }
    // Everything else goes to its window as the message loop would send it.
    TranslateMessage(message);
    DispatchMessageW(message);
    return TRUE;
}
