// Window classes and windows: creation, destruction, text, visibility, size, z-order.
#include "user32/WindowStore.h"

#include <algorithm>
#include <map>
#include <memory>

namespace velmora::platform {
namespace {

struct Store {
    std::vector<std::unique_ptr<WindowClass>> classes;
    std::map<HWND, std::unique_ptr<Window>> windows;
    uintptr_t nextHandle = 0x10010;
    ATOM nextAtom = 0xC000;
};

Store& TheStore() {
    static Store store;
    return store;
}

// By name: the program never names a class by its atom.
WindowClass* FindClass(LPCWSTR name) {
    std::u16string wanted = WideString(name);
    for (auto& cls : TheStore().classes)
        if (EqualNoCase(cls->name, wanted))
            return cls.get();
    return nullptr;
}

ATOM AddClass(WindowClass cls) {
    TheStore().classes.push_back(std::make_unique<WindowClass>(std::move(cls)));
    return TheStore().nextAtom++;
}

// Calls visit on each window of the tree that still exists when the walk comes to it, parents
// before children or children before parents: a message sent on the way may destroy windows.
template <class Visit> void WalkTree(HWND handle, bool parentsFirst, const Visit& visit) {
    if (Window* window = FindWindowRecord(handle); window && parentsFirst)
        visit(*window);
    if (Window* window = FindWindowRecord(handle))
        for (HWND child : std::vector<HWND>(window->children))
            WalkTree(child, parentsFirst, visit);
    if (Window* window = FindWindowRecord(handle); window && !parentsFirst)
        visit(*window);
}

// Drops the records of a tree (children first), taking each out of its parent's list.
void ForgetTree(HWND handle) {
    WalkTree(handle, false, [](Window& window) {
        if (Window* parent = FindWindowRecord(window.parent)) {
            auto& siblings = parent->children;
            siblings.erase(std::remove(siblings.begin(), siblings.end(), window.handle),
                           siblings.end());
        }
        ForgetFocus(window.handle);
        if (HasBackend())
            CurrentBackend().Destroy(window);
        TheStore().windows.erase(window.handle);
    });
}

} // namespace

Window* FindWindowRecord(HWND window) {
    auto& windows = TheStore().windows;
    auto found = windows.find(window);
    return found == windows.end() ? nullptr : found->second.get();
}

std::vector<Window*> TopLevelWindows() {
    std::vector<Window*> result;
    for (auto& [handle, window] : TheStore().windows)
        if (!window->parent)
            result.push_back(window.get());
    return result;
}

void ClientSize(const Window& window, int& width, int& height) {
    bool framed = !window.parent && (window.style & WS_CAPTION) == WS_CAPTION;
    width = std::max(window.width - (framed ? 2 * kFixedFrameWidth : 0), 0);
    height = std::max(window.height - (framed ? 2 * kFixedFrameWidth + kCaptionHeight : 0), 0);
}

void RegisterBuiltInClass(LPCWSTR name, WNDPROC procedure, ControlKind kind) {
    if (!FindClass(name))
        AddClass({WideString(name), CS_DBLCLKS, procedure, {}, {}, {}, {}, kind});
}

void ResetWindowSystem() {
    for (Window* window : TopLevelWindows())
        ForgetTree(window->handle);
    TheStore().windows.clear();
    TheStore().classes.clear();
    ResetQueue();
    ResetKeyboard();
    RegisterBuiltInClass(L"LISTBOX", ListBoxProc, ControlKind::ListBox);
    RegisterBuiltInClass(L"Button", ButtonProc, ControlKind::PushButton);
    // A static control keeps nothing but its window text.
    RegisterBuiltInClass(L"Static", DefWindowProcW, ControlKind::Static);
}

void NotifyParent(const Window& control, WORD code) {
    if (control.parent)
        SendMessageW(control.parent, WM_COMMAND, MAKEWPARAM(control.id, code),
                     (LPARAM)control.handle);
}

} // namespace velmora::platform

