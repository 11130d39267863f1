// The seam between user32 (windows, messages, built-in controls) and a window system.
// user32 keeps every window's state itself; a backend mirrors it on screen (GTK) or not
// at all (headless), and feeds user input back through the Input* functions of Windows.h.
#pragma once

#include <windows.h>

#include <string>

namespace velmora::platform {

struct Window;

enum class ControlKind {
    TopLevel,   // a window of a registered class without a parent
    Child,      // a child window of a registered class (drawn as an empty area)
    ListBox,    // "LISTBOX"
    PushButton, // "Button" with a push-button style
    CheckBox,   // "Button" with BS_CHECKBOX / BS_AUTOCHECKBOX
    Static,     // "Static"
    StatusBar,  // CreateStatusWindowW / "msctls_statusbar32"
    Browser,    // "AtlAxWin": hosts a web browser that loads the window text
};

struct MessageBoxRequest {
    HWND owner = nullptr;
    std::string text;    // UTF-8
    std::string caption; // UTF-8
    UINT style = 0;
};

// A message box while MessageBoxW's modal loop waits for it.
struct MessageBoxState {
    MessageBoxRequest request;
    int answer = 0;         // IDOK, IDYES, ...; 0 while unanswered
    void* native = nullptr; // the backend's own object
};

class Backend {
  public:
    virtual ~Backend() = default;

    // Windows. Create is called once the record is complete (before WM_CREATE is sent);
    // Destroy after WM_DESTROY, children first.
    virtual void Create(Window& window) = 0;
    virtual void Destroy(Window& window) = 0;
    virtual void Show(Window& window, bool visible) = 0;
    virtual void TextChanged(Window& window) = 0;
    virtual void EnabledChanged(Window& window) = 0;
    virtual void TopMostChanged(Window& window) = 0;

    // Built-in controls.
    virtual void ListReset(Window& list) = 0;
    virtual void ListAdd(Window& list, const std::string& utf8) = 0;
    virtual void ListSelectionChanged(Window& list) = 0;
    virtual void RedrawChanged(Window& window) = 0; // WM_SETREDRAW
    // InvalidateRect: the area (client coordinates; null = all) is to be painted again.
    virtual void Invalidate(Window& window, const RECT* area) = 0;
    virtual void CheckChanged(Window& button) = 0;

    // Browser host: whether a browser control can be created at all, and loading an
    // address (UTF-8) in it.
    virtual bool CanHostBrowser() { return true; }
    virtual void Navigate(Window& host, const std::string& url) = 0;

    // Message boxes. user32 runs the modal loop; a backend only shows the box and, when
    // the user answers, sets its answer and takes it off the screen at once (as EndDialog
    // hides a dialog before its loop unwinds: an outer box answered while a nested one is
    // up must not stay on screen). Hide takes away a box the loop left unanswered.
    virtual void ShowMessageBox(MessageBoxState& box) = 0;
    virtual void HideMessageBox(MessageBoxState& box) = 0;

    // Shell: open an address in the user's browser, for the owner window (may be null).
    // False when that failed.
    virtual bool OpenInBrowser(HWND owner, const std::string& url) = 0;

    // Blocks until the backend has put at least one message in the queue (user input)
    // or knows none will come. Returns false when no input can come any more.
    virtual bool WaitForInput() = 0;
};

// The backend that user32 drives. Must be set before the first window is created.
void SetBackend(Backend* backend);
Backend& CurrentBackend();
bool HasBackend();

} // namespace velmora::platform
