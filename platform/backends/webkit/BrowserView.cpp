// The web view behind a browser host, in the WebKit module (see backends/gtk/WebKitModule.h).
#include "backends/gtk/WebKitModule.h"

#include "backends/webkit/LoadFailure.h"
#include "backends/webkit/MediaFailure.h"

#include <gmodule.h>
#include <webkit2/webkit2.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

namespace velmora::platform {
namespace {

// WebKit does not paint a paused video again once something has covered it (a message box,
// fullscreen ending): its box stays empty until it plays again.
// - Paused: a seek to the same place decodes the frame again and paints it. The page is not
//   told of that seek: its handlers would take it for the user's.
// - Ended: a seek paints nothing there. A fresh copy of the element (with the same sound
//   settings, ready to play from the start as the ended one was) shows the last frame as its
//   poster until it plays.
const char kRepaintPausedVideos[] = R"js(
(function () {
    function seekUnseen(video) {
        window.addEventListener('seeking', function unseen(event) {
            if (event.target !== video)
                return;
            window.removeEventListener('seeking', unseen, true);
            event.stopImmediatePropagation();
        }, true);
        video.currentTime += 0.001;
    }
    function frameOf(video) {
        try {
            var canvas = document.createElement('canvas');
            canvas.width = video.videoWidth;
            canvas.height = video.videoHeight;
            canvas.getContext('2d').drawImage(video, 0, 0);
            return canvas.toDataURL();
        } catch (e) {
            return ''; // a frame from another site cannot be read: the first frame shows
        }
    }
    function renew(video) {
        var fresh = video.cloneNode(true);
        fresh.autoplay = false;
        fresh.poster = frameOf(video);
        fresh.muted = video.muted;
        fresh.volume = video.volume;
        video.parentNode.replaceChild(fresh, video);
    }
    for (const video of document.querySelectorAll('video')) {
        if (!video.paused || video.readyState < HTMLMediaElement.HAVE_METADATA)
            continue;
        if (video.played.length === 0 && video.poster)
            continue; // shows its poster, an image WebKit paints again by itself
        if (video.ended)
            renew(video);
        else
            seekUnseen(video);
    }
})();
)js";

// What one web view keeps, made with it and freed with it.
struct BrowserView {
    WebKitWebView* view = nullptr;
    HWND host = nullptr;
    const BrowserEvents* events = nullptr;
    // The address the view loads itself (whose BeforeNavigate2 the control fired before asking
    // for it, so WebKit's decision on it is not announced again), and the address of the
    // top-level navigation last reported that has not shown yet: only its answer, should it be
    // a file, is reported as FileDownload.
    std::string ownLoad;
    std::string topLevelPending;

    // HTML5 fullscreen. WebKit makes the top-level window fullscreen, but that window is a
    // fixed-size box whose client area is laid out by hand: the web view keeps its place and
    // size, so the video would not fill the screen. While fullscreen lasts, the web view
    // alone covers the screen; afterwards every control and the window itself go back as
    // they were.
    bool fullscreen = false;
    bool restoreWindow = false; // once the window manager has left fullscreen
    int frameX = 0, frameY = 0, frameWidth = 0, frameHeight = 0;
    int windowX = 0, windowY = 0;
    bool keepAbove = false;
    bool watchingWindow = false;
    std::vector<GtkWidget*> hidden; // the controls hidden while the video fills the screen
};

const char kBrowserViewKey[] = "velmora-browser-view";

BrowserView* BrowserViewOf(WebKitWebView* view) {
    return static_cast<BrowserView*>(g_object_get_data(G_OBJECT(view), kBrowserViewKey));
}

void RepaintPausedVideos(GtkWidget* view) {
    webkit_web_view_evaluate_javascript(WEBKIT_WEB_VIEW(view), kRepaintPausedVideos, -1, nullptr,
                                        nullptr, nullptr, nullptr, nullptr);
}

gboolean OnWindowState(GtkWidget* top, GdkEventWindowState* event, gpointer view) {
    BrowserView& state = *BrowserViewOf(WEBKIT_WEB_VIEW(view));
    if (!state.restoreWindow || (event->new_window_state & GDK_WINDOW_STATE_FULLSCREEN))
        return FALSE;
    state.restoreWindow = false;
    GtkWidget* frame = gtk_widget_get_parent(GTK_WIDGET(view));
    GtkWidget* layout = gtk_widget_get_parent(frame);
    gtk_widget_set_size_request(frame, state.frameWidth, state.frameHeight);
    gtk_layout_move(GTK_LAYOUT(layout), frame, state.frameX, state.frameY);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_IN);
    for (GtkWidget* widget : state.hidden)
        gtk_widget_show(widget);
    state.hidden.clear();
    gtk_window_set_resizable(GTK_WINDOW(top), FALSE);
    gtk_window_move(GTK_WINDOW(top), state.windowX, state.windowY);
    gtk_window_set_keep_above(GTK_WINDOW(top), state.keepAbove);
    RepaintPausedVideos(GTK_WIDGET(view));
    return FALSE;
}