using namespace velmora::platform;

ATOM WINAPI RegisterClassExW(const WNDCLASSEXW* windowClass) {
    if (!windowClass || windowClass->cbSize != sizeof(WNDCLASSEXW) || !windowClass->lpszClassName ||
        !windowClass->lpfnWndProc)
        return Fail<ATOM>(ERROR_INVALID_PARAMETER);
    if (FindClass(windowClass->lpszClassName))
        return Fail<ATOM>(ERROR_CLASS_ALREADY_EXISTS);
    return AddClass({WideString(windowClass->lpszClassName), windowClass->style,
                     windowClass->lpfnWndProc, windowClass->hInstance, windowClass->hIcon,
                     windowClass->hCursor, windowClass->hbrBackground});
}

HWND WINAPI CreateWindowExW(DWORD exStyle, LPCWSTR className, LPCWSTR windowName, DWORD style,
                            int x, int y, int width, int height, HWND parent, HMENU menu,
                            HINSTANCE instance, LPVOID param) {
    WindowClass* cls = FindClass(className);
    if (!cls)
        return Fail<HWND>(ERROR_CANNOT_FIND_WND_CLASS);
    if (parent && !FindWindowRecord(parent))
        return Fail<HWND>(ERROR_INVALID_WINDOW_HANDLE);
    if ((style & WS_CHILD) && !parent)
        return Fail<HWND>(ERROR_INVALID_PARAMETER);

    ControlKind kind = parent ? cls->kind : ControlKind::TopLevel;
    DWORD type = style & BS_TYPEMASK;
    if (kind == ControlKind::PushButton && (type == BS_CHECKBOX || type == BS_AUTOCHECKBOX))
        kind = ControlKind::CheckBox;
    // Windows places a default-positioned top-level window itself; this is its first
    // default place. Only x says CW_USEDEFAULT: Windows then ignores y, whatever it holds.
    const bool placed = x != CW_USEDEFAULT;
    Store& store = TheStore();
    HWND handle = reinterpret_cast<HWND>(store.nextHandle);
    store.nextHandle += 4;
    auto& record = store.windows[handle];
    record = std::make_unique<Window>(
        Window{handle, cls, kind, parent, style, exStyle, placed ? x : 26, placed ? y : 26, width,
               height, parent ? (int)(INT_PTR)menu : 0, WideString(windowName), false,
               std::vector<HWND>(), nullptr});
    Window* window = record.get();
    if (Window* parentRecord = FindWindowRecord(parent))
        parentRecord->children.push_back(handle);
    CurrentBackend().Create(*window);

    CREATESTRUCTW create = {param, instance, menu,        parent,     height,    width,
                            y,     x,        (LONG)style, windowName, className, exStyle};
    if (!SendMessageW(handle, WM_NCCREATE, 0, (LPARAM)&create) ||
        SendMessageW(handle, WM_CREATE, 0, (LPARAM)&create) == -1) {
        DestroyWindow(handle);
        return nullptr;
    }
    window = FindWindowRecord(handle);
    if (!window)
        return nullptr; // destroyed during its own creation
    if (window->visible())
        CurrentBackend().Show(*window, true);
    return handle;
}

BOOL WINAPI DestroyWindow(HWND handle) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    // Asked again from within its own destruction (a WM_DESTROY handler): already going.
    if (window->destroying)
        return TRUE;
    if (window->visible()) {
        window->style &= ~WS_VISIBLE;
        CurrentBackend().Show(*window, false);
    }
    // As on Windows: every window of the tree hears WM_DESTROY, parents before children, and
    // only then WM_NCDESTROY, children before parents.
    WalkTree(handle, true, [](Window& going) {
        going.destroying = true;
        SendMessageW(going.handle, WM_DESTROY, 0, 0);
    });
    WalkTree(handle, false, [](Window& going) { SendMessageW(going.handle, WM_NCDESTROY, 0, 0); });
    ForgetTree(handle);
    return TRUE;
}

