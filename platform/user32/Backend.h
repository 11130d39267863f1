// The seam between the window DLLs (user32, comctl32, atl, shell32) and a window system.
// They keep every window's state themselves and tell the backend of each change; a backend
// shows it on screen (GTK) or not at all (headless), and feeds user input back through
// velmora::platform::input (user32/WindowStore.h).
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
    Browser,    // "AtlAxWin": hosts a web browser
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

    // Windows. Create is called once the record is complete (before WM_NCCREATE is sent);
    // Destroy after WM_NCDESTROY (or when the window system is reset), children first. What
    // a backend does not show it need not override.
    virtual void Create(Window& window) = 0;
    virtual void Destroy(Window& window) = 0;
    virtual void Show(Window& /*window*/, bool /*visible*/) {}
    virtual void TextChanged(Window& /*window*/) {}
    virtual void EnabledChanged(Window& /*window*/) {}
    virtual void TopMostChanged(Window& window) = 0;
    // InvalidateRect: the area (client coordinates; null = all) is to be painted again.
    virtual void Invalidate(Window& window, const RECT* area) = 0;

    // Built-in controls: what each one shows, as its procedure changes it.
    virtual void ListReset(Window& /*list*/) {} // no rows, nothing selected
    virtual void ListAdd(Window& list, const std::string& utf8) = 0;
    virtual void ListSelectionChanged(Window& /*list*/, int /*row*/) {}  // -1: none
    virtual void ListRedrawChanged(Window& /*list*/, bool /*redraw*/) {} // WM_SETREDRAW
    virtual void CheckChanged(Window& /*checkBox*/, bool /*checked*/) {}

    // The keyboard focus moved to window; null: to no control (a top-level window's own).
    virtual void FocusChanged(Window* /*window*/) {}
    // A browser host's page takes a key before the dialog keys do (the host's WM_FORWARDMSG):
    // true when the page used it.
    virtual bool ForwardKeyToPage(Window& host, const MSG& key) = 0;

    // Browser host: whether a browser control can be created at all, and loading an
    // address (UTF-8) in it. The control has fired BeforeNavigate2 for it already; a backend
    // reports the page's own navigations through the browser:: calls below.
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

// What a browser host's page does, as its backend reports it (UTF-8 addresses). The ATL
// host (atl/Atl.cpp) fires the control's DWebBrowserEvents2 at its sinks.
namespace browser {
// Which frame of the page navigates: the control names a frame's navigation by the frame's own
// object in pDisp, the top-level frame's by the control itself.
enum class Frame { Top, Inner };
// A frame is about to load url (a link, a script, a redirect, an iframe). False: a sink
// cancelled it, and the backend must not load it.
bool BeforeNavigate(HWND host, const std::string& url, Frame frame);
// The top-level frame's document for url is committed (the address shown).
void NavigateComplete(HWND host, const std::string& url);
// The page asks for a new window showing url, from the page at context. False: a sink
// cancelled it, and no window may be made.
bool NewWindow(HWND host, const std::string& url, const std::string& context);
// The top-level frame's answer is a file to save rather than a document to show
// (FileDownload, ActiveDocument false). False: a sink cancelled the download.
bool FileDownload(HWND host);
// Loading url failed: status is the HTTP status or the INET_E_* code of the failure
// (NavigateError). False: a sink cancelled, and the backend must show nothing of its own.
bool NavigateError(HWND host, const std::string& url, Frame frame, HRESULT status);
// The page a res: address of the control names ("res://<program file>/<name>", the name of
// an HTML resource of the program), or nothing: no other file's resources are served.
const std::string* ResourcePage(const std::string& url);
} // namespace browser

// The backend that user32 drives. Must be set before the first window is created.
void SetBackend(Backend* backend);
Backend& CurrentBackend();
bool HasBackend();

} // namespace velmora::platform