gboolean OnEnterFullscreen(WebKitWebView* view, gpointer data) {
    BrowserView& state = *static_cast<BrowserView*>(data);
    GtkWidget* frame = gtk_widget_get_parent(GTK_WIDGET(view));
    GtkWidget* layout = frame ? gtk_widget_get_parent(frame) : nullptr;
    GtkWidget* top = gtk_widget_get_toplevel(GTK_WIDGET(view));
    if (!layout || !GTK_IS_LAYOUT(layout) || !gtk_widget_is_toplevel(top) || state.fullscreen)
        return FALSE;
    state.fullscreen = true;
    state.restoreWindow = false;
    if (!state.watchingWindow) {
        state.watchingWindow = true;
        g_signal_connect_object(top, "window-state-event", G_CALLBACK(OnWindowState), view,
                                GConnectFlags(0));
    }

    GdkWindow* topWindow = gtk_widget_get_window(top);
    gtk_window_get_position(GTK_WINDOW(top), &state.windowX, &state.windowY);
    state.keepAbove = (gdk_window_get_state(topWindow) & GDK_WINDOW_STATE_ABOVE) != 0;
    gtk_container_child_get(GTK_CONTAINER(layout), frame, "x", &state.frameX, "y", &state.frameY,
                            nullptr);
    gtk_widget_get_size_request(frame, &state.frameWidth, &state.frameHeight);

    state.hidden.clear();
    g_autoptr(GList) children = gtk_container_get_children(GTK_CONTAINER(layout));
    for (GList* child = children; child; child = child->next) {
        GtkWidget* widget = GTK_WIDGET(child->data);
        if (widget != frame && gtk_widget_get_visible(widget)) {
            state.hidden.push_back(widget);
            gtk_widget_hide(widget);
        }
    }

    GdkRectangle screen{};
    gdk_monitor_get_geometry(
        gdk_display_get_monitor_at_window(gtk_widget_get_display(top), topWindow), &screen);
    gtk_frame_set_shadow_type(GTK_FRAME(frame), GTK_SHADOW_NONE);
    gtk_layout_move(GTK_LAYOUT(layout), frame, 0, 0);
    gtk_widget_set_size_request(frame, screen.width, screen.height);
    // A fixed-size window cannot be made larger than its size.
    gtk_window_set_resizable(GTK_WINDOW(top), TRUE);
    return FALSE; // WebKit goes on and makes the window fullscreen
}

gboolean OnLeaveFullscreen(WebKitWebView*, gpointer data) {
    BrowserView& state = *static_cast<BrowserView*>(data);
    // Everything comes back at once when the window manager has taken the window out of
    // fullscreen, which WebKit asks for after this handler, so the controls never show in
    // a fullscreen window.
    state.restoreWindow = state.fullscreen;
    state.fullscreen = false;
    return FALSE;
}

