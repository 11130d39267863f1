// The "Button" control: a push button, or a check box that keeps its check mark.
#include "user32/WindowStore.h"

using namespace velmora::platform;

namespace {

struct Button final : ControlState {
    int check = BST_UNCHECKED;
    bool spaceDown = false; // Space pressed on the button and not yet released

    void SetCheck(Window& window, int value) {
        if (check == value)
            return;
        check = value;
        CurrentBackend().CheckChanged(window, check == BST_CHECKED);
    }

    void Click(Window& window) {
        // An automatic check box flips its own mark before telling its parent.
        if ((window.style & BS_TYPEMASK) == BS_AUTOCHECKBOX)
            SetCheck(window, check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED);
        NotifyParent(window, BN_CLICKED);
    }

    LRESULT Message(Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
        switch (message) {
        case BM_GETCHECK:
            return check;
        case BM_SETCHECK:
            if (window.kind == ControlKind::CheckBox)
                SetCheck(window, (int)wParam);
            return 0;
        case kInputClick:
            Click(window);
            return 0;
        case WM_GETDLGCODE:
            return window.kind == ControlKind::CheckBox ? DLGC_BUTTON
                                                        : DLGC_BUTTON | DLGC_UNDEFPUSHBUTTON;
        // Space clicks the button with the focus when it is let go, as a mouse button does.
        case WM_KEYDOWN:
            if (wParam == VK_SPACE)
                spaceDown = true;
            return 0;
        case WM_KEYUP:
            if (wParam == VK_SPACE && spaceDown) {
                spaceDown = false;
                Click(window);
            }
            return 0;
        default:
            return DefWindowProcW(window.handle, message, wParam, lParam);
        }
    }
};

} // namespace

const WNDPROC velmora::platform::ButtonProc = ControlProc<Button>;
