// A window system without a display: windows live only in user32's records. Tests drive
// it: they answer message boxes, feed input when the queue runs dry, and read back every
// navigation, browser hand-off and topmost change.
#pragma once

#include "user32/Backend.h"
#include "user32/WindowStore.h"

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace velmora::platform {

// Everything the program did that a user would see, in order: what tests read back.
struct HeadlessRecord {
    // A window as it was when user32 finished its record, before WM_CREATE reached it: the
    // creation order and the initial texts, which later messages may overwrite.
    struct CreatedWindow {
        HWND handle = nullptr;
        HWND parent = nullptr;
        std::string className; // UTF-8
        std::string text;      // UTF-8
        DWORD style = 0;
        DWORD exStyle = 0;
        int x = 0, y = 0, width = 0, height = 0;
        int id = 0;
    };
    struct TopMostChange {
        HWND window;
        bool topMost;
    };
    struct Invalidation {
        HWND window;
        bool whole; // no rectangle given
        RECT area;
    };

    std::vector<CreatedWindow> created;          // every window, in creation order
    std::vector<MessageBoxRequest> messageBoxes; // every box shown
    std::vector<std::string> navigations;        // every address a browser host loaded
    std::vector<std::string> frameNavigations;   // every address a frame inside a page loaded
    std::vector<std::string> newWindows;         // every new window a page was allowed to open
    std::vector<std::string> downloads;          // every file a page was allowed to save
    std::vector<std::string> errorPages;         // every failed load the control showed its
                                                 // own error page for
    std::vector<std::string> openedInBrowser;    // every address ShellExecuteW was asked to open
    std::vector<HWND> openedInBrowserOwners;     // ... and the owner window given with it
    std::vector<TopMostChange> topMostChanges;
    std::vector<Invalidation> invalidations;
    int listRowsAdded = 0;
    std::vector<UINT> pageKeys; // every key (VK_*) a browser host's page was offered first
};

// Installs itself, with a clean window system, as the backend for its lifetime.
class HeadlessBackend final : public Backend, public HeadlessRecord {
  public:
    HeadlessBackend();
    ~HeadlessBackend() override;
    HeadlessBackend(const HeadlessBackend&) = delete;
    HeadlessBackend& operator=(const HeadlessBackend&) = delete;

    // Called when the message queue is empty. Perform one input (input::Click, ...) and
    // return true, or return false when there is nothing more to do: the backend then
    // closes the top-level windows, as a user would, so no run can hang.
    std::function<bool()> onIdle;
    // Answers a message box as it opens. Without it, boxes are answered IDOK (or IDNO for
    // yes/no). Returning 0 leaves the box up: Answer it later, e.g. from onIdle.
    std::function<int(const MessageBoxRequest&)> onMessageBox;

    bool browserAvailable = true; // false: AtlAxGetControl finds no control
    // Addresses whose load fails, with the StatusCode of the failure: an INET_E_* code (the
    // site cannot be reached) or an HTTP status (the site answers with an error page). A
    // failed top-level load fires NavigateError when it would commit: unless a sink cancels,
    // an HTTP error commits the site's page and any other failure shows the control's own
    // error page (recorded, nothing committed). A res: address naming no resource of the
    // program fails as on Windows.
    std::map<std::string, HRESULT> loadErrors;
    bool browserOpenSucceeds = true;
    bool pageTakesKeys = false; // the page uses every key offered to it

    std::vector<MessageBoxState*> openBoxes; // the boxes on screen now, innermost last
    // The user answers a box on screen: it goes away at once.
    void Answer(MessageBoxState& box, int answer);

    // The page in a browser host navigates one of its frames (a link clicked, a script, an
    // iframe), asks for a new window, or follows a link whose answer is a file to save: the
    // control's events fire first, and a navigation, window or download a sink cancels never
    // happens. A top-level load (the program's or the page's) commits once the message queue
    // has run dry, before the next onIdle, as a page arrives from the network after the call
    // that asked for it; a frame's load is only recorded (and fires NavigateError at once when
    // its address is in loadErrors).
    void PageNavigates(HWND host, const std::string& url,
                       browser::Frame frame = browser::Frame::Top);
    void PageOpensWindow(HWND host, const std::string& url);
    void PageDownloads(HWND host, const std::string& url);

    void Create(Window& window) override;
    void Destroy(Window& window) override;
    void TopMostChanged(Window& window) override;
    void Invalidate(Window& window, const RECT* area) override {
        invalidations.push_back({window.handle, area == nullptr, area ? *area : RECT{}});
    }
    void ListAdd(Window&, const std::string&) override { ++listRowsAdded; }
    bool ForwardKeyToPage(Window&, const MSG& key) override {
        if (key.message == WM_KEYDOWN)
            pageKeys.push_back((UINT)key.wParam);
        return pageTakesKeys;
    }
    bool CanHostBrowser() override { return browserAvailable; }
    void Navigate(Window& host, const std::string& url) override;
    void ShowMessageBox(MessageBoxState& box) override;
    void HideMessageBox(MessageBoxState& box) override;
    bool OpenInBrowser(HWND owner, const std::string& url) override;
    bool WaitForInput() override;

  private:
    HRESULT FailureOf(const std::string& url) const;
    void Commit(HWND host, const std::string& url);

    std::deque<std::pair<HWND, std::string>> loading_; // the host and address of each load
    std::map<HWND, std::string> shown_;                // the committed address of each host
    std::set<HWND> closeRequested_;
    int idleWithoutInput_ = 0;
};

} // namespace velmora::platform