// WebKit escapes what an address may not hold as it is (a space, Chinese characters in the
// program's path in a res: address): the address it decides on is the one asked for.
bool SameAddress(const std::string& decided, const std::string& asked) {
    if (decided == asked)
        return true;
    g_autofree gchar* plainDecided = g_uri_unescape_string(decided.c_str(), nullptr);
    g_autofree gchar* plainAsked = g_uri_unescape_string(asked.c_str(), nullptr);
    return plainDecided && plainAsked && strcmp(plainDecided, plainAsked) == 0;
}

bool DecideNavigation(BrowserView& state, WebKitNavigationAction* action, bool newWindow) {
    const char* uri = webkit_uri_request_get_uri(webkit_navigation_action_get_request(action));
    std::string url = uri ? uri : "";
    if (newWindow) {
        const char* context = webkit_web_view_get_uri(state.view);
        return state.events->newWindow(state.host, url, context ? context : "");
    }
    if (!state.ownLoad.empty() && SameAddress(url, state.ownLoad) &&
        !webkit_navigation_action_is_redirect(action) &&
        webkit_navigation_action_get_navigation_type(action) == WEBKIT_NAVIGATION_TYPE_OTHER) {
        state.ownLoad.clear();
        state.topLevelPending = url;
        return true;
    }
    // WebKit does not say which frame a navigation is for. The viewer's own navigations (a
    // link clicked, a form sent, and their redirects: WebKit's user gesture) are taken for the
    // top-level frame's, and every other one for a frame's, the side on which nothing leaves
    // the player. So a top-level navigation without a gesture counts as a frame's (a script's,
    // a timer's or a meta refresh's, and redirects of the player's own loads), and a link the
    // viewer clicks inside a frame of the site counts as the top level's.
    browser::Frame frame = webkit_navigation_action_is_user_gesture(action) ? browser::Frame::Top
                                                                            : browser::Frame::Inner;
    if (!state.events->beforeNavigate(state.host, url, frame))
        return false;
    if (frame == browser::Frame::Top)
        state.topLevelPending = url;
    return true;
}

// Whether WebKit would save this answer rather than show it: a type it cannot show, or one
// the site marks as an attachment (the disposition type, as WebKit reads it).
bool IsFileToSave(WebKitResponsePolicyDecision* decision) {
    if (!webkit_response_policy_decision_is_mime_type_supported(decision))
        return true;
    SoupMessageHeaders* headers = webkit_uri_response_get_http_headers(
        webkit_response_policy_decision_get_response(decision));
    const char* disposition =
        headers ? soup_message_headers_get_one(headers, "Content-Disposition") : nullptr;
    if (!disposition)
        return false;
    std::string type(disposition, strcspn(disposition, ";"));
    type.erase(0, type.find_first_not_of(" \t"));
    type.erase(type.find_last_not_of(" \t") + 1);
    return g_ascii_strcasecmp(type.c_str(), "attachment") == 0;
}

// The embedded browser never saves a file. An answer to save is dropped before WebKit makes
// anything of it; when it answers the top-level navigation the viewer asked for, the control
// reports a FileDownload, so the program can hand the address to the user's browser. The
// host never saves, whatever the answer.
void ReportFileToSave(BrowserView& state, const char* uri) {
    if (!uri || state.topLevelPending.empty() || state.topLevelPending != uri)
        return;
    state.topLevelPending.clear();
    state.events->fileDownload(state.host);
}

bool DecideResponse(BrowserView& state, WebKitResponsePolicyDecision* decision) {
    if (!IsFileToSave(decision))
        return true;
    if (webkit_response_policy_decision_is_main_frame_main_resource(decision))
        ReportFileToSave(state, webkit_uri_request_get_uri(
                                    webkit_response_policy_decision_get_request(decision)));
    return false;
}