BOOL WINAPI IsWindow(HWND handle) {
    return FindWindowRecord(handle) != nullptr;
}

BOOL WINAPI ShowWindow(HWND handle, int command) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return FALSE;
    bool wasVisible = window->visible();
    if ((command != SW_HIDE) != wasVisible) {
        window->style ^= WS_VISIBLE;
        CurrentBackend().Show(*window, !wasVisible);
    }
    return wasVisible;
}

BOOL WINAPI IsWindowVisible(HWND handle) {
    Window* window = FindWindowRecord(handle);
    for (; window && window->visible(); window = FindWindowRecord(window->parent))
        if (!window->parent)
            return TRUE;
    return FALSE;
}

BOOL WINAPI EnableWindow(HWND handle, BOOL enable) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return FALSE;
    bool wasDisabled = !window->enabled();
    if (wasDisabled == (enable != FALSE)) {
        window->style ^= WS_DISABLED;
        CurrentBackend().EnabledChanged(*window);
    }
    return wasDisabled;
}

BOOL WINAPI IsWindowEnabled(HWND handle) {
    Window* window = FindWindowRecord(handle);
    return window && window->enabled();
}

HWND WINAPI GetParent(HWND handle) {
    Window* window = FindWindowRecord(handle);
    return window ? window->parent : nullptr;
}

BOOL WINAPI IsChild(HWND parent, HWND handle) {
    for (Window* window = FindWindowRecord(handle); window && window->parent;
         window = FindWindowRecord(window->parent))
        if (window->parent == parent)
            return TRUE;
    return FALSE;
}

BOOL WINAPI SetWindowTextW(HWND handle, LPCWSTR text) {
    return SendMessageW(handle, WM_SETTEXT, 0, (LPARAM)text) ? TRUE : FALSE;
}

int WINAPI GetWindowTextW(HWND handle, LPWSTR buffer, int size) {
    if (!buffer || size <= 0)
        return 0;
    buffer[0] = 0;
    return (int)SendMessageW(handle, WM_GETTEXT, (WPARAM)size, (LPARAM)buffer);
}

BOOL WINAPI GetClientRect(HWND handle, LPRECT rect) {
    Window* window = FindWindowRecord(handle);
    if (!window || !rect)
        return FALSE;
    int width, height;
    ClientSize(*window, width, height);
    *rect = RECT{0, 0, width, height};
    return TRUE;
}

BOOL WINAPI InvalidateRect(HWND handle, const RECT* rect, BOOL erase) {
    (void)erase; // backgrounds are always repainted with what lies behind
    Window* window = FindWindowRecord(handle);
    if (!window)
        return FALSE;
    CurrentBackend().Invalidate(*window, rect);
    return TRUE;
}

BOOL WINAPI SetRect(LPRECT rect, int left, int top, int right, int bottom) {
    if (!rect)
        return FALSE;
    *rect = RECT{left, top, right, bottom};
    return TRUE;
}

// The program only pins and unpins its window (SWP_NOMOVE | SWP_NOSIZE): the topmost state
// of a top-level window is all this changes.
BOOL WINAPI SetWindowPos(HWND handle, HWND insertAfter, int, int, int, int, UINT) {
    Window* window = FindWindowRecord(handle);
    if (!window)
        return Fail(ERROR_INVALID_WINDOW_HANDLE);
    if (!window->parent && (insertAfter == HWND_TOPMOST || insertAfter == HWND_NOTOPMOST)) {
        window->exStyle = insertAfter == HWND_TOPMOST ? window->exStyle | WS_EX_TOPMOST
                                                      : window->exStyle & ~WS_EX_TOPMOST;
        CurrentBackend().TopMostChanged(*window);
    }
    return TRUE;
}
