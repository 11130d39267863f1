// The browser host ("AtlAxWin"): a frame that gets its web view, from the WebKit module,
// once the window is on screen. Making the view starts WebKit's processes, and a window
// holding one is not drawn until its web process has answered, so the list, the buttons
// and the notice would wait for WebKit. An address asked for meanwhile is loaded as soon as
// the view is there.
#include "backends/gtk/GtkControl.h"

#include "backends/gtk/WebKitModule.h"
#include "kernel32/Kernel32Internal.h"

#include <stdio.h>
#include <stdlib.h>

#include <set>
#include <string>
#include <utility>

namespace velmora::platform {
namespace {

// A window that is not on screen by then waits for something else (a first-run message box
// shown before it): the page starts loading behind it, as it does on Windows.
const guint kLatestViewMs = 1000;

const BrowserEvents kEvents = {browser::BeforeNavigate, browser::NavigateComplete,
                               browser::NewWindow,      browser::FileDownload,
                               browser::NavigateError,  browser::ResourcePage};

const WebKitModule& Module() {
    static const WebKitModule* module = [] {
        std::string why;
        void* entry = velmora::kernel32::ModuleEntryBesideProgram(VELMORA_WEBKIT_MODULE,
                                                                  "velmora_webkit_module", why);
        if (!entry) {
            // The package installs it with the program: only a broken installation gets here.
            fprintf(stderr, "velmora-player: cannot load the web view: %s\n", why.c_str());
            abort();
        }
        return reinterpret_cast<decltype(&velmora_webkit_module)>(entry)();
    }();
    return *module;
}

struct BrowserHost;
std::set<BrowserHost*> hosts; // for RepaintPausedVideos

struct BrowserHost final : GtkControl {
    GtkWidget* view = nullptr;
    std::string pendingUrl;
    gulong drawn = 0;
    guint source = 0; // the deadline, then the idle call that makes the view

    BrowserHost() { hosts.insert(this); }
    ~BrowserHost() override {
        hosts.erase(this);
        g_clear_handle_id(&source, g_source_remove);
        g_clear_signal_handler(&drawn, widget);
    }
    void Navigate(const std::string& url) override {
        if (view)
            Module().load(view, url);
        else
            pendingUrl = url; // a later address replaces an earlier one
    }
    GtkWidget* FocusWidget() override { return view; }
};

gboolean MakeView(gpointer data) {
    auto* host = static_cast<BrowserHost*>(data);
    host->source = 0;
    g_clear_signal_handler(&host->drawn, host->widget);
    // What the window has drawn reaches the screen before WebKit takes its time.
    gdk_display_flush(gtk_widget_get_display(host->widget));
    host->view = Module().makeView(host->handle, kEvents);
    gtk_container_add(GTK_CONTAINER(host->widget), host->view);
    gtk_widget_show(host->view);
    if (!host->pendingUrl.empty())
        Module().load(host->view, std::exchange(host->pendingUrl, std::string()));
    return G_SOURCE_REMOVE;
}

// The frame is drawn with the window it is in, when that window is on screen: the view is
// made once the drawing is done.
gboolean OnDrawn(GtkWidget* frame, cairo_t*, gpointer data) {
    auto* host = static_cast<BrowserHost*>(data);
    g_clear_signal_handler(&host->drawn, frame);
    g_source_remove(host->source);
    host->source = g_idle_add(MakeView, host);
    return FALSE;
}

} // namespace

void RepaintPausedVideos() {
    for (BrowserHost* host : hosts)
        if (host->view)
            Module().repaintPausedVideos(host->view);
}

GtkControl* NewBrowserHost(Window&) {
    auto* host = new BrowserHost;
    host->widget = gtk_frame_new(nullptr);
    gtk_frame_set_shadow_type(GTK_FRAME(host->widget), GTK_SHADOW_IN);
    host->drawn = g_signal_connect_after(host->widget, "draw", G_CALLBACK(OnDrawn), host);
    host->source = g_timeout_add(kLatestViewMs, MakeView, host);
    return host;
}

} // namespace velmora::platform