gboolean OnDecidePolicy(WebKitWebView*, WebKitPolicyDecision* decision,
                        WebKitPolicyDecisionType type, gpointer data) {
    BrowserView& state = *static_cast<BrowserView*>(data);
    bool allowed = type == WEBKIT_POLICY_DECISION_TYPE_RESPONSE
                       ? DecideResponse(state, WEBKIT_RESPONSE_POLICY_DECISION(decision))
                       : DecideNavigation(state,
                                          webkit_navigation_policy_decision_get_navigation_action(
                                              WEBKIT_NAVIGATION_POLICY_DECISION(decision)),
                                          type == WEBKIT_POLICY_DECISION_TYPE_NEW_WINDOW_ACTION);
    if (allowed)
        return FALSE; // WebKit's own decision (a new window still needs a "create" handler,
                      // and there is none: no window is made)
    webkit_policy_decision_ignore(decision);
    return TRUE;
}

// Behind the answers dropped above, a download WebKit starts by itself (a link with a
// download attribute, a blob or data address) is cancelled before it has a file.
gboolean OnDecideDestination(WebKitDownload* download, gchar*, gpointer) {
    webkit_download_cancel(download);
    return TRUE; // no file is chosen
}

void OnDownloadStarted(WebKitWebContext*, WebKitDownload* download, gpointer) {
    g_signal_connect(download, "decide-destination", G_CALLBACK(OnDecideDestination), nullptr);
    webkit_download_cancel(download);
    WebKitWebView* view = webkit_download_get_web_view(download);
    if (BrowserView* state = view ? BrowserViewOf(view) : nullptr)
        ReportFileToSave(*state, webkit_uri_request_get_uri(webkit_download_get_request(download)));
}

void OnLoadChanged(WebKitWebView* view, WebKitLoadEvent event, gpointer data) {
    if (event != WEBKIT_LOAD_COMMITTED)
        return;
    BrowserView& state = *static_cast<BrowserView*>(data);
    state.topLevelPending.clear();
    const char* uri = webkit_web_view_get_uri(view);
    state.events->navigateComplete(state.host, uri ? uri : "");
}

// A failed top-level load is reported as NavigateError before WebKit shows its own error page,
// which it shows only when no sink cancelled.
gboolean OnLoadFailed(WebKitWebView*, WebKitLoadEvent, gchar* uri, GError* error, gpointer data) {
    BrowserView& state = *static_cast<BrowserView*>(data);
    HRESULT status = StatusOfLoadFailure(error);
    if (status == S_OK)
        return FALSE;
    state.topLevelPending.clear();
    return !state.events->navigateError(state.host, uri ? uri : "", browser::Frame::Top, status);
}

// The web process runs in WebKit's sandbox (bubblewrap), so a page that finds a hole in the
// engine cannot read the viewer's files. Where bubblewrap cannot start (not installed, or the
// kernel refuses the namespaces it makes) WebKit ends the whole program when it first starts
// a web process, so a bare run of it decides first: without it the player says so once and
// goes on unsandboxed.
bool SandboxCanStart() {
    const char probe[] = "/usr/bin/bwrap --unshare-pid --unshare-net --unshare-ipc --unshare-uts "
                         "--ro-bind / / --proc /proc --dev /dev true";
    g_autofree gchar* output = nullptr;
    g_autofree gchar* errors = nullptr;
    gint status = 0;
    g_autoptr(GError) error = nullptr;
    bool ran = g_spawn_command_line_sync(probe, &output, &errors, &status, &error) &&
               g_spawn_check_wait_status(status, &error);
    if (!ran) {
        std::string why = errors && *errors ? errors : error->message;
        fprintf(stderr, "velmora-player: web pages run without WebKit's sandbox: %s\n",
                why.substr(0, why.find('\n')).c_str());
    }
    return ran;
}

