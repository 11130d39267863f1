// user32's own record of every window: the state Windows keeps in the kernel, which the
// backends mirror. Also the user-input entry points both backends (and tests) use.
#pragma once

#include <windows.h>

#include "kernel32/Strings.h"
#include "user32/Backend.h"

#include <string>
#include <vector>

namespace velmora::platform {

using kernel32::CopyCut;
using kernel32::EqualNoCase;
using kernel32::WideString;
using kernel32::WideToUtf8;

// Non-client metrics of a window with WS_CAPTION and a fixed (non-sizing) frame, as the
// classic Windows metrics give them: the client area is the outer size minus these.
constexpr int kFixedFrameWidth = 3;
constexpr int kCaptionHeight = 23;
constexpr int kStatusBarHeight = 22;

struct WindowClass {
    std::u16string name;
    UINT style = 0;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HICON smallIcon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    ControlKind kind = ControlKind::Child; // what a window of this class is drawn as
    ATOM atom = 0;
};

// What a control-colour message left in the control's device context.
struct PaintState {
    HGDIOBJ font = nullptr;
    int backgroundMode = OPAQUE;
    LRESULT brush = 0;
    bool painted = false;
};

struct Window {
    HWND handle = nullptr;
    const WindowClass* windowClass = nullptr;
    ControlKind kind = ControlKind::Child;
    WNDPROC procedure = nullptr;
    HWND parent = nullptr;
    HINSTANCE instance = nullptr;
    DWORD style = 0;
    DWORD exStyle = 0;
    int x = 0, y = 0, width = 0, height = 0; // relative to the parent's client area
    int id = 0;
    std::u16string text;
    bool visible = false;
    bool enabled = true;
    bool topMost = false;
    bool redraw = true;
    bool destroying = false;
    std::vector<HWND> children;

    // LISTBOX
    std::vector<std::u16string> items;
    int selection = -1;
    // Button
    int check = BST_UNCHECKED;
    // Browser host: the address last loaded.
    std::string address;

    PaintState paint;
    void* native = nullptr; // the backend's own object
};

// Lookup. Null for a handle that is not (or no longer) a window.
Window* FindWindowRecord(HWND window);
std::vector<Window*> TopLevelWindows();
std::vector<Window*> AllWindows();

// Client size of a window (for a top-level: outer size minus caption and frame).
void ClientSize(const Window& window, int& width, int& height);

// Registers a built-in class ("LISTBOX", "Button", ...) drawn as the given kind.
void RegisterBuiltInClass(const char16_t* name, WNDPROC procedure, ControlKind kind);
void RegisterBuiltInControls();
bool ClassRegistered(const char16_t* name);

// Whether the user can reach the window: it and every window it sits in are enabled (a
// window disabled by a modal box takes no input, nor do its controls).
bool AcceptsInput(const Window& window);

// Sends the control-colour message for a control to its parent and keeps the result.
void PaintControl(Window& control);

// Forgets every window, class and queued message (tests run the program several times in
// one process). The backend stays installed.
void ResetWindowSystem();

// Dispatches every message queued now. Returns false when a quit message was met; it is
// put back so the next GetMessageW ends the loop (as a modal loop does on Windows).
bool DispatchQueuedMessages();

// Posts the quit message's exit code has been requested and not yet retrieved.
bool QuitPending();

// Private messages carrying user input into a control's procedure. They sit in the range
// Windows reserves for the system, so no program sends them by accident.
enum InputMessage : UINT {
    kInputClick = 0x03E0,        // a button was clicked
    kInputListSelect = 0x03E1,   // wParam = row clicked once
    kInputListActivate = 0x03E2, // wParam = row double-clicked
};

// User input, as the window system delivers it: queued, then dispatched by the loop.
namespace input {
void Click(HWND button);
void ListSelect(HWND list, int row);
void ListDoubleClick(HWND list, int row);
void Close(HWND window); // the close box or the system menu's Close
} // namespace input

} // namespace velmora::platform
