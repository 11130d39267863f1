// user32's own record of every window: the state Windows keeps in the kernel, which the
// backends mirror. Also the user-input entry points both backends (and tests) use.
#pragma once

#include <windows.h>

#include "kernel32/Kernel32Internal.h"
#include "user32/Backend.h"

#include <memory>
#include <string>
#include <vector>

namespace velmora::platform {

using kernel32::CopyCut;
using kernel32::EqualNoCase;
using kernel32::Fail;
using kernel32::WideString;
using kernel32::WideToUtf8;

// Non-client metrics of a window with WS_CAPTION and a fixed (non-sizing) frame, as the
// classic Windows metrics give them: the client area is the outer size minus these.
constexpr int kFixedFrameWidth = 3;
constexpr int kCaptionHeight = 23;

struct WindowClass {
    std::u16string name;
    UINT style = 0;
    WNDPROC procedure = nullptr;
    HINSTANCE instance = nullptr;
    HICON icon = nullptr;
    HCURSOR cursor = nullptr;
    HBRUSH background = nullptr;
    ControlKind kind = ControlKind::Child; // what a window of this class is drawn as
};

// The fields a built-in control keeps of its own (see ControlProc).
struct ControlState {
    virtual ~ControlState() = default;
};

struct Window {
    HWND handle = nullptr;
    const WindowClass* windowClass = nullptr;
    ControlKind kind = ControlKind::Child;
    HWND parent = nullptr;
    DWORD style = 0;   // WS_VISIBLE and WS_DISABLED are the window's own state, as on Windows
    DWORD exStyle = 0; // likewise WS_EX_TOPMOST
    int x = 0, y = 0, width = 0, height = 0; // relative to the parent's client area
    int id = 0;
    std::u16string text;
    bool destroying = false;
    std::vector<HWND> children;
    std::unique_ptr<ControlState> state; // a built-in control's own (see ControlProc)
    void* native = nullptr;              // the backend's own object

    bool visible() const { return (style & WS_VISIBLE) != 0; }
    bool enabled() const { return (style & WS_DISABLED) == 0; }
    bool topMost() const { return (exStyle & WS_EX_TOPMOST) != 0; }
};

// Lookup. Null for a handle that is not (or no longer) a window.
Window* FindWindowRecord(HWND window);
std::vector<Window*> TopLevelWindows();

// The window procedure of a built-in control: its State is made at WM_NCCREATE and freed
// at WM_NCDESTROY (as Windows keeps a control's fields in the window's extra bytes); in
// between, State::Message answers the messages, passing what it does not handle to
// DefWindowProcW.
template <class State>
LRESULT CALLBACK ControlProc(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    Window* window = FindWindowRecord(handle);
    if (window && message == WM_NCCREATE)
        window->state = std::make_unique<State>();
    else if (window && message == WM_NCDESTROY)
        window->state.reset();
    auto* state = window ? static_cast<State*>(window->state.get()) : nullptr;
    return state ? state->Message(*window, message, wParam, lParam)
                 : DefWindowProcW(handle, message, wParam, lParam);
}

// Client size of a window (for a top-level: outer size minus caption and frame).
void ClientSize(const Window& window, int& width, int& height);

// Registers a system class ("LISTBOX", "AtlAxWin", ...) drawn as the given kind, unless it
// exists already.
void RegisterBuiltInClass(LPCWSTR name, WNDPROC procedure, ControlKind kind);

// The procedures of user32's own controls, each in its own file.
extern const WNDPROC ListBoxProc;
extern const WNDPROC ButtonProc;

// A control tells its parent what happened to it (WM_COMMAND with its id and the code).
void NotifyParent(const Window& control, WORD code);

// The keyboard (user32/Keyboard.cpp). A window going away loses the focus with it; a key
// taken from the queue updates the keys held down (Shift, for Shift+Tab), as on Windows the
// key state follows the messages the thread has retrieved.
void ForgetFocus(HWND window);
void NoteKeyRetrieved(const MSG& message);
void ResetKeyboard();

// Forgets every window, class and queued message (tests run the program several times in
// one process) and registers the built-in classes again. The backend stays installed.
void ResetWindowSystem();

// Dispatches every message queued now. Returns false when a quit message was met; it is
// put back so the next GetMessageW ends the loop (as a modal loop does on Windows).
bool DispatchQueuedMessages();

// Forgets every queued message and a quit not yet retrieved.
void ResetQueue();

// Private messages carrying user input into a control's procedure. They sit in the range
// Windows reserves for the system, so no program sends them by accident.
enum InputMessage : UINT {
    kInputClick = 0x03E0,        // a button was clicked
    kInputListSelect = 0x03E1,   // wParam = row clicked once
    kInputListActivate = 0x03E2, // wParam = row double-clicked
    kInputFocus = 0x03E3,        // the user put the focus in the window (a click)
};

// User input, as the window system delivers it: queued, then dispatched by the loop.
namespace input {
void Click(HWND button);
void ListSelect(HWND list, int row);
void ListDoubleClick(HWND list, int row);
void Close(HWND window); // the close box or the system menu's Close
// A key (VK_*) pressed or released in the top-level window: it goes to the focus window when
// that is the window or one inside it as the key is retrieved, else to the window itself.
// time: the key's own time, as GetMessageTime would give it.
void Key(HWND topLevel, UINT key, bool down, DWORD time = 0);
void Focus(HWND window);
} // namespace input

} // namespace velmora::platform
