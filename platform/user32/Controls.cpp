// The built-in control classes: LISTBOX, Button, Static and the status bar.
#include "user32/WindowStore.h"

#include <commctrl.h>

namespace velmora::platform {
namespace {

void Notify(Window& control, WORD code) {
    if (control.parent)
        SendMessageW(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code),
                     (LPARAM)control.handle);
}

// LB_GETTEXT and SB_GETTEXTW trust the caller's buffer to hold the whole text.
LRESULT CopyWhole(const std::u16string& text, LPARAM buffer) {
    if (!buffer)
        return LB_ERR;
    return (LRESULT)CopyCut(text, reinterpret_cast<WCHAR*>(buffer), text.size() + 1);
}

void Select(Window& list, int row) {
    if (list.selection != row) {
        list.selection = row;
        CurrentBackend().ListSelectionChanged(list);
    }
}

LRESULT CALLBACK ListBoxProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* list = FindWindowRecord(handle);
    if (!list)
        return 0;
    const int count = (int)list->items.size();
    switch (message) {
    case LB_ADDSTRING:
        list->items.push_back(WideString(reinterpret_cast<LPCWSTR>(lParam)));
        CurrentBackend().ListAdd(*list, WideToUtf8(list->items.back()));
        return (LRESULT)(list->items.size() - 1);
    case LB_RESETCONTENT:
        list->items.clear();
        list->selection = -1;
        CurrentBackend().ListReset(*list);
        return TRUE;
    case LB_SETCURSEL: {
        int row = (int)wParam;
        bool valid = row >= 0 && row < count;
        Select(*list, valid ? row : -1);
        return valid ? row : LB_ERR;
    }
    case LB_GETCURSEL:
        return list->selection >= 0 ? list->selection : LB_ERR;
    case LB_GETCOUNT:
        return count;
    case LB_GETTEXT:
        if ((int)wParam < 0 || (int)wParam >= count)
            return LB_ERR;
        return CopyWhole(list->items[wParam], lParam);
    case LB_GETTEXTLEN:
        if ((int)wParam < 0 || (int)wParam >= count)
            return LB_ERR;
        return (LRESULT)list->items[wParam].size();
    case LB_INITSTORAGE:
        list->items.reserve(list->items.size() + wParam);
        return (LRESULT)list->items.capacity();
    case kInputListSelect: {
        int row = (int)wParam;
        if (row < 0 || row >= count)
            return 0;
        bool changed = list->selection != row;
        Select(*list, row);
        if (changed && (list->style & LBS_NOTIFY))
            Notify(*list, LBN_SELCHANGE);
        return 0;
    }
    case kInputListActivate: {
        // A double-click on a row selects it; one below the last row keeps the selection.
        int row = (int)wParam;
        if (row >= 0 && row < count && list->selection != row) {
            Select(*list, row);
            if (list->style & LBS_NOTIFY)
                Notify(*list, LBN_SELCHANGE);
            list = FindWindowRecord(handle);
            if (!list)
                return 0;
        }
        if (list->style & LBS_NOTIFY)
            Notify(*list, LBN_DBLCLK);
        return 0;
    }
    default:
        return DefWindowProcW(handle, message, wParam, lParam);
    }
}

LRESULT CALLBACK ButtonProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* button = FindWindowRecord(handle);
    if (!button)
        return 0;
    switch (message) {
    case BM_GETCHECK:
        return button->check;
    case BM_SETCHECK:
        if (button->kind == ControlKind::CheckBox && button->check != (int)wParam) {
            button->check = (int)wParam;
            CurrentBackend().CheckChanged(*button);
            PaintControl(*button);
        }
        return 0;
    case BM_CLICK:
    case kInputClick:
        if (!button->enabled)
            return 0;
        // An automatic check box flips its own mark before telling its parent.
        if ((button->style & BS_TYPEMASK) == BS_AUTOCHECKBOX) {
            button->check = button->check == BST_CHECKED ? BST_UNCHECKED : BST_CHECKED;
            CurrentBackend().CheckChanged(*button);
            PaintControl(*button);
            button = FindWindowRecord(handle);
            if (!button)
                return 0;
        }
        Notify(*button, BN_CLICKED);
        return 0;
    default:
        return DefWindowProcW(handle, message, wParam, lParam);
    }
}

LRESULT CALLBACK StaticProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    return DefWindowProcW(handle, message, wParam, lParam);
}

LRESULT CALLBACK StatusBarProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case SB_SETTEXTW:
        if (LOWORD(wParam) != 0)
            return TRUE; // single-part bar: other parts do not exist
        return DefWindowProcW(handle, WM_SETTEXT, 0, lParam);
    case SB_GETTEXTLENGTHW:
        return DefWindowProcW(handle, WM_GETTEXTLENGTH, 0, 0);
    case SB_GETTEXTW: {
        Window* bar = FindWindowRecord(handle);
        if (!bar || !lParam)
            return 0;
        return CopyWhole(bar->text, lParam);
    }
    default:
        return DefWindowProcW(handle, message, wParam, lParam);
    }
}

} // namespace

void RegisterBuiltInControls() {
    RegisterBuiltInClass(u"LISTBOX", ListBoxProc, ControlKind::ListBox);
    RegisterBuiltInClass(u"Button", ButtonProc, ControlKind::PushButton);
    RegisterBuiltInClass(u"Static", StaticProc, ControlKind::Static);
    RegisterBuiltInClass(u"msctls_statusbar32", StatusBarProc, ControlKind::StatusBar);
}

void PaintControl(Window& control) {
    UINT message;
    switch (control.kind) {
    case ControlKind::ListBox:
        message = WM_CTLCOLORLISTBOX;
        break;
    case ControlKind::PushButton:
        message = WM_CTLCOLORBTN;
        break;
    case ControlKind::CheckBox:
    case ControlKind::Static:
        message = WM_CTLCOLORSTATIC;
        break;
    default:
        return;
    }
    if (!control.parent)
        return;
    HWND handle = control.handle;
    // The device context is the control's own paint state, found again from the handle.
    HDC dc = reinterpret_cast<HDC>(reinterpret_cast<uintptr_t>(handle) | 1);
    LRESULT brush = SendMessageW(control.parent, message, (WPARAM)dc, (LPARAM)handle);
    if (Window* painted = FindWindowRecord(handle)) {
        painted->paint.brush = brush;
        painted->paint.painted = true;
    }
}

} // namespace velmora::platform

using namespace velmora::platform;

void WINAPI InitCommonControls(void) {
    // The status bar class is built in; there is nothing to load.
}

HWND WINAPI CreateStatusWindowW(LONG style, LPCWSTR text, HWND parent, UINT id) {
    Window* parentRecord = FindWindowRecord(parent);
    int width = 0, height = 0;
    if (parentRecord)
        ClientSize(*parentRecord, width, height);
    // A status bar docks itself along the bottom of its parent's client area.
    return CreateWindowExW(0, STATUSCLASSNAMEW, text, (DWORD)style, 0, height - kStatusBarHeight,
                           width, kStatusBarHeight, parent, (HMENU)(UINT_PTR)id, nullptr, nullptr);
}
