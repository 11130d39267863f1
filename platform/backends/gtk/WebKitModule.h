// The WebKit side of the GTK backend: a module of its own (backends/webkit/), linked against
// WebKitGTK and installed beside the program, which opens it when the first browser host
// makes its web view. WebKitGTK and the hundred-odd libraries it needs take longer to load
// than GTK takes to put the whole window on screen.
#pragma once

#include <gtk/gtk.h>

#include <string>

#include "user32/Backend.h"

namespace velmora::platform {

// What a web view reports to its host window: the browser:: calls of user32/Backend.h. They
// live in the program, and are handed to the module rather than linked into it twice.
struct BrowserEvents {
    bool (*beforeNavigate)(HWND host, const std::string& url, browser::Frame frame);
    void (*navigateComplete)(HWND host, const std::string& url);
    bool (*newWindow)(HWND host, const std::string& url, const std::string& context);
    bool (*fileDownload)(HWND host);
    bool (*navigateError)(HWND host, const std::string& url, browser::Frame frame, HRESULT status);
    const std::string* (*resourcePage)(const std::string& url);
};

struct WebKitModule {
    // A web view for host. It reports the page's navigations, new-window requests, committed
    // documents, files to save and failed loads to events, and drops those a sink cancels; it
    // never saves a file itself, and shows the program's pages at res: addresses. Put it in a
    // top-level window's client area, in a GtkFrame.
    GtkWidget* (*makeView)(HWND host, const BrowserEvents& events);
    // Loads an address the control has already announced (BeforeNavigate2 fired for it).
    void (*load)(GtkWidget* view, const std::string& url);
    // A paused or ended video in the page paints its frame again where a window covered it
    // (WebKit leaves that area blank until the video plays).
    void (*repaintPausedVideos)(GtkWidget* view);
};

} // namespace velmora::platform

// The module's one exported symbol.
extern "C" const velmora::platform::WebKitModule* velmora_webkit_module();