// One web context for the program. It keeps no earlier pages or resources in memory (the
// player shows one page at a time), and its web process gives memory back from 33 MB on:
// over an evening of episodes it would otherwise grow by several megabytes an episode.
// Checked every 10 s, not every second: a playing HD video alone keeps the web process
// above the limit, and each release throws away what the next frames need again (more
// CPU, fewer frames shown); an evening grows no more for it.
WebKitWebContext* PlayerWebContext(const BrowserEvents& events) {
    static WebKitWebContext* context = [&] {
        g_autoptr(WebKitMemoryPressureSettings) pressure = webkit_memory_pressure_settings_new();
        webkit_memory_pressure_settings_set_memory_limit(pressure, 100); // MB
        webkit_memory_pressure_settings_set_strict_threshold(pressure, 0.8);
        webkit_memory_pressure_settings_set_poll_interval(pressure, 10); // s
        WebKitWebContext* made = WEBKIT_WEB_CONTEXT(
            g_object_new(WEBKIT_TYPE_WEB_CONTEXT, "memory-pressure-settings", pressure, nullptr));
        webkit_web_context_set_cache_model(made, WEBKIT_CACHE_MODEL_DOCUMENT_VIEWER);
        webkit_web_context_set_sandbox_enabled(made, SandboxCanStart());
        g_signal_connect(made, "download-started", G_CALLBACK(OnDownloadStarted), nullptr);
        ServeResourcePages(made, events);
        return made;
    }();
    return context;
}

WebKitWebView* NewWebView(const BrowserEvents& events) {
    // Media, scripts and HTML5 fullscreen are on by default. The site's pages need nothing
    // the GPU would draw better; without it the web process sets up no OpenGL: 40 MB less
    // memory, and the first page is painted sooner.
    g_autoptr(WebKitSettings) settings = webkit_settings_new_with_settings(
        "media-playback-requires-user-gesture", FALSE, "hardware-acceleration-policy",
        WEBKIT_HARDWARE_ACCELERATION_POLICY_NEVER, nullptr);
    // The Windows control starts a video with sound on its own; WebKit's default only
    // starts muted ones.
    g_autoptr(WebKitWebsitePolicies) policies =
        webkit_website_policies_new_with_policies("autoplay", WEBKIT_AUTOPLAY_ALLOW, nullptr);
    g_autoptr(WebKitUserContentManager) content = webkit_user_content_manager_new();
    ReportMediaFailures(content);
    return WEBKIT_WEB_VIEW(g_object_new(WEBKIT_TYPE_WEB_VIEW, "settings", settings,
                                        "website-policies", policies, "user-content-manager",
                                        content, "web-context", PlayerWebContext(events), nullptr));
}

GtkWidget* MakeView(HWND host, const BrowserEvents& events) {
    auto* state = new BrowserView;
    state->view = NewWebView(events);
    state->host = host;
    state->events = &events;
    g_object_set_data_full(G_OBJECT(state->view), kBrowserViewKey, state,
                           [](gpointer data) { delete static_cast<BrowserView*>(data); });
    g_signal_connect(state->view, "enter-fullscreen", G_CALLBACK(OnEnterFullscreen), state);
    g_signal_connect(state->view, "leave-fullscreen", G_CALLBACK(OnLeaveFullscreen), state);
    g_signal_connect(state->view, "decide-policy", G_CALLBACK(OnDecidePolicy), state);
    g_signal_connect(state->view, "load-changed", G_CALLBACK(OnLoadChanged), state);
    g_signal_connect(state->view, "load-failed", G_CALLBACK(OnLoadFailed), state);
    return GTK_WIDGET(state->view);
}

void Load(GtkWidget* view, const std::string& url) {
    BrowserViewOf(WEBKIT_WEB_VIEW(view))->ownLoad = url;
    webkit_web_view_load_uri(WEBKIT_WEB_VIEW(view), url.c_str());
}

} // namespace
} // namespace velmora::platform

extern "C" G_MODULE_EXPORT const velmora::platform::WebKitModule* velmora_webkit_module() {
    static const velmora::platform::WebKitModule module = {velmora::platform::MakeView,
                                                           velmora::platform::Load,
                                                           velmora::platform::RepaintPausedVideos};
    return &module;
}
